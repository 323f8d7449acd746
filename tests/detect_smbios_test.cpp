#include <gtest/gtest.h>

#include "detect/smbios_scan.h"
#include "detect_helpers.h"
#include "orrivane.h"

namespace {

using tb::MachineBuilder;
using tb::SmbiosEntry;

std::vector<uint8_t> BiosAndChassis(uint8_t romSizeCode = 7, uint8_t oem = 0x0D) {
  return tb::SmbiosTable({tb::SmbiosBiosInformation(romSizeCode), tb::SmbiosOther(1, 0x1B, {"Zant", "RV5420"}),
                          tb::SmbiosChassis(oem)});
}

void Scan(const MachineBuilder& b) { orr::ScanSMBIOS(OpenDriverOn(b)); }

struct AnchorCase {
  const char* name;
  tb::Platform platform;
  uint32_t offset;
  uint8_t major, minor, bcd;
  uint8_t logo;
  bool tableMapped;
};

class SmbiosAnchor : public testing::TestWithParam<AnchorCase> {};

TEST_P(SmbiosAnchor, FindsTheEntryPointAndItsVersion) {
  const AnchorCase& c = GetParam();
  MachineBuilder b;
  b.Edit().platform = c.platform;
  SmbiosEntry entry;
  entry.fsegmentOffset = c.offset;
  entry.major = c.major, entry.minor = c.minor, entry.bcdRevision = c.bcd;
  tb::WriteSmbios(b, entry, BiosAndChassis());
  Scan(b);
  EXPECT_EQ(MachineBios.logoFlags, c.logo);
  EXPECT_EQ(MachineBios.onboardLan, c.logo ? 1u : 0u);
  const uint32_t tableMap = c.platform == tb::Platform::Nt ? orr::kIoctlMapPhysical : orr::kIoctl9xMapHigh;
  const auto maps = MapRequests(tableMap);
  EXPECT_EQ(std::count(maps.begin(), maps.end(), std::make_pair(0x000E8000u, 0x1000u)), c.tableMapped ? 1 : 0);
  EXPECT_EQ(CountDriverRequests(orr::kIoctlUnmapPhysical), (c.tableMapped ? 1u : 0u) + (g_isNt ? 1u : 0u));
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmbiosAnchor,
    testing::Values(AnchorCase{"OffStepIgnored", tb::Platform::Nt, 0xF808, 2, 4, 0x24, 0, false},
                    AnchorCase{"EntryCutBySegmentEnd", tb::Platform::Nt, 0xFFF0, 2, 4, 0x24, 0, false},
                    AnchorCase{"Bcd22PassesChassisOver", tb::Platform::Nt, 0xF800, 2, 4, 0x22, 0, true},
                    AnchorCase{"Version22PassesChassisOver", tb::Platform::Nt, 0xF800, 2, 2, 0, 0, true},
                    AnchorCase{"RevisionByteOutsideNtWindow", tb::Platform::Nt, 0xFFE0, 2, 2, 0x24, 0, true},
                    AnchorCase{"Bcd0UsesMajorMinor", tb::Platform::Nt, 0xF800, 2, 3, 0, 5, true},
                    AnchorCase{"LastWholeEntryOn9x", tb::Platform::Win9x, 0xFFE0, 2, 2, 0x24, 5, true},
                    AnchorCase{"FirstOffset", tb::Platform::Win9x, 0, 2, 4, 0x24, 5, true}),
    [](const testing::TestParamInfo<AnchorCase>& info) { return info.param.name; });

TEST(Smbios, ChassisByteGivesLogoAndLan) {
  const struct {
    uint8_t oem, logo;
    uint32_t lan;
  } cases[] = {{0x0D, 5, 1}, {0x07, 7, 0}, {0x08, 0, 1}, {0xF0, 0, 0}};
  for (const auto& c : cases) {
    MachineBuilder b;
    tb::WriteSmbios(b, {}, BiosAndChassis(7, c.oem));
    Scan(b);
    EXPECT_EQ(MachineBios.logoFlags, c.logo) << int(c.oem);
    EXPECT_EQ(MachineBios.onboardLan, c.lan) << int(c.oem);
    EXPECT_EQ(MachineBios.romSizeCode, 7);
  }
}

TEST(Smbios, NoQualifyingChassisClearsLogoAndKeepsLan) {
  SmbiosEntry old;
  old.bcdRevision = 0x22;
  MachineBuilder b;
  tb::WriteSmbios(b, old, BiosAndChassis(0x0F, 0x0D));
  uint32_t driver = OpenDriverOn(b);
  MachineBios.logoFlags = 6;
  MachineBios.onboardLan = 1;
  orr::ScanSMBIOS(driver);
  EXPECT_EQ(MachineBios.logoFlags, 0);
  EXPECT_EQ(MachineBios.onboardLan, 1u);
  EXPECT_EQ(MachineBios.romSizeCode, 15);
  EXPECT_EQ(Orrivane_GetDMIBIOSSize(), 0x100000u);
}

struct WindowCase {
  const char* name;
  uint32_t pageOffset;
  uint16_t tableLength;
  uint32_t windowLength;
};

class SmbiosTableWindow : public testing::TestWithParam<WindowCase> {};

// The chassis sits at the table's very end, so it is found only if the
// window covers the whole table.
TEST_P(SmbiosTableWindow, CoversTheWholeTable) {
  const WindowCase& c = GetParam();
  std::vector<tb::SmbiosStructure> structures{tb::SmbiosBiosInformation(3)};
  std::vector<uint8_t> chassis = tb::SmbiosBytes(tb::SmbiosChassis(0x0A));
  std::vector<uint8_t> table = tb::SmbiosTable(structures, false);
  // Filler structures of 8 bytes each, then one that takes up the rest.
  while (table.size() + 8 + 6 + chassis.size() <= c.tableLength) {
    auto filler = tb::SmbiosBytes(tb::SmbiosOther(0x80, 6));
    table.insert(table.end(), filler.begin(), filler.end());
  }
  auto last = tb::SmbiosBytes(tb::SmbiosOther(0x81, static_cast<uint8_t>(c.tableLength - table.size() - chassis.size() - 2)));
  table.insert(table.end(), last.begin(), last.end());
  table.insert(table.end(), chassis.begin(), chassis.end());
  ASSERT_EQ(table.size(), c.tableLength);

  SmbiosEntry entry;
  entry.tableAddress = 0x7FF00000 + c.pageOffset;
  MachineBuilder b;
  tb::WriteSmbios(b, entry, table);
  Scan(b);
  EXPECT_EQ(MapRequests().back(), std::make_pair(0x7FF00000u, c.windowLength));
  EXPECT_EQ(MachineBios.logoFlags, 2);
  EXPECT_EQ(MachineBios.onboardLan, 1u);
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(Cases, SmbiosTableWindow,
                         testing::Values(WindowCase{"EndsInsideFirstPage", 0xF00, 0xFF, 0x1000},
                                         WindowCase{"EndsExactlyAtThePage", 0xF00, 0x100, 0x2000},
                                         WindowCase{"EndsAt8KiB", 0x800, 0x1800, 0x2000},
                                         WindowCase{"ReachesPast8KiB", 0x800, 0x1900, 0x3000}),
                         [](const testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

TEST(Smbios, EmptyTableReadsNothingAndReleasesBothWindows) {
  SmbiosEntry entry;
  entry.tableLength = 0;
  MachineBuilder b;
  tb::WriteSmbios(b, entry, BiosAndChassis(9));
  Scan(b);
  EXPECT_EQ(MachineBios.romSizeCode, 0);
  EXPECT_EQ(MachineBios.logoFlags, 0);
  EXPECT_EQ(CountDriverRequests(orr::kIoctlUnmapPhysical), 2u);
  ExpectNothingOutstanding();
}

TEST(Smbios, StringSetAtTheTableEndStopsTheWalk) {
  const std::vector<uint8_t> table = BiosAndChassis(9);
  SmbiosEntry entry;
  // The length ends right behind the chassis' formatted area.
  entry.tableLength = static_cast<uint16_t>(table.size() - tb::SmbiosBytes(tb::SmbiosStructure{127, 0, {}, {}}).size() -
                                            tb::SmbiosBytes(tb::SmbiosChassis(0)).size() + 0x11);
  MachineBuilder b;
  tb::WriteSmbios(b, entry, table);
  Scan(b);
  EXPECT_EQ(MachineBios.romSizeCode, 9);
  EXPECT_EQ(MachineBios.logoFlags, 0);
}

TEST(Smbios, WalkEndsAtTheTableLengthNotTheWindow) {
  // The length ends inside the first structure's last string; the rest of
  // the table, chassis included, lies beyond it in the same window.
  SmbiosEntry entry;
  entry.tableLength = static_cast<uint16_t>(tb::SmbiosBytes(tb::SmbiosBiosInformation(4)).size() - 2);
  MachineBuilder b;
  tb::WriteSmbios(b, entry, BiosAndChassis(4, 0x0D));
  Scan(b);
  EXPECT_EQ(MachineBios.romSizeCode, 4);
  EXPECT_EQ(MachineBios.logoFlags, 0);
  EXPECT_EQ(MachineBios.onboardLan, 0u);
}

TEST(Smbios, TableRunningPast4GiBIsNotMapped) {
  // A window from 0xFFFFF000 of 8 KiB would wrap past the address space.
  for (tb::Platform platform : {tb::Platform::Nt, tb::Platform::Win9x}) {
    SmbiosEntry entry;
    entry.tableAddress = 0xFFFFFF00;
    entry.tableLength = 0x200;
    MachineBuilder b;
    b.Edit().platform = platform;
    tb::WriteSmbios(b, entry, {});
    uint32_t driver = OpenDriverOn(b);
    MachineBios.onboardLan = 1;
    orr::ScanSMBIOS(driver);
    EXPECT_EQ(MapRequests(orr::kIoctl9xMapHigh).size() + MapRequests().size(), g_isNt ? 1u : 0u);  // the F segment
    EXPECT_EQ(MachineBios.logoFlags, 0);
    EXPECT_EQ(MachineBios.onboardLan, 1u);
    ExpectNothingOutstanding();
  }
}

TEST(Smbios, FieldsAreReadFromTheWindowWhereTheTableLengthCutsTheStructure) {
  // The length byte 4 puts each string set inside the table; bytes 9 and 13
  // lie past the table's length but inside the window.
  const struct {
    const char* name;
    std::vector<uint8_t> structure;
    uint16_t tableLength;
    uint8_t logo, romSizeCode;
    uint32_t lan;
  } cases[] = {
      {"chassis", {3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0D}, 8, 5, 0, 1},
      {"BIOS information", {0, 4, 0, 0, 0, 0, 0, 0, 0, 0x0F}, 6, 0, 15, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmbiosEntry entry;
    entry.tableLength = c.tableLength;
    MachineBuilder b;
    tb::WriteSmbios(b, entry, c.structure);
    Scan(b);
    EXPECT_EQ(MachineBios.logoFlags, c.logo);
    EXPECT_EQ(MachineBios.onboardLan, c.lan);
    EXPECT_EQ(MachineBios.romSizeCode, c.romSizeCode);
  }
  EXPECT_EQ(Orrivane_GetDMIBIOSSize(), 0x100000u);
}

TEST(Smbios, FailedTableWindowStillReleasesTheFSegment) {
  MachineBuilder b;
  tb::WriteSmbios(b, {}, BiosAndChassis(9));
  b.FailMapAt(0x000E8000);
  uint32_t driver = OpenDriverOn(b);
  MachineBios.logoFlags = 3;
  orr::ScanSMBIOS(driver);
  EXPECT_EQ(MachineBios.logoFlags, 0);
  EXPECT_EQ(MachineBios.romSizeCode, 0);
  ExpectNothingOutstanding();
}

}  // namespace
