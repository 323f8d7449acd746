#include <gtest/gtest.h>

#include "detect/onboard_devices.h"
#include "detect_helpers.h"
#include "orrivane.h"

namespace {

using tb::MachineBuilder;
using tb::PciFunction;

constexpr uint32_t kEarlierBit = 0x100;  // a bit an earlier run left; never cleared

struct DeviceCase {
  const char* name;
  uint8_t slot;
  std::vector<PciFunction> functions;  // at bus 1, device 25
  uint32_t bits;
};

class OnboardDevice : public testing::TestWithParam<DeviceCase> {};

TEST_P(OnboardDevice, SetsTheBitsOfItsFirstDecidingFunction) {
  const DeviceCase& c = GetParam();
  MachineBuilder b;
  tb::WritePirTable(b, 0xF801, {{1, 25, c.slot}});  // odd offset: every byte is tried
  for (const PciFunction& f : c.functions) b.Pci(1, 25, f.function, f.vendorId, f.deviceId, f.classCode);
  uint32_t driver = OpenDriverOn(b);
  MachineBios.onboardDevices = kEarlierBit;
  orr::ScanOnboardDevices(driver);
  EXPECT_EQ(MachineBios.onboardDevices, kEarlierBit | c.bits);
  ExpectNothingOutstanding();
}

PciFunction Fn(uint8_t function, uint16_t vendor, uint16_t device, uint32_t classCode) {
  return PciFunction{1, 25, function, vendor, device, classCode};
}

const PciFunction kNicAt1 = Fn(1, 0x8086, 0x10BD, 0x020000);

INSTANTIATE_TEST_SUITE_P(
    Cases, OnboardDevice,
    testing::Values(DeviceCase{"PlugInSlotSkipped", 3, {Fn(0, 0x8086, 0x10BD, 0x020000)}, 0},
                    DeviceCase{"NothingAnswers", 0, {}, 0},
                    DeviceCase{"MultimediaOtherOfChipsetVendorEndsEntry", 0, {Fn(0, 0x10DE, 1, 0x048000), kNicAt1}, 0},
                    DeviceCase{"BridgeOfOtherVendorGoesOn", 0, {Fn(0, 0x8086, 0x0269, 0x068000), kNicAt1}, 0x01},
                    DeviceCase{"AbsentFunction0", 0, {kNicAt1}, 0x01},
                    DeviceCase{"OnlyClassWordCounts", 0, {Fn(0, 0x1234, 1, 0x020080)}, 0x01},
                    DeviceCase{"AudioEndsTheEntry", 0, {Fn(0, 0x8086, 0x27D8, 0x040100), kNicAt1}, 0x04},
                    DeviceCase{"HdAudioOfChipsetVendor", 0, {Fn(2, 0x1131, 1, 0x040300)}, 0x08},
                    DeviceCase{"AudioOfOtherVendor", 0, {Fn(0, 0x1102, 1, 0x040100)}, 0x02},
                    DeviceCase{"VideoOfOtherVendor", 0, {Fn(7, 0x109E, 1, 0x040000)}, 0x02},
                    DeviceCase{"NvidiaBridgeNic", 0, {Fn(0, 0x10DE, 0x0269, 0x068000)}, 0x01},
                    DeviceCase{"NvidiaBridgeOtherDevice", 0, {Fn(0, 0x10DE, 0x0270, 0x068000)}, 0}),
    [](const testing::TestParamInfo<DeviceCase>& info) { return info.param.name; });

struct TableCase {
  const char* name;
  tb::Platform platform;
  uint32_t offset;
  std::optional<uint16_t> size;
  uint32_t bits;
};

class RoutingTable : public testing::TestWithParam<TableCase> {};

// Entry 0 lists a NIC on bus 0, entry 1 an HD audio controller on bus 1.
TEST_P(RoutingTable, ProbesTheEntriesItsSizeAndWindowHold) {
  const TableCase& c = GetParam();
  MachineBuilder b;
  b.Edit().platform = c.platform;
  tb::WritePirTable(b, c.offset, {{0, 25, 0}, {1, 27, 0}}, c.size);
  b.Pci(0, 25, 0, 0x8086, 0x10BD, 0x020000).Pci(1, 27, 0, 0x8086, 0x293E, 0x040300);
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, c.bits);
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RoutingTable,
    testing::Values(TableCase{"HeaderOnly", tb::Platform::Nt, 0xF800, 32, 0},
                    TableCase{"OneEntry", tb::Platform::Nt, 0xF800, 48, 0x01},
                    TableCase{"BothEntries", tb::Platform::Nt, 0xF800, {}, 0x09},
                    TableCase{"SecondEntryPastNtWindow", tb::Platform::Nt, 0xFFC0, {}, 0x01},
                    // Entry 0 at 0xFFEF: its bytes 0, 1 and 14 (0xFFEF, 0xFFF0, 0xFFFD) lie in the NT window.
                    TableCase{"EntryReadBytesInsideNtWindow", tb::Platform::Nt, 0xFFCF, {}, 0x01},
                    TableCase{"SecondEntryInside9xSegment", tb::Platform::Win9x, 0xFFC0, {}, 0x09},
                    TableCase{"SizeFieldPastNtWindow", tb::Platform::Nt, 0xFFF8, {}, 0}),
    [](const testing::TestParamInfo<TableCase>& info) { return info.param.name; });

