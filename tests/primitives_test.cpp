// The hardware access primitives on both families, judged by what reached
// the access driver and the port instructions.
#include "hwaccess/primitives.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hwaccess/contract.h"
#include "hwaccess/platform_io.h"
#include "hwaccess/service.h"
#include "library_state.h"
#include "machine_builder.h"

namespace orr {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kDriver = tb::kDriverHandle;
constexpr uint32_t kNotADriver = 0x00001234;  // a handle the driver does not answer on

Bytes Le(std::initializer_list<uint32_t> values) {
  Bytes out;
  for (uint32_t v : values)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

struct Sent {
  uint32_t code;
  Bytes input;
  bool operator==(const Sent& o) const { return code == o.code && input == o.input; }
};

std::ostream& operator<<(std::ostream& os, const Sent& s) {
  os << "0x" << std::hex << s.code << std::dec << " [";
  for (uint8_t b : s.input) os << ' ' << int(b);
  return os << " ]";
}

std::vector<Sent> DriverLog() {
  std::vector<Sent> out;
  for (const tb::Request& r : tb::DriverRequests()) out.push_back(Sent{r.code, r.input});
  return out;
}

struct Port {
  bool write;
  uint16_t port;
  uint32_t value;
  bool operator==(const Port& o) const { return write == o.write && port == o.port && value == o.value; }
};

std::ostream& operator<<(std::ostream& os, const Port& p) {
  return os << (p.write ? "out " : "in ") << std::hex << p.port << " " << p.value << std::dec;
}

std::vector<Port> PortLog() {
  std::vector<Port> out;
  for (const tb::PortAccess& a : tb::PortAccesses()) out.push_back(Port{a.write, a.port, a.value});
  return out;
}

// Installs the machine, sets the library's family flag to match and opens
// the driver the way the detection does, then forgets that request.
void StartOn(tb::MachineBuilder machine) {
  StartWith(machine);
  g_isNt = machine.Build().platform == tb::Platform::Nt ? 1 : 0;
  DriverBlock block{};
  std::strcpy(block.name, kDriverName);
  uint32_t serviceError = 0;
  ASSERT_TRUE(BiosServiceCall(kRequestOpenDriver, &block, sizeof block, 0, 0, &serviceError));
  ASSERT_EQ(block.handle, kDriver);
  tb::ClearRecords();
}

tb::MachineBuilder On(tb::Platform platform) {
  tb::MachineBuilder m;
  return platform == tb::Platform::Nt ? m.Nt() : m.Win9x();
}

std::string FamilyName(const testing::TestParamInfo<tb::Platform>& info) {
  return info.param == tb::Platform::Nt ? "Nt" : "Win9x";
}

// What both families share: the three window requests and the driver's
// answers through them.
class PrimitivesOnBothFamilies : public testing::TestWithParam<tb::Platform> {};

INSTANTIATE_TEST_SUITE_P(Family, PrimitivesOnBothFamilies, testing::Values(tb::Platform::Nt, tb::Platform::Win9x),
                         FamilyName);

TEST_P(PrimitivesOnBothFamilies, MapPhysicalOnAMissingDriverSendsNothing) {
  StartOn(On(GetParam()));
  EXPECT_EQ(MapPhysical(kInvalidDriverHandle, 0xF0000, 0xFFFE), 0u);
  EXPECT_TRUE(tb::DriverRequests().empty());
}

TEST_P(PrimitivesOnBothFamilies, MapPhysicalFailsToZero) {
  StartOn(On(GetParam()).FailMapAt(0xFFFF0000));
  EXPECT_EQ(MapPhysical(kDriver, 0xFFFF0000, 0x10000), 0u);
  EXPECT_EQ(MapPhysical(kNotADriver, 0xF0000, 0x100), 0u);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{kIoctlMapPhysical, Le({0xFFFF0000, 0x10000})},
                                            {kIoctlMapPhysical, Le({0xF0000, 0x100})}}));
}

