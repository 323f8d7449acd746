// The SMBIOS scan: the entry point in the F segment, the table window, and
// the walk to the BIOS information and chassis structures, sound or not.
#include <gtest/gtest.h>

#include <tuple>

#include "detect/smbios_scan.h"
#include "detect_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tb::SmbiosEntry;

constexpr uint32_t kTable = 0x000E8000;
constexpr uint8_t kEarlierRomSize = 0xEE;

Bytes BiosAndChassis(uint8_t romSizeCode = 7, uint8_t oem = 0x0D) {
  return tb::SmbiosTable({tb::SmbiosBiosInformation(romSizeCode), tb::SmbiosOther(1, 0x1B, {"Zant", "RV5420"}),
                          tb::SmbiosChassis(oem)});
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A table of exactly `length` bytes whose chassis (OEM byte 0x0A) sits at
// its very end, so it is found only if the window covers the whole table.
Bytes TableOfLength(uint16_t length) {
  Bytes table = tb::SmbiosTable({tb::SmbiosBiosInformation(3)}, false);
  const Bytes chassis = tb::SmbiosBytes(tb::SmbiosChassis(0x0A));
  while (table.size() + 8 + 6 + chassis.size() <= length)
    table = Join({table, tb::SmbiosBytes(tb::SmbiosOther(0x80, 6))});
  const auto rest = static_cast<uint8_t>(length - table.size() - chassis.size() - 2);
  return Join({table, tb::SmbiosBytes(tb::SmbiosOther(0x81, rest)), chassis});
}

// A structure whose formatted area claims fewer than its 4 header bytes,
// then a chassis the walk must still reach.
Bytes ShortStructure(uint8_t length) {
  return Join({{0x01, length, 'X', 'Y', 0, 0}, tb::SmbiosBytes(tb::SmbiosChassis(0x0D)), {127, 4, 0, 0, 0, 0}});
}

uint16_t Size(const tb::SmbiosStructure& s) { return static_cast<uint16_t>(tb::SmbiosBytes(s).size()); }

// Every row starts from fields an earlier run left (logo 6, LAN 1, ROM size
// code 0xEE): the scan clears the logo, sets logo and LAN only from a
// chassis of SMBIOS 2.3 or later, the size code only from a BIOS
// information structure. `window` is the table mapping asked for at the
// table's page (0: none); every mapped window is released on both families.
TEST(Smbios, FindsTheEntryPointWalksTheTableAndReadsItsFields) {
  const auto Nt = tb::Platform::Nt, Win9x = tb::Platform::Win9x;
  const Bytes sound = BiosAndChassis();
  const Bytes bios9 = tb::SmbiosBytes(tb::SmbiosBiosInformation(9));
  const struct {
    const char* name; tb::Platform platform; SmbiosEntry entry; Bytes table; uint8_t logo; uint32_t lan;
    uint8_t romSizeCode; uint32_t window; uint32_t failMap = 0;
  } cases[] = {
      {"AnchorOffStepIgnored", Nt, {0xF808}, sound, 0, 1, kEarlierRomSize, 0},
      {"EntryCutBySegmentEnd", Nt, {0xFFF0}, sound, 0, 1, kEarlierRomSize, 0},
      {"Bcd22PassesChassisOver", Nt, {0xF800, 2, 4, 0x22}, sound, 0, 1, 7, 0x1000},
      {"Version22PassesChassisOver", Nt, {0xF800, 2, 2, 0}, sound, 0, 1, 7, 0x1000},
      {"RevisionByteOutsideNtWindow", Nt, {0xFFE0, 2, 2, 0x24}, sound, 0, 1, 7, 0x1000},
      {"Bcd0UsesMajorMinor", Nt, {0xF800, 2, 3, 0}, sound, 5, 1, 7, 0x1000},
      {"LastWholeEntryOn9x", Win9x, {0xFFE0, 2, 2, 0x24}, sound, 5, 1, 7, 0x1000},
      {"FirstOffsetOn9x", Win9x, {0}, sound, 5, 1, 7, 0x1000},
      {"ChassisBits0x07", Nt, {}, BiosAndChassis(7, 0x07), 7, 0, 7, 0x1000},
      {"ChassisBits0x08", Nt, {}, BiosAndChassis(7, 0x08), 0, 1, 7, 0x1000},
      {"ChassisBits0xF0", Nt, {}, BiosAndChassis(7, 0xF0), 0, 0, 7, 0x1000},
      {"WindowEndsInsideFirstPage", Nt, {0xF800, 2, 4, 0x24, 0x7FF00F00}, TableOfLength(0xFF), 2, 1, 3, 0x1000},
      {"WindowEndsExactlyAtThePage", Nt, {0xF800, 2, 4, 0x24, 0x7FF00F00}, TableOfLength(0x100), 2, 1, 3, 0x2000},
      {"WindowEndsAt8KiB", Nt, {0xF800, 2, 4, 0x24, 0x7FF00800}, TableOfLength(0x1800), 2, 1, 3, 0x2000},
      {"WindowReachesPast8KiB", Nt, {0xF800, 2, 4, 0x24, 0x7FF00800}, TableOfLength(0x1900), 2, 1, 3, 0x3000},
      // A window from 0xFFFFF000 of 8 KiB would wrap past the address space.
      {"TablePast4GiBNotMapped", Nt, {0xF800, 2, 4, 0x24, 0xFFFFFF00, 0x200}, {}, 0, 1, kEarlierRomSize, 0},
      {"TablePast4GiBNotMappedOn9x", Win9x, {0xF800, 2, 4, 0x24, 0xFFFFFF00, 0x200}, {}, 0, 1, kEarlierRomSize, 0},
      {"FailedTableWindow", Nt, {}, sound, 0, 1, kEarlierRomSize, 0x1000, kTable},
      {"EmptyTableReadsNothing", Nt, {0xF800, 2, 4, 0x24, kTable, 0}, BiosAndChassis(9), 0, 1, kEarlierRomSize,
       0x1000},
      // The length ends right behind the chassis' formatted area.
      {"StringSetAtTheTableEndStopsTheWalk", Nt,
       {0xF800, 2, 4, 0x24, kTable,
        static_cast<uint16_t>(BiosAndChassis(9).size() - Size({127, 0, {}, {}}) - Size(tb::SmbiosChassis(0)) + 0x11)},
       BiosAndChassis(9), 0, 1, 9, 0x1000},
      // The length ends inside the first structure's last string.
      {"WalkEndsAtTheTableLengthNotTheWindow", Nt,
       {0xF800, 2, 4, 0x24, kTable, static_cast<uint16_t>(Size(tb::SmbiosBiosInformation(4)) - 2)},
       BiosAndChassis(4), 0, 1, 4, 0x1000},
      // A string set runs to the table's end with no NUL; a chassis follows in the window.
      {"StringSetWithoutTerminator", Nt, {0xF800, 2, 4, 0x24, kTable, static_cast<uint16_t>(bios9.size() + 8)},
       Join({bios9, {0x01, 0x04, 0x00, 0x01, 'A', 'B', 'C', 'D'}, tb::SmbiosBytes(tb::SmbiosChassis(0x0D))}), 0, 1, 9,
       0x1000},
      // Byte 13 of the chassis and byte 9 of type 0 lie past the table's
      // length but inside the window: read from there.
      {"ChassisFieldPastTheLength", Nt, {0xF800, 2, 4, 0x24, kTable, 8}, {3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0D},
       5, 1, kEarlierRomSize, 0x1000},
      {"BiosFieldPastTheLength", Nt, {0xF800, 2, 4, 0x24, kTable, 6}, {0, 4, 0, 0, 0, 0, 0, 0, 0, 0x0F}, 0, 1, 15,
       0x1000},
      {"StructureLength0", Nt, {}, ShortStructure(0), 5, 1, kEarlierRomSize, 0x1000},
      {"StructureLength1", Nt, {}, ShortStructure(1), 5, 1, kEarlierRomSize, 0x1000},
      {"StructureLength2", Nt, {}, ShortStructure(2), 5, 1, kEarlierRomSize, 0x1000},
      {"StructureLength3", Nt, {}, ShortStructure(3), 5, 1, kEarlierRomSize, 0x1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tb::MachineBuilder b = MachineOn(c.platform);
    tb::WriteSmbios(b, c.entry, c.table);
    if (c.failMap) b.FailMapAt(c.failMap);
    const uint32_t driver = OpenDriverOn(b);
    MachineBios.logoFlags = 6, MachineBios.onboardLan = 1, MachineBios.romSizeCode = kEarlierRomSize;
    orr::ScanSMBIOS(driver);
    EXPECT_EQ(std::make_tuple(MachineBios.logoFlags, MachineBios.onboardLan, MachineBios.romSizeCode),
              std::make_tuple(c.logo, c.lan, c.romSizeCode));
    const bool nt = c.platform == Nt;
    auto maps = MapRequests(nt ? orr::kIoctlMapPhysical : orr::kIoctl9xMapHigh);
    maps.erase(std::remove(maps.begin(), maps.end(), std::make_pair(0xF0000u, 0xFFFEu)), maps.end());
    using Maps = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(maps, (c.window ? Maps{{c.entry.tableAddress & ~0xFFFu, c.window}} : Maps{}));
    EXPECT_EQ(CountDriverRequests(orr::kIoctlUnmapPhysical), (c.window && !c.failMap ? 1u : 0u) + (nt ? 1u : 0u));
    ExpectNothingOutstanding();
  }
}

}  // namespace
