#include "common/byte_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orr {
namespace {

ByteView View(const std::string& s) { return ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

TEST(ByteView, ReadsOutsideTheViewGiveZero) {
  std::string bytes("\x01\x02\x03\x04\x05", 5);
  ByteView v = View(bytes);
  EXPECT_EQ(v.U8(4), 5);
  EXPECT_EQ(v.U8(5), 0);
  EXPECT_EQ(v.U16(3), 0x0504);
  EXPECT_EQ(v.U16(4), 0);
  EXPECT_EQ(v.U32(1), 0x05040302u);
  EXPECT_EQ(v.U32(2), 0u);
  EXPECT_EQ(v.U32(0xFFFFFFFEu), 0u);  // offset + 4 would wrap
  EXPECT_FALSE(v.Contains(0xFFFFFFFFu, 2));
  EXPECT_TRUE(v.Contains(5, 0));
}

struct SearchCase {
  const char* name;
  std::string haystack;
  uint32_t first, step, last;
  uint32_t expectFirst, expectLast;
};

class ByteViewSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(ByteViewSearch, FirstAndLastMatch) {
  const SearchCase& c = GetParam();
  ByteView v = View(c.haystack);
  constexpr Marker kAb = MakeMarker("AB");
  EXPECT_EQ(v.FindFirst(kAb, c.first, c.step, c.last), c.expectFirst);
  EXPECT_EQ(v.FindLast(kAb, c.first, c.step, c.last), c.expectLast);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ByteViewSearch,
    testing::Values(SearchCase{"AtFirstOffset", "ABxxxx", 0, 1, kNotFound, 0, 0},
                    SearchCase{"AtLastPossibleOffset", "xxxxAB", 0, 1, kNotFound, 4, 4},
                    SearchCase{"CutByTheEnd", "xxxxxA", 0, 1, kNotFound, kNotFound, kNotFound},
                    SearchCase{"Overlapping", "ABABAB", 0, 1, kNotFound, 0, 4},
                    SearchCase{"StepSkipsAMatch", "xABxxABx", 0, 4, kNotFound, kNotFound, kNotFound},
                    SearchCase{"StepFindsAMatch", "xxxxABxx", 0, 4, kNotFound, 4, 4},
                    SearchCase{"LastLimitsTheStart", "xxxxAB", 0, 1, 3, kNotFound, kNotFound},
                    SearchCase{"LastIsInclusive", "xxxxAB", 0, 1, 4, 4, 4},
                    SearchCase{"FirstSkipsEarlier", "ABxxAB", 1, 1, kNotFound, 4, 4},
                    SearchCase{"EmptyView", "", 0, 1, kNotFound, kNotFound, kNotFound}),
    [](const testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

TEST(ByteView, ForEachMatchVisitsEveryOccurrenceInOrder) {
  std::string bytes = "ABxABABx";
  std::vector<uint32_t> seen;
  View(bytes).ForEachMatch(MakeMarker("AB"), 0, 1, kNotFound, [&](uint32_t at) {
    seen.push_back(at);
    return true;
  });
  EXPECT_EQ(seen, (std::vector<uint32_t>{0, 3, 5}));
}

TEST(ByteView, CopyTextStopsAtTheViewEndAndReportsWhereTheNextTextStarts) {
  std::string bytes("one\0three", 9);
  ByteView v = View(bytes);
  char small[3];
  EXPECT_EQ(v.CopyText(0, small, sizeof small), 4u);  // behind the whole first text's NUL
  EXPECT_STREQ(small, "on");
  char rest[16];
  EXPECT_EQ(v.CopyText(4, rest, sizeof rest), 9u);  // no NUL: the view's end
  EXPECT_STREQ(rest, "three");
  EXPECT_EQ(v.CopyText(20, rest, sizeof rest), 9u);
  EXPECT_STREQ(rest, "");
}

}  // namespace
}  // namespace orr
