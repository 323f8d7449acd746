#include "firmware_input.h"

#include "common/byte_view.h"

namespace fz {
namespace {

constexpr uint32_t kFSegment = 0xF0000;
constexpr uint32_t kFSize = 0x10000;
constexpr uint32_t kTopWindow = 0xFFFFFF00;
constexpr uint32_t kRomIdWindow = 0xFFFF0000;
constexpr uint32_t kMaxPciRecords = 64;
constexpr uint32_t kBiosTypes[] = {0, 2, 4, 5, 3, 1};

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  std::vector<uint8_t> Take(size_t n) {
    n = n < size - at ? n : size - at;
    std::vector<uint8_t> bytes(data + at, data + at + n);
    at += n;
    return bytes;
  }
};

// Written from an F-segment offset, never past the segment's end.
void WriteInFSegment(tb::Machine& m, uint32_t offset, const std::vector<uint8_t>& bytes) {
  size_t n = bytes.size() < kFSize - offset ? bytes.size() : kFSize - offset;
  m.memory.Write(kFSegment + offset, bytes.data(), n);
}

uint32_t FlashBytes(uint16_t selector) { return selector < 64 ? selector : selector * 16u; }

}  // namespace

std::vector<uint8_t> EncodeFirmware(const FirmwareSections& s) {
  std::vector<uint8_t> out = {s.family, s.flags};
  Put16(out, s.flashSize);
  Put16(out, s.otherType);
  Put16(out, s.otherType >> 16);
  Put16(out, s.fBase);
  Put16(out, s.pirOffset);
  const std::vector<uint8_t>* sections[] = {&s.smbiosTable, &s.pirArea, &s.flash, &s.top, &s.romId, &s.pci};
  for (const auto* section : sections) Put16(out, static_cast<uint32_t>(section->size()));
  for (const auto* section : sections) out.insert(out.end(), section->begin(), section->end());
  out.insert(out.end(), s.fsegment.begin(), s.fsegment.end());
  return out;
}

FirmwareSections DecodeFirmware(const uint8_t* data, size_t size) {
  FirmwareSections s;
  if (size < kFirmwareHeaderSize) return s;
  const orr::ByteView header(data, kFirmwareHeaderSize);
  s.family = header.U8(0);
  s.flags = header.U8(1);
  s.flashSize = header.U16(2);
  s.otherType = header.U32(4);
  s.fBase = header.U16(8);
  s.pirOffset = header.U16(10);
  Reader r{data, size, kFirmwareHeaderSize};
  std::vector<uint8_t>* sections[] = {&s.smbiosTable, &s.pirArea, &s.flash, &s.top, &s.romId, &s.pci};
  for (uint32_t i = 0; i < 6; ++i) *sections[i] = r.Take(header.U16(12 + 2 * i));
  s.fsegment = r.Take(size);
  return s;
}

tb::Machine MachineOf(const FirmwareSections& s) {
  tb::Machine m;
  BuildMachine(s, m);
  return m;
}

void BuildMachine(const FirmwareSections& s, tb::Machine& m) {
  m.platform = s.family & 0x80 ? tb::Platform::Win9x : tb::Platform::Nt;
  const uint32_t choice = s.family % 8;
  if (choice < 6)
    m.biosType = kBiosTypes[choice];
  else if (choice == 6)
    m.biosType = s.otherType;
  const uint32_t flashSize = FlashBytes(s.flashSize);
  if (s.flags & 1) m.flashSize = flashSize;
  m.freeFails = (s.flags & 2) != 0;
  if (s.flags & 0x20) m.reportedPlatform = tb::Platform::Win9x;
  m.versionCallFails = (s.flags & 0x40) && m.platform == tb::Platform::Nt;

  WriteInFSegment(m, s.fBase, s.fsegment);
  WriteInFSegment(m, s.pirOffset, s.pirArea);

  // The SMBIOS table goes where the F segment's first entry point puts it.
  const std::vector<uint8_t> f = m.memory.Read(kFSegment, kFSize);
  const orr::ByteView fview(f.data(), kFSize);
  const uint32_t anchor = fview.FindFirst(orr::MakeMarker("_SM_"), 0, 16, 0xFFF0);
  const uint32_t tableAddress = anchor == orr::kNotFound ? 0 : fview.U32(anchor + 0x18);
  if (anchor != orr::kNotFound) m.memory.Write(tableAddress, s.smbiosTable);

  const uint32_t flashStart = 0u - (flashSize ? flashSize : static_cast<uint32_t>(s.flash.size()));
  m.memory.Write(flashStart, s.flash.data(), s.flash.size() < 0u - flashStart ? s.flash.size() : 0u - flashStart);
  const uint32_t romIdBytes = s.romId.size() < 0x10000 ? static_cast<uint32_t>(s.romId.size()) : 0x10000;
  m.memory.Write(0u - romIdBytes, s.romId.data(), romIdBytes);
  m.memory.Write(kTopWindow, s.top.data(), s.top.size() < 0x100 ? s.top.size() : 0x100);

  const orr::ByteView pci(s.pci.data(), static_cast<uint32_t>(s.pci.size()));
  for (uint32_t i = 0; i < kMaxPciRecords && pci.Contains(i * kPciRecordSize, kPciRecordSize); ++i) {
    const uint32_t at = i * kPciRecordSize;
    tb::PciFunction fn;
    fn.bus = pci.U8(at);
    fn.device = pci.U8(at + 1) & 0x1F;
    fn.function = pci.U8(at + 2) & 0x07;
    fn.vendorId = pci.U16(at + 3);
    fn.deviceId = pci.U16(at + 5);
    fn.classCode = pci.U16(at + 7) | static_cast<uint32_t>(pci.U8(at + 9)) << 16;
    m.pci.push_back(fn);
  }

  // One mapping that fails, picked by the flags.
  const uint32_t failing[] = {kFSegment, flashStart, kTopWindow, kRomIdWindow, tableAddress & ~0xFFFu};
  const uint32_t pick = (s.flags >> 2) & 7;
  if (pick >= 1 && pick <= 5) m.failMapAt.insert(failing[pick - 1]);
}

}  // namespace fz
