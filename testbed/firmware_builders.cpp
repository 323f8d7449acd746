#include "firmware_builders.h"

#include <algorithm>
#include <numeric>

namespace tb {
namespace {

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Append(std::vector<uint8_t>& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0);
}

// The byte that makes the sum of the range 0.
uint8_t Checksum(const std::vector<uint8_t>& bytes, size_t from, size_t length) {
  uint8_t sum = std::accumulate(bytes.begin() + from, bytes.begin() + from + length, uint8_t{0});
  return static_cast<uint8_t>(0x100 - sum);
}

}  // namespace

SmbiosStructure SmbiosBiosInformation(uint8_t romSizeCode, const std::string& vendor, const std::string& version,
                                      const std::string& date) {
  // SMBIOS 2.4 layout: 0x18 bytes, ROM size at 9.
  SmbiosStructure s{0, 0x0000, std::vector<uint8_t>(0x18 - 4, 0), {vendor, version, date}};
  s.formatted[0] = 1;               // vendor string
  s.formatted[1] = 2;               // version string
  Put16(s.formatted, 2, 0xE000);    // starting segment
  s.formatted[4] = 3;               // release date string
  s.formatted[5] = romSizeCode;     // offset 9
  s.formatted[6] = 0x80;            // characteristics: PCI supported
  return s;
}

SmbiosStructure SmbiosChassis(uint8_t oemByte, const std::string& maker) {
  // SMBIOS 2.3 layout: 0x11 bytes; offset 13 is the OEM-defined byte.
  SmbiosStructure s{3, 0x0003, std::vector<uint8_t>(0x11 - 4, 0), {maker}};
  s.formatted[0] = 1;     // manufacturer string
  s.formatted[1] = 0x03;  // desktop
  s.formatted[5] = 0x03;  // boot-up state: safe
  s.formatted[6] = 0x03;  // power supply state: safe
  s.formatted[7] = 0x03;  // thermal state: safe
  s.formatted[8] = 0x02;  // security status: unknown
  s.formatted[9] = oemByte;
  return s;
}

SmbiosStructure SmbiosOther(uint8_t type, uint8_t formattedLength, std::vector<std::string> strings) {
  return SmbiosStructure{type, static_cast<uint16_t>(0x100 + type),
                         std::vector<uint8_t>(formattedLength > 4 ? formattedLength - 4 : 0, 0), std::move(strings)};
}

