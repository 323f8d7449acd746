// Firmware built to break the probes: rows of docs/malformed-inputs.md that
// the detection tests do not pin already.
#include <gtest/gtest.h>

#include "detect/onboard_devices.h"
#include "detect/smbios_scan.h"
#include "detect_helpers.h"

namespace {

using tb::MachineBuilder;
using Bytes = std::vector<uint8_t>;

// A structure whose formatted area claims fewer than the 4 header bytes,
// then a chassis structure that the walk must still reach.
class MalformedSmbiosLength : public testing::TestWithParam<uint8_t> {};

TEST_P(MalformedSmbiosLength, StructureShorterThanItsHeaderIsWalkedPast) {
  Bytes table = {0x01, GetParam(), 'X', 'Y', 0, 0};
  const Bytes chassis = tb::SmbiosBytes(tb::SmbiosChassis(0x0D));
  table.insert(table.end(), chassis.begin(), chassis.end());
  table.push_back(127), table.push_back(4), table.push_back(0), table.push_back(0), table.push_back(0),
      table.push_back(0);
  MachineBuilder b;
  tb::WriteSmbios(b, {}, table);
  orr::ScanSMBIOS(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.logoFlags, 5);
  EXPECT_EQ(MachineBios.onboardLan, 1u);
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(Lengths, MalformedSmbiosLength, testing::Values(0, 1, 2, 3),
                         [](const testing::TestParamInfo<uint8_t>& info) {
                           return "Length" + std::to_string(info.param);
                         });

TEST(MalformedSmbios, StringSetWithoutTerminatorEndsTheWalkAtTheTableEnd) {
  // The second structure's strings run to the table's end with no NUL; the
  // window goes on with a chassis structure the walk must not reach.
  Bytes table = tb::SmbiosBytes(tb::SmbiosBiosInformation(9));
  const Bytes open = {0x01, 0x04, 0x00, 0x01, 'A', 'B', 'C', 'D'};
  table.insert(table.end(), open.begin(), open.end());
  tb::SmbiosEntry entry;
  entry.tableLength = static_cast<uint16_t>(table.size());
  const Bytes chassis = tb::SmbiosBytes(tb::SmbiosChassis(0x0D));
  table.insert(table.end(), chassis.begin(), chassis.end());
  MachineBuilder b;
  tb::WriteSmbios(b, entry, table);
  const uint32_t driver = OpenDriverOn(b);
  MachineBios.onboardLan = 1;
  orr::ScanSMBIOS(driver);
  EXPECT_EQ(MachineBios.romSizeCode, 9);
  EXPECT_EQ(MachineBios.logoFlags, 0);
  EXPECT_EQ(MachineBios.onboardLan, 1u) << "kept from before";
  ExpectNothingOutstanding();
}

// A routing table with one onboard NIC entry at offset 32, whose size field
// says what the case gives.
struct PirSizeCase {
  const char* name;
  uint16_t size;
  uint32_t bits;
};

class MalformedPirSize : public testing::TestWithParam<PirSizeCase> {};

TEST_P(MalformedPirSize, EntriesStartBelowTheSize) {
  MachineBuilder b;
  tb::WritePirTable(b, 0xF800, {{0, 25, 0}}, GetParam().size);
  b.Pci(0, 25, 0, 0x8086, 0x10BD, 0x020000);
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, GetParam().bits);
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(Sizes, MalformedPirSize,
                         testing::Values(PirSizeCase{"Zero", 0, 0}, PirSizeCase{"BelowTheHeader", 16, 0},
                                         PirSizeCase{"OneShortOfAnEntry", 32, 0},
                                         PirSizeCase{"PartOfAnEntry", 33, 0x01},
                                         PirSizeCase{"NotAMultipleOf16", 40, 0x01}),
                         [](const testing::TestParamInfo<PirSizeCase>& info) { return info.param.name; });

TEST(MalformedPir, SignatureCutByTheSegmentEndIsNotATable) {
  for (uint32_t at : {0xFFFDu, 0xFFFEu, 0xFFFFu}) {
    MachineBuilder b;
    b.Win9x();
    b.FSegmentBytes(at, tb::BytesOf("$PIR"));
    b.Pci(0, 0, 0, 0x8086, 0x10BD, 0x020000);
    orr::ScanOnboardDevices(OpenDriverOn(b));
    EXPECT_EQ(MachineBios.onboardDevices, 0u) << at;
    EXPECT_TRUE(tb::PortAccesses().empty()) << at;
  }
}

TEST(MalformedPir, OverlappingTablesProbeEachDeviceOnce) {
  // 1024 signatures 16 bytes apart, each claiming the largest size: every
  // table's entries are the other tables' headers, all onboard, all naming
  // bus 0x24 ('$'), device 10 ('P' >> 3). Probing every entry of every
  // table would take millions of configuration reads.
  Bytes unit = tb::BytesOf("$PIR");
  unit.resize(16, 0);
  unit[6] = 0xFF, unit[7] = 0xFF;
  MachineBuilder b;
  for (uint32_t at = 0; at < 0x4000; at += 16) b.FSegmentBytes(at, unit);
  b.Pci(0x24, 10, 0, 0x8086, 0x10BD, 0x020000);
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, 0x01u);
  // One read settles the NIC; the zeros behind the tables name bus 0,
  // device 0, where none of the eight functions answers.
  EXPECT_EQ(CountDriverRequests(orr::kIoctlReadPort), 1u + 8u);
  ExpectNothingOutstanding();
}

TEST(MalformedPir, TableOverlappingAnEarlierOneStillReadsItsOwnEntries) {
  MachineBuilder b;
  // Lane 0: the first table's one entry (0x1020) lies inside the second
  // table's header; the second's entries (0x1030 to 0x1050) lie past the
  // first's end. Lane 8: a table of its own.
  tb::WritePirTable(b, 0x1000, {{0, 1, 0}}, 0x30);
  tb::WritePirTable(b, 0x1010, {{0, 2, 0}, {0, 9, 3}, {0, 3, 0}}, 0x50);
  Bytes first(16, 0);
  first[1] = 1 << 3;
  b.FSegmentBytes(0x1020, first);
  tb::WritePirTable(b, 0x2008, {{0, 4, 0}});
  b.Pci(0, 1, 0, 0x8086, 0x10BD, 0x020000)   // network: 0x01
      .Pci(0, 2, 0, 0x8086, 0x27D8, 0x040100)  // chipset audio: 0x04
      .Pci(0, 9, 0, 0x1102, 0x0002, 0x040100)  // behind a plug-in slot: nothing
      .Pci(0, 3, 0, 0x10DE, 0x0371, 0x040300)  // chipset HD audio: 0x08
      .Pci(0, 4, 0, 0x1102, 0x0007, 0x048000);  // other multimedia: 0x02
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, 0x0Fu);
  ExpectNothingOutstanding();
}

}  // namespace
