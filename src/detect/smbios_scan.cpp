// romSizeCode from the BIOS information structure, logoFlags and onboardLan
// from the first system enclosure structure of the SMBIOS table.
#include "detect/smbios_scan.h"

#include "hwaccess/primitives.h"
#include "state/module_state.h"

namespace orr {
namespace {

constexpr Marker kAnchor = MakeMarker("_SM_");
constexpr uint32_t kAnchorStep = 16;
constexpr uint32_t kLastAnchor = 0xFFF0;
constexpr uint32_t kEntryMajor = 0x06;
constexpr uint32_t kEntryMinor = 0x07;
constexpr uint32_t kEntryTableLength = 0x16;
constexpr uint32_t kEntryTableAddress = 0x18;
constexpr uint32_t kEntryBcdRevision = 0x1E;
constexpr uint8_t kFirstVersionWithOemByte = 0x23;  // the chassis OEM-defined byte came with SMBIOS 2.3
constexpr uint32_t kPage = 0x1000;

constexpr uint8_t kTypeBiosInformation = 0;
constexpr uint8_t kTypeChassis = 3;
constexpr uint32_t kBiosRomSize = 9;
constexpr uint32_t kChassisOemByte = 13;

// 4 KiB when the table ends inside its first page, else 8 KiB; a table
// reaching further is mapped whole rather than walked in part.
uint32_t TableWindowLength(uint32_t pageOffset, uint32_t tableLength) {
  uint32_t reach = pageOffset + tableLength;
  if (reach < kPage) return kPage;
  if (reach <= 2 * kPage) return 2 * kPage;
  return (reach + kPage - 1) & ~(kPage - 1);
}

// table: the window from the table's first byte on. The table length only
// steers the walk (where a string set may start, how far strings and filler
// are skipped); the fields are read from the window, so a structure the
// length cuts still gives its bytes.
void WalkTable(ByteView table, uint32_t end, uint8_t version) {
  uint32_t at = 0;
  for (;;) {
    uint32_t strings = at + table.U8(at + 1);
    if (strings >= end) return;
    // Past each string and its NUL, up to the NUL that ends the set.
    uint32_t behind = strings;
    while (behind < end && table.U8(behind) != 0) behind += table.TextLength(behind, end - behind) + 1;

    const uint8_t type = table.U8(at);
    if (type == kTypeChassis && version >= kFirstVersionWithOemByte) {
      const uint8_t oem = table.U8(at + kChassisOemByte);
      MachineBios.logoFlags = oem & 0x07;
      MachineBios.onboardLan = (oem & 0x08) ? 1 : 0;
      return;
    }
    if (type == kTypeBiosInformation) MachineBios.romSizeCode = table.U8(at + kBiosRomSize);

    // Every NUL is filler: the next structure starts at the next non-NUL byte.
    while (behind < end && table.U8(behind) == 0) ++behind;
    if (behind >= end) return;
    at = behind;
  }
}

void ScanTable(uint32_t driver, uint32_t tableAddress, uint32_t tableLength, uint8_t version) {
  const uint32_t pageOffset = tableAddress & (kPage - 1);
  Window window = OpenHighWindow(driver, tableAddress & ~(kPage - 1), TableWindowLength(pageOffset, tableLength));
  if (window.address == 0) return;
  if (tableLength != 0) WalkTable(window.bytes.Sub(pageOffset), tableLength, version);
  // Released on both families: the 9x driver answers the release request too.
  UnmapPhysical(driver, window.address);
}

}  // namespace

void ScanSMBIOS(uint32_t driver) {
  MachineBios.logoFlags = 0;
  Window fsegment = OpenFSegment(driver);
  const ByteView f = fsegment.bytes;
  const uint32_t anchor = f.FindFirst(kAnchor, 0, kAnchorStep, kLastAnchor);
  // The table's length and address must lie in the window; a revision byte
  // beyond it reads 0, so the major and minor version decide.
  if (anchor != kNotFound && f.Contains(anchor, kEntryTableAddress + 4)) {
    uint8_t version = f.U8(anchor + kEntryBcdRevision);
    if (version == 0) version = static_cast<uint8_t>(f.U8(anchor + kEntryMajor) * 16 + f.U8(anchor + kEntryMinor));
    ScanTable(driver, f.U32(anchor + kEntryTableAddress), f.U16(anchor + kEntryTableLength), version);
  }
  CloseWindow(driver, fsegment);
}

}  // namespace orr