TEST_P(PrimitivesOnBothFamilies, MapPhysicalSendsAddressAndLengthAndUnmapGivesTheWindowBack) {
  StartOn(On(GetParam()).Text(0xFFFFFF00, "TOP"));
  uint32_t window = MapPhysical(kDriver, 0xFFFFFF00, 0x100);
  ASSERT_NE(window, 0u);
  EXPECT_EQ(std::memcmp(WindowPointer(window), "TOP", 4), 0);
  UnmapPhysical(kDriver, window);
  EXPECT_EQ(DriverLog(),
            (std::vector<Sent>{{kIoctlMapPhysical, Le({0xFFFFFF00, 0x100})}, {kIoctlUnmapPhysical, Le({window})}}));
  EXPECT_EQ(tb::OutstandingMappedWindows(), 0u);
}

TEST_P(PrimitivesOnBothFamilies, WindowRunningPast4GiBIsNotAskedFor) {
  StartOn(On(GetParam()));
  EXPECT_EQ(MapPhysical(kDriver, 0xFFFFF000, 0x2000), 0u);
  EXPECT_EQ(MapPhysicalHigh9x(kDriver, 0xFFFFFF00, 0x101), 0u);
  EXPECT_TRUE(tb::DriverRequests().empty());
  EXPECT_NE(MapPhysical(kDriver, 0xFFFFF000, 0x1000), 0u);  // ending at 4 GiB exactly is fine
}

TEST_P(PrimitivesOnBothFamilies, UnmapOfNoWindowSendsNothing) {
  StartOn(On(GetParam()));
  UnmapPhysical(kDriver, 0);
  EXPECT_TRUE(tb::DriverRequests().empty());
}

TEST_P(PrimitivesOnBothFamilies, MappedWindowIsReleasedOnlyOnNt) {
  StartOn(On(GetParam()).Text(0xFFFF0000, "ROM"));
  Window w = OpenMappedWindow(kDriver, 0xFFFF0000, 0x10000);
  const uint32_t address = w.address;
  ASSERT_NE(address, 0u);
  EXPECT_EQ(w.bytes.size(), 0x10000u);
  EXPECT_TRUE(w.bytes.Matches(0, MakeMarker("ROM")));
  CloseWindow(kDriver, w);
  std::vector<Sent> want{{kIoctlMapPhysical, Le({0xFFFF0000, 0x10000})}};
  if (GetParam() == tb::Platform::Nt) want.push_back({kIoctlUnmapPhysical, Le({address})});
  EXPECT_EQ(DriverLog(), want);
  EXPECT_EQ(w.address, 0u);
  EXPECT_TRUE(w.bytes.empty());
}

TEST_P(PrimitivesOnBothFamilies, FailedWindowHasNoBytesAndNeedsNoRelease) {
  StartOn(On(GetParam()).FailMapAt(0xFFFF0000).FailMapAt(0xF0000));
  Window high = OpenHighWindow(kDriver, 0xFFFF0000, 0x10000);
  EXPECT_EQ(high.address, 0u);
  EXPECT_TRUE(high.bytes.empty());
  CloseWindow(kDriver, high);
  Window mapped = OpenMappedWindow(kDriver, 0xFFFF0000, 0x10000);
  EXPECT_EQ(mapped.address, 0u);
  CloseWindow(kDriver, mapped);
  for (const Sent& s : DriverLog()) EXPECT_NE(s.code, kIoctlUnmapPhysical);
}

// The queries that pick their request code by family.
struct FamilyCodes {
  tb::Platform platform;
  uint32_t biosType, pluginA, pluginB;
};

void PrintTo(const FamilyCodes& c, std::ostream* os) { *os << (c.platform == tb::Platform::Nt ? "NT" : "9x"); }

class PrimitivesByFamily : public testing::TestWithParam<FamilyCodes> {};

INSTANTIATE_TEST_SUITE_P(Family, PrimitivesByFamily,
                         testing::Values(FamilyCodes{tb::Platform::Nt, 0x2224D4, 0x222484, 0x222488},
                                         FamilyCodes{tb::Platform::Win9x, 127, 121, 122}),
                         [](const testing::TestParamInfo<FamilyCodes>& info) {
                           return info.param.platform == tb::Platform::Nt ? "Nt" : "Win9x";
                         });

