// The testbed's physical memory: copies of a machine carry exactly its
// bytes, and driver windows show the memory in place while reads beside or
// after a window are still caught.
#include <gtest/gtest.h>

#include <string>
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

TEST(TestbedMemory, WritesWrapAtFourGiBAndCrossTheFirstMegabyte) {
  tb::PhysicalMemory m;
  m.Write(0xFFFFFFFEu, Bytes{1, 2, 3, 4});
  EXPECT_EQ(m.Read(0xFFFFFFFEu, 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(m.Read(0, 2), (Bytes{3, 4}));
  m.Write(0xFFFFEu, Bytes{5, 6, 7, 8});
  EXPECT_EQ(m.Read(0xFFFFEu, 4), (Bytes{5, 6, 7, 8}));
  EXPECT_EQ(m.LowMemory()[0xFFFFF], 6);
  EXPECT_EQ(m.Read(0x80000000u, 3), Bytes(3, 0)) << "never written";
}

TEST(TestbedMemory, CopiesCarryExactlyTheSourceBytes) {
  tb::PhysicalMemory a;
  a.Write(0x200000, Ramp(0x20000, 1));  // two whole chunks and more
  a.Write(0xF0000, Bytes{9, 9});
  tb::PhysicalMemory b;
  b.Write(0x7000000, Bytes{0xEE, 0xEE});
  b.Write(0x210000, Bytes{0xDD});
  const uint8_t* view = b.View(0x7000000, 2);
  ASSERT_NE(view, nullptr);

  b = a;
  EXPECT_EQ(b.Read(0x200000, 0x20000), Ramp(0x20000, 1));
  EXPECT_EQ(b.Read(0xF0000, 2), (Bytes{9, 9}));
  EXPECT_EQ(b.Read(0x7000000, 2), Bytes(2, 0)) << "bytes only the old content had are gone";
  EXPECT_EQ(view[0], 0) << "a view taken before shows the new content";

  tb::PhysicalMemory c(b);
  b.Write(0x200000, Bytes{0x55});
  EXPECT_EQ(c.Read(0x200000, 1), Bytes{1}) << "a copy does not follow later writes";
  tb::PhysicalMemory moved(std::move(c));
  EXPECT_EQ(moved.Read(0x200000, 0x20000), Ramp(0x20000, 1));
  const tb::PhysicalMemory& same = b;
  b = same;
  EXPECT_EQ(b.Read(0x200000, 1), Bytes{0x55}) << "assigned to itself";

  // Clear gives every byte back as 0, and views show it.
  b.Write(0x7000000, Bytes{0xEE, 0xEE});
  b.Clear();
  EXPECT_EQ(b.Read(0xF0000, 2), Bytes(2, 0));
  EXPECT_EQ(b.Read(0x200000, 0x20000), Bytes(0x20000, 0));
  EXPECT_EQ(view[0], 0);
  b.Write(0x7000000, Bytes{0x11});
  EXPECT_EQ(view[0], 0x11) << "a view taken before Clear still shows the memory";
}

TEST(TestbedMemory, ViewsOnlyAboveTheFirstMegabyteAndBelowFourGiB) {
  tb::PhysicalMemory m;
  EXPECT_EQ(m.View(0xF0000, 0x100), nullptr);
  EXPECT_EQ(m.View(0xFFFFFF00u, 0x101), nullptr) << "would wrap";
  EXPECT_EQ(m.View(0x100000, 0), nullptr);
  const uint8_t* top = m.View(0xFFFFFF00u, 0x100);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top[0xFF], 0);
  EXPECT_EQ(m.View(0xFFFFFF00u, 0x100), top) << "the same range gives the same view";
}

// Every mapping the driver hands out shows what a copy would have shown,
// above and below the first megabyte and across it.
TEST(TestbedMemory, DriverWindowsShowTheMachinesBytes) {
  tb::MachineBuilder b = NtMachine(0);
  b.Bytes(0xFF000123u, Ramp(5000, 7)).Bytes(0xF0000, Ramp(0x10000, 3)).Bytes(0xFFFF0, Ramp(0x20, 11));
  const uint32_t driver = OpenDriverOn(b);
  struct Range {
    uint32_t physical, length;
  };
  for (Range r : {Range{0xFF000123u, 5000}, Range{0xFF000000u, 0x1000000}, Range{0xF0000, 0xFFFE},
                  Range{0xFFFF0, 0x20}}) {
    const uint32_t window = MapPhysical(driver, r.physical, r.length);
    ASSERT_NE(window, 0u);
    const Bytes want = tb::CurrentMachine().memory.Read(r.physical, r.length);
    EXPECT_EQ(Bytes(WindowPointer(window), WindowPointer(window) + r.length), want) << std::hex << r.physical;
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