std::vector<uint8_t> SmbiosBytes(const SmbiosStructure& structure) {
  // Header and formatted area sized up front (inserting behind a 4-byte
  // vector trips a false -Warray-bounds in GCC 12 release builds).
  std::vector<uint8_t> bytes(4 + structure.formatted.size());
  bytes[0] = structure.type;
  bytes[1] = static_cast<uint8_t>(4 + structure.formatted.size());
  Put16(bytes, 2, structure.handle);
  std::copy(structure.formatted.begin(), structure.formatted.end(), bytes.begin() + 4);
  for (const std::string& s : structure.strings) Append(bytes, s);
  if (structure.strings.empty()) bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::vector<uint8_t> SmbiosTable(const std::vector<SmbiosStructure>& structures, bool endMarker) {
  std::vector<uint8_t> table;
  for (const SmbiosStructure& s : structures) {
    std::vector<uint8_t> bytes = SmbiosBytes(s);
    table.insert(table.end(), bytes.begin(), bytes.end());
  }
  if (endMarker) {
    std::vector<uint8_t> end = SmbiosBytes(SmbiosStructure{127, 0xFEFF, {}, {}});
    table.insert(table.end(), end.begin(), end.end());
  }
  return table;
}

std::vector<uint8_t> SmbiosEntryPoint(const SmbiosEntry& entry, uint16_t tableLength, uint16_t structureCount) {
  std::vector<uint8_t> ep(0x1F, 0);
  ep[0] = '_', ep[1] = 'S', ep[2] = 'M', ep[3] = '_';
  ep[0x05] = 0x1F;
  ep[0x06] = entry.major;
  ep[0x07] = entry.minor;
  Put16(ep, 0x08, 0x40);  // largest structure
  ep[0x10] = '_', ep[0x11] = 'D', ep[0x12] = 'M', ep[0x13] = 'I', ep[0x14] = '_';
  Put16(ep, 0x16, tableLength);
  Put32(ep, 0x18, entry.tableAddress);
  Put16(ep, 0x1C, structureCount);
  ep[0x1E] = entry.bcdRevision;
  ep[0x15] = Checksum(ep, 0x10, 0x0F);
  ep[0x04] = Checksum(ep, 0x00, 0x1F);
  return ep;
}

MachineBuilder& WriteSmbios(MachineBuilder& b, const SmbiosEntry& entry, const std::vector<uint8_t>& table) {
  uint16_t length = entry.tableLength ? *entry.tableLength : static_cast<uint16_t>(table.size());
  b.FSegmentBytes(entry.fsegmentOffset, SmbiosEntryPoint(entry, length, 0));
  return b.Bytes(entry.tableAddress, table);
}

std::vector<uint8_t> PirTable(const std::vector<PirSlot>& slots, std::optional<uint16_t> tableSize) {
  std::vector<uint8_t> t(32 + 16 * slots.size(), 0);
  t[0] = '$', t[1] = 'P', t[2] = 'I', t[3] = 'R';
  t[4] = 0x00, t[5] = 0x01;  // version 1.0
  Put16(t, 6, tableSize ? *tableSize : static_cast<uint16_t>(t.size()));
  t[9] = 0x1F << 3;  // interrupt router: device 31, function 0
  for (size_t i = 0; i < slots.size(); ++i) {
    size_t at = 32 + 16 * i;
    t[at] = slots[i].bus;
    t[at + 1] = static_cast<uint8_t>(slots[i].device << 3);
    for (int link = 0; link < 4; ++link) {
      t[at + 2 + 3 * link] = static_cast<uint8_t>(0x60 + link);  // link value
      Put16(t, at + 3 + 3 * link, 0xDEB8);                        // IRQ bitmap
    }
    t[at + 14] = slots[i].slot;
  }
  t[31] = Checksum(t, 0, t.size());
  return t;
}

MachineBuilder& WritePirTable(MachineBuilder& b, uint32_t fsegmentOffset, const std::vector<PirSlot>& slots,
                              std::optional<uint16_t> tableSize) {
  return b.FSegmentBytes(fsegmentOffset, PirTable(slots, tableSize));
}

std::vector<uint8_t> AmiRecordVersion1(uint16_t model, uint16_t idString, uint16_t date, uint16_t version) {
  std::vector<uint8_t> r = BytesOf("$ZANTAMI$");
  r.push_back(1);
  r.resize(18, 0);
  Put16(r, 10, model);
  Put16(r, 12, idString);
  Put16(r, 14, date);
  Put16(r, 16, version);
  return r;
}

std::vector<uint8_t> AmiRecordStrings(uint8_t version, const AmiTexts& texts) {
  std::vector<uint8_t> r = BytesOf("$ZANTAMI$");
  r.push_back(version);
  for (const std::string* text : {&texts.model, &texts.idString, &texts.date, &texts.version}) Append(r, *text);
  if (version >= 3) Append(r, texts.edition);
  if (version >= 4) Append(r, texts.description);
  if (version >= 5) Append(r, texts.build);
  return r;
}

MachineBuilder& WriteAmiRecordVersion1(MachineBuilder& b, uint32_t fsegmentOffset, const AmiTexts& texts) {
  uint32_t at = fsegmentOffset + 18;
  uint16_t offsets[4];
  const std::string* parts[4] = {&texts.model, &texts.idString, &texts.date, &texts.version};
  for (int i = 0; i < 4; ++i) {
    offsets[i] = static_cast<uint16_t>(at);
    b.FSegmentText(at, *parts[i]);
    at += static_cast<uint32_t>(parts[i]->size()) + 1;
  }
  return b.FSegmentBytes(fsegmentOffset, AmiRecordVersion1(offsets[0], offsets[1], offsets[2], offsets[3]));
}

MachineBuilder& WriteAmiRecordInFlash(MachineBuilder& b, uint32_t flashSize, uint32_t flashOffset, uint8_t version,
                                      const AmiTexts& texts) {
  return b.Bytes(0u - flashSize + flashOffset, AmiRecordStrings(version, texts));
}

MachineBuilder& WriteIdentityArea(MachineBuilder& b, const std::string& idString, const std::string& dateVersion,
                                  const std::string& modelTag) {
  b.FSegmentText(0xE0C1, idString);
  b.FSegmentText(0xEC70, dateVersion);
  return b.FSegmentText(0xECE0, modelTag);
}

MachineBuilder& WriteRomDescription(MachineBuilder& b, uint32_t markerOffset, uint16_t textOffset,
                                    const std::string& text) {
  std::vector<uint8_t> marker = BytesOf("$ZANTAWARD");
  marker.resize(20, 0);
  Put16(marker, 18, textOffset);
  b.FSegmentBytes(markerOffset, marker);
  return b.FSegmentText(textOffset, text);
}

}  // namespace tb