TEST(OnboardDevices, EveryOccurrenceOfTheSignatureIsATable) {
  MachineBuilder b;
  tb::WritePirTable(b, 0xF800, {{0, 25, 0}});
  tb::WritePirTable(b, 0xFA03, {{0, 27, 0}});
  b.Pci(0, 25, 0, 0x8086, 0x10BD, 0x020000).Pci(0, 27, 0, 0x8086, 0x27D8, 0x040100);
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, 0x05u);
}

TEST(OnboardDevices, LargestTableSizeEndsAtTheWindow) {
  MachineBuilder b;
  tb::WritePirTable(b, 0xF000, {{0, 25, 0}}, 0xFFFF);
  b.Pci(0, 25, 0, 0x8086, 0x10BD, 0x020000);
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, 0x01u);
  ExpectNothingOutstanding();
}

TEST(OnboardDevices, NinexReadsPortsAndTheSegmentDirectly) {
  MachineBuilder b;
  b.Win9x();
  tb::WritePirTable(b, 0xF800, {{0, 25, 0}});
  b.Pci(0, 25, 0, 0x8086, 0x10BD, 0x020000);
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, 0x01u);
  EXPECT_TRUE(tb::DriverRequests().empty());
  ASSERT_FALSE(tb::PortAccesses().empty());
  EXPECT_EQ(tb::PortAccesses()[0].value, 0x8000C808u);  // bus 0, device 25, function 0, register 2
}

TEST(OnboardDevices, FailedWindowChangesNothing) {
  MachineBuilder b;
  tb::WritePirTable(b, 0xF800, {{0, 25, 0}});
  b.Pci(0, 25, 0, 0x8086, 0x10BD, 0x020000).FailMapAt(0xF0000);
  orr::ScanOnboardDevices(OpenDriverOn(b));
  EXPECT_EQ(MachineBios.onboardDevices, 0u);
}

TEST(OnboardDevices, BitsAccumulateOverTwoDetections) {
  MachineBuilder nic = NtMachine(3);
  tb::WritePirTable(nic, 0xF800, {{0, 25, 0}});
  nic.Pci(0, 25, 0, 0x8086, 0x10BD, 0x020000);
  StartWith(nic);
  ASSERT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_EQ(Orrivane_CheckOnboardDev(), 0x01u);

  MachineBuilder audio = NtMachine(4);
  tb::WritePirTable(audio, 0xF800, {{0, 27, 0}});
  audio.Pci(0, 27, 0, 0x8086, 0x293E, 0x040300);
  tb::Reset(audio);  // another run on a machine that now shows only its audio
  ASSERT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_EQ(Orrivane_CheckOnboardDev(), 0x09u);
}

}  // namespace
