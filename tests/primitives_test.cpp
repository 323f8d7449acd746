// The hardware access primitives on both families, judged by what reached
// the access driver and the port instructions.
#include "hwaccess/primitives.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "detect_helpers.h"

namespace orr {
namespace {

using Bytes = std::vector<uint8_t>;
using Log = std::vector<std::pair<uint32_t, Bytes>>;                  // driver requests: code, input
using Ports = std::vector<std::tuple<bool, uint16_t, uint32_t>>;  // port accesses: write, port, value

constexpr uint32_t kDriver = tb::kDriverHandle;
constexpr uint32_t kNotADriver = 0x00001234;  // a handle the driver does not answer on

Bytes Le(std::initializer_list<uint32_t> values) {
  Bytes out;
  for (uint32_t v : values)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

Log DriverLog() {
  Log out;
  for (const tb::Request& r : tb::DriverRequests()) out.emplace_back(r.code, r.input);
  return out;
}

Ports PortLog() {
  Ports out;
  for (const tb::PortAccess& a : tb::PortAccesses()) out.emplace_back(a.write, a.port, a.value);
  return out;
}

// One machine per family: a family, two PCI functions, text above 1 MiB, the
// last bytes of the F segment, and one failing mapping.
void OpenOn(bool nt, bool failFSegment = false) {
  tb::MachineBuilder b = MachineOn(nt ? tb::Platform::Nt : tb::Platform::Win9x, 0x12345678);
  if (failFSegment) b.FailMapAt(0xF0000);
  b.FailMapAt(0xFFFF0000).Pci(0, 31, 3, 0x1234, 0x5678, 0x040300).Pci(1, 0, 0, 0x10EC, 0x8139, 0x020000);
  b.Text(0xFFFE0000, "HIGH");
  OpenDriverOn(b.FSegmentBytes(0xFFFD, {0x5A, 0xEA, 0xEA}));
}

// On NT every port access is a driver request; on 9x the port instructions
// run whatever the handle, and the driver only answers the family query, the
// plug-in blocks and ranges above 1 MiB. The request codes differ by family.
TEST(Primitives, EachCallSendsItsRequestsOnItsFamily) {
  struct Call { const char* name; bool nt; std::function<uint32_t()> call; uint32_t result; Log driver; Ports ports; };
  std::vector<Call> calls;
  for (bool nt : {true, false}) {
    const uint32_t type = nt ? 0x2224D4 : 127, blockA = nt ? 0x222484 : 121, blockB = nt ? 0x222488 : 122;
    calls.insert(calls.end(), {
        {"map on a missing driver", nt, [] { return MapPhysical(kInvalidDriverHandle, 0xF0000, 0xFFFE); }, 0, {}, {}},
        {"failed map", nt, [] { return MapPhysical(kDriver, 0xFFFF0000, 0x10000); }, 0,
         {{kIoctlMapPhysical, Le({0xFFFF0000, 0x10000})}}, {}},
        {"map past 4 GiB", nt, [] { return MapPhysical(kDriver, 0xFFFFF000, 0x2000); }, 0, {}, {}},
        {"high map past 4 GiB", nt, [] { return MapPhysicalHigh9x(kDriver, 0xFFFFFF00, 0x101); }, 0, {}, {}},
        {"map ending at 4 GiB", nt, [] { return uint32_t{MapPhysical(kDriver, 0xFFFFF000, 0x1000) != 0}; }, 1,
         {{kIoctlMapPhysical, Le({0xFFFFF000, 0x1000})}}, {}},
        {"unmap of no window", nt, [] { return UnmapPhysical(kDriver, 0), 0u; }, 0, {}, {}},
        {"BIOS type", nt, [] { return QueryBiosType(kDriver); }, 0x12345678, {{type, {}}}, {}},
        {"BIOS type on an invalid handle is still sent", nt, [] { return QueryBiosType(kInvalidDriverHandle); }, 0,
         {{type, {}}}, {}},
        {"failed plug-in reads leave the fields (read: PlatformFamily)", nt,
         [] {
           uint8_t(&a)[21] = MachineBios.pluginBlockA, (&b)[21] = MachineBios.pluginBlockB;
           std::memset(a, 0x77, 21), std::memset(b, 0x77, 21);
           ReadPluginBlockA(kNotADriver, a), ReadPluginBlockB(kNotADriver, b);
           return static_cast<uint32_t>(std::count(a, a + 21, 0x77) + std::count(b, b + 21, 0x77));
         },
         42, {{blockA, {}}, {blockB, {}}}, {}},
        {"PCI read of a present function", nt, [] { return ReadPciConfigDword(kDriver, 1, 0, 0, 0); }, 0x813910EC,
         nt ? Log{{kIoctlWritePort, Le({0xCF8, 0x80010000})}, {kIoctlReadPort, Le({0xCFC})}} : Log{},
         nt ? Ports{} : Ports{{true, 0xCF8, 0x80010000}, {false, 0xCFC, 0x813910EC}}},
        {"PCI read of an absent function passes all ones on", nt,
         [] { return ReadPciConfigDword(kDriver, 1, 1, 0, 0); }, 0xFFFFFFFF,
         nt ? Log{{kIoctlWritePort, Le({0xCF8, 0x80010800})}, {kIoctlReadPort, Le({0xCFC})}} : Log{},
         nt ? Ports{} : Ports{{true, 0xCF8, 0x80010800}, {false, 0xCFC, 0xFFFFFFFF}}},
    });
  }
  calls.insert(calls.end(), {
      {"read on a missing driver", true, [] { return ReadPortDword(kInvalidDriverHandle, 0xCFC); }, 0, {}, {}},
      {"write on a missing driver", true, [] { return WritePortDword(kInvalidDriverHandle, 0xCF8, 1), 0u; }, 0, {}, {}},
      {"failed read", true, [] { return ReadPortDword(kNotADriver, 0xCFC); }, 0, {{kIoctlReadPort, Le({0xCFC})}}, {}},
      {"write then read", true,
       [] { return WritePortDword(kDriver, 0xCF8, 0x8000FB00), ReadPortDword(kDriver, 0xCFC); },
       0x56781234, {{kIoctlWritePort, Le({0xCF8, 0x8000FB00})}, {kIoctlReadPort, Le({0xCFC})}}, {}},
      {"ports whatever the handle", false,
       [] { return WritePortDword(kInvalidDriverHandle, 0xCF8, 0x8000FB00), ReadPortDword(kInvalidDriverHandle, 0xCFC);
       },
       0x56781234, {}, {{true, 0xCF8, 0x8000FB00}, {false, 0xCFC, 0x56781234}}},
      {"port keeps its low 16 bits", false, [] { return WritePortDword(kDriver, 0x10CF8, 0x80000800), 0u; }, 0, {},
       {{true, 0xCF8, 0x80000800}}},
      {"high map refused", false, [] { return MapPhysicalHigh9x(kNotADriver, 0xFFFE0000, 0x20000); }, 0,
       {{kIoctl9xMapHigh, Le({0xFFFE0000, 0x20000})}}, {}},
  });
  for (const Call& c : calls) {
    SCOPED_TRACE(testing::Message() << (c.nt ? "NT: " : "9x: ") << c.name);
    OpenOn(c.nt);
    EXPECT_EQ(c.call(), c.result);
    EXPECT_EQ(DriverLog(), c.driver);
    EXPECT_EQ(PortLog(), c.ports);
  }
}

// The configuration address each (bus, device, function, register) makes;
// both families write it alike (the table above).
TEST(Primitives, PciConfigAddress) {
  const struct { uint8_t bus, device, function, reg; uint32_t address; } cases[] = {
      {0, 31, 7, 0, 0x8000FF00},  {2, 0, 0, 2, 0x80020008},    {200, 0, 0, 0, 0x80C80000},
      {0, 0x25, 0, 0, 0x80002800}, {0, 0, 0x09, 0, 0x80000100}, {0, 0, 0, 0x41, 0x80000004},  // each field cut
      {0xFF, 0xFF, 0xFF, 0xFF, 0x80FFFFFC}};
  for (const auto& c : cases) EXPECT_EQ(PciConfigAddress(c.bus, c.device, c.function, c.reg), c.address);
}

// What each window shows and what opening and closing it asked for. NT maps
// the F segment short of its last two bytes and releases every mapped
// window; 9x reads the F segment in place and never releases a window. A
// failed window has no bytes and needs no release.
TEST(Primitives, WindowsOpenAndCloseByFamily) {
  for (bool nt : {true, false}) {
    SCOPED_TRACE(nt ? "NT" : "9x");
    OpenOn(nt);
    Window f = OpenFSegment(kDriver), high = OpenHighWindow(kDriver, 0xFFFE0000, 0x20000);
    Window mapped = OpenMappedWindow(kDriver, 0xFFFE0000, 0x10000);
    EXPECT_EQ(f.address == 0xF0000u, !nt);
    EXPECT_EQ(f.bytes.size(), nt ? 0xFFFEu : 0x10000u);
    EXPECT_EQ(f.bytes.U8(0xFFFD), 0x5A);
    EXPECT_EQ(f.bytes.U8(0xFFFE) + f.bytes.U8(0xFFFF), nt ? 0 : 2 * 0xEA);  // outside the NT window: read as 0
    EXPECT_TRUE(high.bytes.Matches(0, MakeMarker("HIGH")));
    EXPECT_TRUE(mapped.bytes.Matches(0, MakeMarker("HIGH")));
    const Log ntWant{{kIoctlMapPhysical, Le({0xF0000, 0xFFFE})},     {kIoctlMapPhysical, Le({0xFFFE0000, 0x20000})},
                     {kIoctlMapPhysical, Le({0xFFFE0000, 0x10000})}, {kIoctlUnmapPhysical, Le({f.address})},
                     {kIoctlUnmapPhysical, Le({high.address})},      {kIoctlUnmapPhysical, Le({mapped.address})}};
    for (Window* w : {&f, &high, &mapped}) CloseWindow(kDriver, *w);
    EXPECT_TRUE(f.address == 0 && f.bytes.empty());
    const Log win9xWant{{kIoctl9xMapHigh, Le({0xFFFE0000, 0x20000})}, {kIoctlMapPhysical, Le({0xFFFE0000, 0x10000})}};
    EXPECT_EQ(DriverLog(), nt ? ntWant : win9xWant);

    OpenOn(nt, true);
    for (Window w : {OpenFSegment(kDriver), OpenHighWindow(kDriver, 0xFFFF0000, 0x10000),
                     OpenMappedWindow(kNotADriver, 0xF0000, 0x100)}) {
      if (w.address == 0xF0000 && !nt) continue;  // the 9x F segment needs no mapping
      EXPECT_TRUE(w.address == 0 && w.bytes.empty());
      CloseWindow(kDriver, w);
    }
    EXPECT_EQ(CountDriverRequests(kIoctlUnmapPhysical), 0u);
  }
}

}  // namespace
}  // namespace orr
