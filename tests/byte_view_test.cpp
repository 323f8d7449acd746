#include "common/byte_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/pair_scan.h"

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

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

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
                    SearchCase{"FirstIsInclusive", "xxABxx", 2, 1, kNotFound, 2, 2},
                    SearchCase{"FirstAfterLast", "ABABAB", 4, 1, 2, kNotFound, kNotFound},
                    SearchCase{"FirstBeyondTheView", "ABABAB", 100, 1, kNotFound, kNotFound, kNotFound},
                    SearchCase{"GridStartsAtFirst", "xABxxABxx", 1, 4, kNotFound, 1, 5},
                    SearchCase{"FindLastOnAGrid", "ABxxABxxAB", 0, 4, kNotFound, 0, 8},
                    SearchCase{"FindLastOnAGridBelowLast", "ABxxABxxAB", 0, 4, 7, 0, 4},
                    SearchCase{"GridMissesTheLastMatch", "ABxxxABxx", 0, 4, kNotFound, 0, 0},
                    SearchCase{"HugeStepTestsFirstOnly", "ABxxAB", 0, 0xFFFFFFFFu, kNotFound, 0, 0},
                    SearchCase{"HugeStepFromALaterFirst", "ABxxAB", 4, 0x80000000u, kNotFound, 4, 4},
                    SearchCase{"StepZeroFindsNothing", "ABAB", 0, 0, kNotFound, kNotFound, kNotFound},
                    SearchCase{"MarkerLongerThanTheView", "A", 0, 1, kNotFound, kNotFound, kNotFound},
                    SearchCase{"EmptyView", "", 0, 1, kNotFound, kNotFound, kNotFound}),
    [](const testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

TEST(ByteView, MatchJustBeyondTheViewIsNotFound) {
  std::string bytes = "xxxxAB";
  ByteView v(reinterpret_cast<const uint8_t*>(bytes.data()), 5);
  EXPECT_EQ(v.FindFirst(MakeMarker("AB")), kNotFound);
  EXPECT_EQ(v.FindLast(MakeMarker("AB")), kNotFound);
  EXPECT_EQ(v.FindFirst(MakeMarker("A")), 4u);
  // The longer of two markers stops earlier: its match cut by the end is not
  // found, while the shorter one is still looked for beyond.
  std::string longer = "xxxxABC";
  ByteView cut(reinterpret_cast<const uint8_t*>(longer.data()), 6);
  EXPECT_EQ(cut.FindFirstOfEither(MakeMarker("ABC"), MakeMarker("Bz")), kNotFound);
  EXPECT_EQ(cut.FindFirstOfEither(MakeMarker("ABC"), MakeMarker("AB")), 4u);
}

// The searches test many offsets at once and walk back in stretches; a match
// must be found wherever it stands against those rounds, also when the rest
// of the view is full of the marker's first byte.
TEST(ByteView, MatchesAreFoundAtEveryPositionAgainstTheSearchRounds) {
  constexpr uint32_t kSize = 40000;
  const Marker ab = MakeMarker("ABC");
  for (char filler : {'x', 'A'}) {
    for (uint32_t at : {0u, 1u, 31u, 32u, 126u, 127u, 128u, 129u, 255u, 256u, 0x3FFFu, 0x4000u, 0x4001u,
                        kSize - 0x4000u, kSize - 0x4001u, kSize - 67u, kSize - 68u, kSize - 4u, kSize - 3u}) {
      std::string bytes(kSize, filler);
      bytes.replace(at, 3, "ABC");
      ByteView v = View(bytes);
      EXPECT_EQ(v.FindFirst(ab), at) << filler << " " << at;
      EXPECT_EQ(v.FindFirstOfEither(MakeMarker("*MEO"), ab), at) << filler << " " << at;
      EXPECT_EQ(v.FindLast(ab), at) << filler << " " << at;
      EXPECT_EQ(v.FindFirst(ab, at), at) << filler << " " << at;
      EXPECT_EQ(v.FindFirst(ab, at + 1), kNotFound) << filler << " " << at;
      EXPECT_EQ(v.FindLast(ab, 0, 1, at), at) << filler << " " << at;
      if (at > 0) EXPECT_EQ(v.FindLast(ab, 0, 1, at - 1), kNotFound) << filler << " " << at;
    }
  }
}

TEST(ByteView, SingleByteMarkersAndRepeatedFirstBytes) {
  std::string bytes(50000, 'x');
  bytes[3] = bytes[20000] = bytes[49999] = '\0';
  ByteView v = View(bytes);
  static constexpr char kNul[1] = {0};
  EXPECT_EQ(v.FindFirst(Marker{kNul, 1}), 3u);
  EXPECT_EQ(v.FindLast(Marker{kNul, 1}), 49999u);
  EXPECT_EQ(v.FindLast(Marker{kNul, 1}, 0, 1, 49998), 20000u);
  EXPECT_EQ(v.FindLast(Marker{kNul, 1}, 4, 1, 19999), kNotFound);

  std::string same(30000, 'A');
  same.replace(29000, 3, "AAB");
  EXPECT_EQ(View(same).FindFirst(MakeMarker("AAB")), 29000u);
  EXPECT_EQ(View(same).FindLast(MakeMarker("AAB")), 29000u);
  EXPECT_EQ(View(same).FindLast(MakeMarker("AA"), 0, 1, 28000), 28000u);
}

// Every search against a plain loop over all offsets, on views small and
// large enough to cross the search rounds, with matches sparse and dense.
TEST(ByteView, SearchesAgreeWithAPlainLoop) {
  std::mt19937 rng(7);
  auto naiveFirst = [](const std::string& h, const std::string& m, uint64_t first, uint64_t step, uint64_t last) {
    for (uint64_t at = first; at <= last && at + m.size() <= h.size(); at += step)
      if (h.compare(at, m.size(), m) == 0) return static_cast<uint32_t>(at);
    return kNotFound;
  };
  auto naiveLast = [](const std::string& h, const std::string& m, uint64_t first, uint64_t step, uint64_t last) {
    uint32_t found = kNotFound;
    for (uint64_t at = first; at <= last && at + m.size() <= h.size(); at += step)
      if (h.compare(at, m.size(), m) == 0) found = static_cast<uint32_t>(at);
    return found;
  };
  for (int trial = 0; trial < 300; ++trial) {
    const std::string alphabet = trial % 3 == 0 ? "AB" : trial % 3 == 1 ? "ABx" : "ABxyzw0123456789";
    const size_t size = trial % 4 == 0 ? rng() % 64 : rng() % 40000;
    std::string hay(size, ' ');
    for (char& c : hay) c = alphabet[rng() % alphabet.size()];
    std::string marker(1 + rng() % 4, ' ');
    for (char& c : marker) c = alphabet[rng() % 2];
    const uint32_t first = size ? rng() % (size + 2) : 0;
    const uint32_t step = trial % 2 ? 1 : 1 + rng() % 40;
    const uint32_t last = trial % 5 == 0 ? kNotFound : first + rng() % (size + 1);
    std::string other(1 + rng() % 4, ' ');
    for (char& c : other) c = alphabet[rng() % alphabet.size()];
    const Marker m{marker.data(), static_cast<uint32_t>(marker.size())};
    const ByteView v = View(hay);
    const std::string what = "trial " + std::to_string(trial) + " marker " + marker + " other " + other;
    EXPECT_EQ(v.FindFirst(m, first, step, last), naiveFirst(hay, marker, first, step, last)) << what;
    EXPECT_EQ(v.FindFirstOfEither(m, Marker{other.data(), static_cast<uint32_t>(other.size())}, first, last),
              std::min(naiveFirst(hay, marker, first, 1, last), naiveFirst(hay, other, first, 1, last)))
        << what;
    EXPECT_EQ(v.FindLast(m, first, step, last), naiveLast(hay, marker, first, step, last)) << what;
    std::vector<uint32_t> seen, want;
    v.ForEachMatch(m, first, step, last, [&](uint32_t at) {
      seen.push_back(at);
      return true;
    });
    for (uint64_t at = first; at <= last && at + marker.size() <= hay.size(); at += step)
      if (hay.compare(at, marker.size(), marker) == 0) want.push_back(static_cast<uint32_t>(at));
    EXPECT_EQ(seen, want) << what;
  }
}

// Every filter this processor runs gives the first pair a plain loop finds,
// and none reads beyond data[end] (the bytes end there).
TEST(ByteView, PairFiltersAgreeWithAPlainLoop) {
  BytePairFilter filters[kMostBytePairFilters];
  const uint32_t count = BytePairFilters(filters);
  ASSERT_GE(count, 1u);
  EXPECT_EQ(filters[count - 1], &FindBytePairPortable);
  EitherBytePairFilter either[kMostBytePairFilters];
  const uint32_t eitherCount = EitherBytePairFilters(either);
  ASSERT_EQ(eitherCount, count);
  EXPECT_EQ(either[eitherCount - 1], &FindEitherBytePairPortable);
  std::mt19937 rng(11);
  for (int trial = 0; trial < 600; ++trial) {
    const size_t size = 1 + rng() % (trial % 5 ? 3000 : 20000);  // past the portable stretches too
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() % (trial % 2 ? 3 : 256));
    const uint32_t end = static_cast<uint32_t>(rng() % size);  // data[end] is the last byte read
    const uint32_t from = end ? static_cast<uint32_t>(rng() % (end + 1)) : 0;
    const uint8_t a = static_cast<uint8_t>(rng() % 3), b = static_cast<uint8_t>(rng() % 3);
    const BytePair other{static_cast<uint8_t>(rng() % 3), static_cast<uint8_t>(rng() % 3)};
    uint32_t want = end, wantEither = end;
    for (uint32_t i = from; i < end; ++i) {
      const bool pair = bytes[i] == a && bytes[i + 1] == b;
      if (pair && want == end) want = i;
      if ((pair || (bytes[i] == other.first && bytes[i + 1] == other.second)) && wantEither == end) wantEither = i;
    }
    const std::vector<uint8_t> exact(bytes.begin(), bytes.begin() + end + 1);  // nothing readable past end
    EXPECT_EQ(FindBytePair(exact.data(), from, end, a, b), want) << trial;
    for (uint32_t f = 0; f < count; ++f) EXPECT_EQ(filters[f](exact.data(), from, end, a, b), want) << trial << " " << f;
    EXPECT_EQ(FindEitherBytePair(exact.data(), from, end, BytePair{a, b}, other), wantEither) << trial;
    for (uint32_t f = 0; f < eitherCount; ++f)
      EXPECT_EQ(either[f](exact.data(), from, end, BytePair{a, b}, other), wantEither) << trial << " " << f;
  }
}

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