TEST_P(PrimitivesByFamily, BiosTypeOnAnInvalidHandleIsSentAndAnswersZero) {
  StartOn(On(GetParam().platform).BiosType(2));
  EXPECT_EQ(QueryBiosType(kInvalidDriverHandle), 0u);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{GetParam().biosType, {}}}));
}

TEST_P(PrimitivesByFamily, BiosTypeRefusedByTheDriverAnswersZero) {
  StartOn(On(GetParam().platform));  // a driver that knows no family fails the request
  EXPECT_EQ(QueryBiosType(kDriver), 0u);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{GetParam().biosType, {}}}));
}

TEST_P(PrimitivesByFamily, BiosTypeComesFromTheDriver) {
  StartOn(On(GetParam().platform).BiosType(0x12345678));
  EXPECT_EQ(QueryBiosType(kDriver), 0x12345678u);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{GetParam().biosType, {}}}));
}

TEST_P(PrimitivesByFamily, PluginBlocksLandInTheirOwnFields) {
  Bytes a(21), b(21);
  for (int i = 0; i < 21; ++i) {
    a[i] = static_cast<uint8_t>(0x10 + i);
    b[i] = static_cast<uint8_t>(0x80 + i);
  }
  StartOn(On(GetParam().platform).PluginBlockA(a).PluginBlockB(b));
  ReadPluginBlockA(kDriver, MachineBios.pluginBlockA);
  ReadPluginBlockB(kDriver, MachineBios.pluginBlockB);
  EXPECT_EQ(Bytes(MachineBios.pluginBlockA, MachineBios.pluginBlockA + 21), a);
  EXPECT_EQ(Bytes(MachineBios.pluginBlockB, MachineBios.pluginBlockB + 21), b);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{GetParam().pluginA, {}}, {GetParam().pluginB, {}}}));
  EXPECT_TRUE(tb::PortAccesses().empty());
}

TEST_P(PrimitivesByFamily, AFailedPluginReadLeavesTheFieldAsItWas) {
  StartOn(On(GetParam().platform).PluginBlockA({9, 9, 9}));
  std::memset(MachineBios.pluginBlockA, 0x77, sizeof MachineBios.pluginBlockA);
  ReadPluginBlockA(kNotADriver, MachineBios.pluginBlockA);
  EXPECT_EQ(Bytes(MachineBios.pluginBlockA, MachineBios.pluginBlockA + 21), Bytes(21, 0x77));
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{GetParam().pluginA, {}}}));
}

// Port primitives on NT: every access a driver request.
class PrimitivesNtPorts : public testing::Test {
 protected:
  void SetUp() override { StartOn(tb::MachineBuilder().Nt().Pci(0, 31, 3, 0x1234, 0x5678, 0x040300)); }
};

TEST_F(PrimitivesNtPorts, AMissingDriverGetsNoRequest) {
  EXPECT_EQ(ReadPortDword(kInvalidDriverHandle, 0xCFC), 0u);
  WritePortDword(kInvalidDriverHandle, 0xCF8, 0x80000000);
  EXPECT_TRUE(tb::DriverRequests().empty());
  EXPECT_TRUE(tb::PortAccesses().empty());
}

TEST_F(PrimitivesNtPorts, AFailedReadAnswersZero) {
  EXPECT_EQ(ReadPortDword(kNotADriver, 0xCFC), 0u);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{kIoctlReadPort, Le({0xCFC})}}));
}

TEST_F(PrimitivesNtPorts, ReadAndWriteSendPortAndValue) {
  WritePortDword(kDriver, 0xCF8, 0x8000FB00);
  EXPECT_EQ(ReadPortDword(kDriver, 0xCFC), 0x56781234u);
  EXPECT_EQ(DriverLog(),
            (std::vector<Sent>{{kIoctlWritePort, Le({0xCF8, 0x8000FB00})}, {kIoctlReadPort, Le({0xCFC})}}));
  EXPECT_TRUE(tb::PortAccesses().empty());
}

// The configuration address each (bus, device, function, register) makes.
struct PciCase {
  const char* name;
  uint8_t bus, device, function, reg;
  uint32_t address;
};

