// The onboard devices: the routing tables' onboard entries and the bits the
// first deciding PCI function of each device sets; overlapping tables built
// to cost millions of reads.
#include <gtest/gtest.h>

#include "detect/onboard_devices.h"
#include "detect_helpers.h"

namespace {

using tb::MachineBuilder;
using tb::PciFunction;

PciFunction Fn(uint8_t function, uint16_t vendor, uint16_t device, uint32_t classCode) {
  return PciFunction{1, 25, function, vendor, device, classCode};
}

// One entry for bus 1, device 25, at an odd offset: every byte is tried.
// Bit 0x100 is one an earlier run left; never cleared (a whole detection
// keeps it too: PlatformFamily).
TEST(OnboardDevices, EachDeviceSetsTheBitsOfItsFirstDecidingFunction) {
  const PciFunction kNicAt1 = Fn(1, 0x8086, 0x10BD, 0x020000), kAudioAt1 = Fn(1, 0x8086, 0x27D8, 0x040100);
  const struct { const char* name; uint8_t slot; std::vector<PciFunction> functions; uint32_t bits; } cases[] = {
      {"PlugInSlotSkipped", 3, {Fn(0, 0x8086, 0x10BD, 0x020000)}, 0}, {"NothingAnswers", 0, {}, 0},
      {"MultimediaOtherOfChipsetVendorEndsEntry", 0, {Fn(0, 0x10DE, 1, 0x048000), kNicAt1}, 0},
      {"BridgeOfOtherVendorGoesOn", 0, {Fn(0, 0x8086, 0x0269, 0x068000), kAudioAt1}, 0x04},
      {"AbsentFunction0", 0, {kNicAt1}, 0x01}, {"OnlyClassWordCounts", 0, {Fn(0, 0x1234, 1, 0x020080)}, 0x01},
      {"AudioEndsTheEntry", 0, {Fn(0, 0x8086, 0x27D8, 0x040100), kNicAt1}, 0x04},
      {"HdAudioOfChipsetVendor", 0, {Fn(2, 0x1131, 1, 0x040300)}, 0x08},
      {"AudioOfOtherVendor", 0, {Fn(0, 0x1102, 1, 0x040100)}, 0x02},
      {"VideoOfOtherVendor", 0, {Fn(7, 0x109E, 1, 0x040000)}, 0x02},
      {"NvidiaBridgeNic", 0, {Fn(0, 0x10DE, 0x0269, 0x068000)}, 0x01},
      {"NvidiaBridgeOtherDevice", 0, {Fn(0, 0x10DE, 0x0270, 0x068000)}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MachineBuilder b;
    tb::WritePirTable(b, 0xF801, {{1, 25, c.slot}});
    for (const PciFunction& f : c.functions) b.Pci(1, 25, f.function, f.vendorId, f.deviceId, f.classCode);
    uint32_t driver = OpenDriverOn(b);
    MachineBios.onboardDevices = 0x100;
    orr::ScanOnboardDevices(driver);
    EXPECT_EQ(MachineBios.onboardDevices, 0x100 | c.bits);
    ExpectNothingOutstanding();
  }
}

// Entry 0 lists a NIC on bus 0, entry 1 an HD audio controller on bus 1.
// Entries start at offset 32 and are probed while their offset is below the
// table's size (counted in 32 bits: 0xFFFF does not wrap) and the bytes read
// of them (0, 1 and 14) lie in the window; on 9x the ports and the segment
// are read in place.
TEST(OnboardDevices, RoutingTableEntriesItsSizeAndWindowHold) {
  const auto Nt = tb::Platform::Nt, Win9x = tb::Platform::Win9x;
  const struct {
    const char* name; tb::Platform platform; uint32_t offset; std::optional<uint16_t> size; uint32_t bits;
    bool failWindow = false;
  } cases[] = {
      {"SizeZero", Nt, 0xF800, 0, 0}, {"SizeBelowTheHeader", Nt, 0xF800, 16, 0}, {"HeaderOnly", Nt, 0xF800, 32, 0},
      {"PartOfAnEntry", Nt, 0xF800, 33, 0x01}, {"OneEntry", Nt, 0xF800, 48, 0x01},
      {"BothEntries", Nt, 0xF800, {}, 0x09}, {"LargestSizeEndsAtTheWindow", Nt, 0xF000, 0xFFFF, 0x09},
      {"SecondEntryPastNtWindow", Nt, 0xFFC0, {}, 0x01},
      // Entry 0 at 0xFFEF: its bytes 0, 1 and 14 (0xFFEF, 0xFFF0, 0xFFFD) lie in the NT window.
      {"EntryReadBytesInsideNtWindow", Nt, 0xFFCF, {}, 0x01}, {"SecondEntryInside9xSegment", Win9x, 0xFFC0, {}, 0x09},
      {"SizeFieldPastNtWindow", Nt, 0xFFF8, {}, 0}, {"FailedWindowChangesNothing", Nt, 0xF800, {}, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MachineBuilder b = MachineOn(c.platform);
    tb::WritePirTable(b, c.offset, {{0, 25, 0}, {1, 27, 0}}, c.size);
    WithNic(b, 0, 25).Pci(1, 27, 0, 0x8086, 0x293E, 0x040300);
    if (c.failWindow) b.FailMapAt(0xF0000);
    orr::ScanOnboardDevices(OpenDriverOn(b));
    EXPECT_EQ(MachineBios.onboardDevices, c.bits);
    if (c.platform == Win9x) EXPECT_TRUE(tb::DriverRequests().empty());
    ExpectNothingOutstanding();
  }
}

TEST(OnboardDevices, SignatureCutByTheSegmentEndIsNotATable) {
  for (uint32_t at : {0xFFFDu, 0xFFFEu, 0xFFFFu}) {
    MachineBuilder b = MachineOn(tb::Platform::Win9x);
    orr::ScanOnboardDevices(OpenDriverOn(WithNic(b.FSegmentBytes(at, tb::BytesOf("$PIR")), 0, 0)));
    EXPECT_TRUE(MachineBios.onboardDevices == 0 && tb::PortAccesses().empty()) << at;
  }
}

using Bytes = std::vector<uint8_t>;

// 1024 signatures 16 bytes apart, each claiming the largest size: every
// table's entries are the other tables' headers, all onboard, all naming bus
// 0x24 ('$'), device 10 ('P' >> 3); probed naively, millions of reads.
TEST(MalformedPir, OverlappingTablesProbeEachDeviceOnce) {
  Bytes unit = tb::BytesOf("$PIR");
  unit.resize(16, 0);
  unit[6] = 0xFF, unit[7] = 0xFF;
  MachineBuilder b;
  for (uint32_t at = 0; at < 0x4000; at += 16) b.FSegmentBytes(at, unit);
  WithNic(b, 0x24, 10);
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, 0x01u);
  // One read settles the NIC; bus 0, device 0 (the zeros behind) answers none of eight.
  EXPECT_EQ(CountDriverRequests(orr::kIoctlReadPort), 1u + 8u);
  ExpectNothingOutstanding();
}

// Lane 0: the first table's one entry (0x1020) lies inside the second
// table's header; the second's entries (0x1030 to 0x1050) lie past the
// first's end. Lane 8: a table of its own.
TEST(MalformedPir, TableOverlappingAnEarlierOneStillReadsItsOwnEntries) {
  MachineBuilder b;
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
