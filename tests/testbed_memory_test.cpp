// The testbed's physical memory: sparse over 4 GiB, and driver windows show
// it in place while reads beside or after a window are still caught.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "detect_helpers.h"
#include "hwaccess/platform_io.h"

namespace {

using Bytes = std::vector<uint8_t>;
using orr::MapPhysical;
using orr::UnmapPhysical;
using orr::WindowPointer;

Bytes Ramp(size_t size, uint8_t start) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(start + i);
  return b;
}

// Sparse memory over the whole 4 GiB: writes wrap at the top and cross the
// first megabyte; views (windows shown in place) exist only above it and
// never wrap.
TEST(TestbedMemory, WritesWrapAtFourGiBAndViewsStayAboveTheFirstMegabyte) {
  tb::PhysicalMemory m;
  m.Write(0xFFFFFFFEu, Bytes{1, 2, 3, 4});
  EXPECT_EQ(m.Read(0xFFFFFFFEu, 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(m.Read(0, 2), (Bytes{3, 4}));
  m.Write(0xFFFFEu, Bytes{5, 6, 7, 8});
  EXPECT_EQ(m.Read(0xFFFFEu, 4), (Bytes{5, 6, 7, 8}));
  EXPECT_EQ(m.LowMemory()[0xFFFFF], 6);
  EXPECT_EQ(m.Read(0x80000000u, 3), Bytes(3, 0)) << "never written";
  EXPECT_EQ(m.View(0xF0000, 0x100), nullptr);
  EXPECT_EQ(m.View(0xFFFFFF00u, 0x101), nullptr) << "would wrap";
  const uint8_t* top = m.View(0xFFFFFF00u, 0x100);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top[0xFE], 1);
  EXPECT_EQ(m.View(0xFFFFFF00u, 0x100), top) << "the same range gives the same view";
}

// Every mapping the driver hands out shows what a copy would have shown,
// above and below the first megabyte and across it.
TEST(TestbedMemory, DriverWindowsShowTheMachinesBytes) {
  tb::MachineBuilder b = NtMachine(0);
  b.Bytes(0xFF000123u, Ramp(5000, 7)).Bytes(0xF0000, Ramp(0x10000, 3)).Bytes(0xFFFF0, Ramp(0x20, 11));
  const uint32_t driver = OpenDriverOn(b);
  for (auto [physical, length] : {std::pair<uint32_t, uint32_t>{0xFF000123u, 5000}, {0xFF000000u, 0x1000000},
                                  {0xF0000, 0xFFFE}, {0xFFFF0, 0x20}}) {
    const uint32_t window = MapPhysical(driver, physical, length);
    ASSERT_NE(window, 0u);
    const Bytes want = tb::CurrentMachine().memory.Read(physical, length);
    EXPECT_EQ(Bytes(WindowPointer(window), WindowPointer(window) + length), want) << std::hex << physical;
    UnmapPhysical(driver, window);
    EXPECT_EQ(WindowPointer(window), nullptr);
  }
  ExpectNothingOutstanding();
}

// A read past a window that ends on a page boundary meets a page that faults.
TEST(TestbedMemoryDeathTest, ReadPastAWindowEndingOnAPageFaults) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const uint32_t driver = OpenDriverOn(NtMachine(0).Text(0xFFFFE000u, "END"));
  const uint32_t window = MapPhysical(driver, 0xFFFFE000u, 0x1000);
  ASSERT_NE(window, 0u);
  const volatile uint8_t* bytes = WindowPointer(window);
  EXPECT_EQ(bytes[0xFFF], 0);
  EXPECT_DEATH(bytes[0x1000], "");
  UnmapPhysical(driver, window);
}

#if defined(__SANITIZE_ADDRESS__)
// With AddressSanitizer, reads beside a window or of a released one are
// reported as they were when windows were copies.
TEST(TestbedMemoryDeathTest, CheckerCatchesReadsBesideOrAfterAWindow) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const uint32_t driver = OpenDriverOn(NtMachine(0));
  const uint32_t window = MapPhysical(driver, 0xFF000010u, 0x20);
  ASSERT_NE(window, 0u);
  const volatile uint8_t* bytes = WindowPointer(window);
  EXPECT_EQ(bytes[0x1F], 0);
  EXPECT_DEATH(bytes[0x20], "use-after-poison");
  EXPECT_DEATH(bytes[-1], "use-after-poison");
  UnmapPhysical(driver, window);
  EXPECT_DEATH(bytes[0], "use-after-poison");
  const uint32_t again = MapPhysical(driver, 0xFF000010u, 0x20);
  EXPECT_EQ(WindowPointer(again)[0], 0) << "mapped again, readable again";
  UnmapPhysical(driver, again);
}
#endif

}  // namespace