const PciCase kPciCases[] = {
    {"LastFunctionOfDevice31", 0, 31, 7, 0, 0x8000FF00},
    {"RegisterIndexCountsDwords", 1, 0, 0, 2, 0x80010008},
    {"WholeBusByte", 200, 0, 0, 0, 0x80C80000},
    {"DeviceCutToFiveBits", 0, 0x25, 0, 0, 0x80002800},
    {"FunctionCutToThreeBits", 0, 0, 0x09, 0, 0x80000100},
    {"RegisterCutToSixBits", 0, 0, 0, 0x41, 0x80000004},
    {"EveryFieldFull", 0xFF, 0xFF, 0xFF, 0xFF, 0x80FFFFFC},
};

struct PciOnFamily {
  tb::Platform platform;
  PciCase c;
};

void PrintTo(const PciOnFamily& p, std::ostream* os) {
  *os << (p.platform == tb::Platform::Nt ? "NT " : "9x ") << int(p.c.bus) << ":" << int(p.c.device) << "."
      << int(p.c.function) << " register " << int(p.c.reg);
}

class PrimitivesPciAddress : public testing::TestWithParam<PciOnFamily> {};

std::vector<PciOnFamily> PciCasesOnBothFamilies() {
  std::vector<PciOnFamily> out;
  for (tb::Platform p : {tb::Platform::Nt, tb::Platform::Win9x})
    for (const PciCase& c : kPciCases) out.push_back({p, c});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Cases, PrimitivesPciAddress, testing::ValuesIn(PciCasesOnBothFamilies()),
                         [](const testing::TestParamInfo<PciOnFamily>& info) {
                           return std::string(info.param.platform == tb::Platform::Nt ? "Nt_" : "Win9x_") +
                                  info.param.c.name;
                         });

TEST_P(PrimitivesPciAddress, WritesTheAddressThenReadsTheDataPort) {
  const PciCase& c = GetParam().c;
  StartOn(On(GetParam().platform));
  EXPECT_EQ(ReadPciConfigDword(kDriver, c.bus, c.device, c.function, c.reg), 0xFFFFFFFFu);  // nothing there
  if (GetParam().platform == tb::Platform::Nt) {
    EXPECT_EQ(DriverLog(),
              (std::vector<Sent>{{kIoctlWritePort, Le({0xCF8, c.address})}, {kIoctlReadPort, Le({0xCFC})}}));
    EXPECT_TRUE(tb::PortAccesses().empty());
  } else {
    EXPECT_EQ(PortLog(), (std::vector<Port>{{true, 0xCF8, c.address}, {false, 0xCFC, 0xFFFFFFFF}}));
    EXPECT_TRUE(tb::DriverRequests().empty());
  }
}

TEST_P(PrimitivesOnBothFamilies, PciReadsReachThePresentFunction) {
  StartOn(On(GetParam()).Pci(1, 0, 0, 0x10EC, 0x8139, 0x020000));
  EXPECT_EQ(ReadPciConfigDword(kDriver, 1, 0, 0, 0), 0x813910ECu);
  EXPECT_EQ(ReadPciConfigDword(kDriver, 1, 0, 0, 2), 0x02000000u);
  EXPECT_EQ(ReadPciConfigDword(kDriver, 1, 1, 0, 0), 0xFFFFFFFFu);  // absent: passed on unchanged
}

// The 9x family: port instructions and low memory in place; the driver only
// for the family query, the plug-in blocks and ranges above 1 MiB.
class Primitives9x : public testing::Test {
 protected:
  void SetUp() override {
    StartOn(tb::MachineBuilder()
                .Win9x()
                .FSegmentText(0xE0C1, "F SEGMENT TEXT")
                .FSegmentBytes(0xFFFF, {0xEA})
                .Text(0xFFFE0000, "HIGH"));
  }
};

TEST_F(Primitives9x, PortsUseTheInstructionsWhateverTheHandle) {
  WritePortDword(kInvalidDriverHandle, 0xCF8, 0x80000000);
  ReadPortDword(kInvalidDriverHandle, 0xCFC);
  EXPECT_EQ(PortLog(), (std::vector<Port>{{true, 0xCF8, 0x80000000}, {false, 0xCFC, 0xFFFFFFFF}}));
  EXPECT_TRUE(tb::DriverRequests().empty());
}

TEST_F(Primitives9x, PortNumberKeepsItsLow16Bits) {
  WritePortDword(kDriver, 0x10CF8, 0x80000800);
  EXPECT_EQ(PortLog(), (std::vector<Port>{{true, 0xCF8, 0x80000800}}));
}

TEST_F(Primitives9x, FSegmentIsReadInPlaceWithoutARequest) {
  Window f = OpenFSegment(kDriver);
  EXPECT_EQ(f.address, 0xF0000u);
  EXPECT_EQ(f.bytes.size(), 0x10000u);  // the whole segment, its last byte too
  EXPECT_EQ(f.bytes.U8(0xFFFF), 0xEA);
  char text[20];
  f.bytes.CopyText(0xE0C1, text, sizeof text);
  EXPECT_STREQ(text, "F SEGMENT TEXT");
  CloseWindow(kDriver, f);
  EXPECT_TRUE(tb::DriverRequests().empty());
}

TEST_F(Primitives9x, HighRangeUsesThe9xMappingAndIsNeverReleased) {
  Window w = OpenHighWindow(kDriver, 0xFFFE0000, 0x20000);
  ASSERT_NE(w.address, 0u);
  EXPECT_TRUE(w.bytes.Matches(0, MakeMarker("HIGH")));
  CloseWindow(kDriver, w);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{kIoctl9xMapHigh, Le({0xFFFE0000, 0x20000})}}));
}

TEST_F(Primitives9x, HighMappingAnswersZeroWhenTheDriverGivesNothing) {
  EXPECT_EQ(MapPhysicalHigh9x(kNotADriver, 0xFFFE0000, 0x20000), 0u);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{kIoctl9xMapHigh, Le({0xFFFE0000, 0x20000})}}));
}

TEST(PrimitivesNtWindows, FSegmentIsMappedShortOfItsLastTwoBytesAndReleased) {
  StartOn(tb::MachineBuilder().Nt().FSegmentText(0xE0C1, "F SEGMENT TEXT").FSegmentBytes(0xFFFD, {0x5A, 0xEA}));
  Window f = OpenFSegment(kDriver);
  ASSERT_NE(f.address, 0u);
  EXPECT_NE(f.address, 0xF0000u);
  EXPECT_EQ(f.bytes.size(), 0xFFFEu);
  EXPECT_EQ(f.bytes.U8(0xFFFD), 0x5A);
  EXPECT_EQ(f.bytes.U8(0xFFFE), 0);  // outside the window: read as 0, not past it
  const uint32_t address = f.address;
  CloseWindow(kDriver, f);
  EXPECT_EQ(DriverLog(),
            (std::vector<Sent>{{kIoctlMapPhysical, Le({0xF0000, 0xFFFE})}, {kIoctlUnmapPhysical, Le({address})}}));
  EXPECT_EQ(tb::OutstandingMappedWindows(), 0u);
}

TEST(PrimitivesNtWindows, HighRangeUsesTheNtMappingAndIsReleased) {
  StartOn(tb::MachineBuilder().Nt().Text(0xFFFE0000, "HIGH"));
  Window w = OpenHighWindow(kDriver, 0xFFFE0000, 0x20000);
  ASSERT_NE(w.address, 0u);
  EXPECT_TRUE(w.bytes.Matches(0, MakeMarker("HIGH")));
  const uint32_t address = w.address;
  CloseWindow(kDriver, w);
  EXPECT_EQ(DriverLog(),
            (std::vector<Sent>{{kIoctlMapPhysical, Le({0xFFFE0000, 0x20000})}, {kIoctlUnmapPhysical, Le({address})}}));
  EXPECT_EQ(tb::OutstandingMappedWindows(), 0u);
}

TEST(PrimitivesNtWindows, FailedFSegmentGivesNoWindow) {
  StartOn(tb::MachineBuilder().Nt().FailMapAt(0xF0000));
  Window f = OpenFSegment(kDriver);
  EXPECT_EQ(f.address, 0u);
  EXPECT_TRUE(f.bytes.empty());
  CloseWindow(kDriver, f);
  EXPECT_EQ(DriverLog(), (std::vector<Sent>{{kIoctlMapPhysical, Le({0xF0000, 0xFFFE})}}));
}

}  // namespace
}  // namespace orr
