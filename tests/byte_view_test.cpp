#include "common/byte_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include "common/pair_scan.h"

namespace orr {
namespace {

ByteView View(const std::string& s) { return ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

// Accessors outside the view read 0 (searches: see the plain-loop test); a
// text is copied up to the view's end.
TEST(ByteView, ReadsAndCopiesStayInsideTheView) {
  std::string bytes("\x01\x02\x03\x04\x05", 5);
  ByteView v = View(bytes);
  EXPECT_EQ(std::make_tuple(v.U8(4), v.U8(5), v.U16(3), v.U16(4), v.U32(1), v.U32(2)),
            std::make_tuple(5, 0, 0x0504, 0, 0x05040302u, 0u));
  EXPECT_EQ(v.U32(0xFFFFFFFEu), 0u);  // offset + 4 would wrap
  EXPECT_FALSE(v.Contains(0xFFFFFFFFu, 2));
  EXPECT_TRUE(v.Contains(5, 0));
  // CopyText answers where the next text starts: behind the NUL, or the view's end.
  std::string texts("one\0three", 9);
  char small[3], rest[16];
  EXPECT_EQ(View(texts).CopyText(0, small, sizeof small), 4u);
  EXPECT_STREQ(small, "on");
  EXPECT_EQ(View(texts).CopyText(4, rest, sizeof rest), 9u);
  EXPECT_STREQ(rest, "three");
  EXPECT_EQ(View(texts).CopyText(20, rest, sizeof rest), 9u);
  EXPECT_STREQ(rest, "");
}

// The searches test many offsets at once and walk back in stretches; a match
// must be found wherever it stands against those rounds, also when the rest
// of the view is full of the marker's first byte; a single-byte marker too.
TEST(ByteView, MatchesAreFoundAtEveryPositionAgainstTheSearchRounds) {
  constexpr uint32_t kSize = 40000;
  const Marker ab = MakeMarker("ABC"), kB = MakeMarker("B");
  for (char filler : {'x', 'A'}) {
    for (uint32_t at : {0u, 1u, 31u, 32u, 126u, 127u, 128u, 129u, 255u, 256u, 0x3FFFu, 0x4000u, 0x4001u,
                        kSize - 0x4000u, kSize - 0x4001u, kSize - 67u, kSize - 68u, kSize - 4u, kSize - 3u}) {
      std::string bytes(kSize, filler);
      bytes.replace(at, 3, "ABC");
      ByteView v = View(bytes);
      EXPECT_EQ(v.FindFirst(ab), at) << filler << " " << at;
      EXPECT_EQ(v.FindFirstOfEither(MakeMarker("*MEO"), ab), at) << filler << " " << at;
      EXPECT_EQ(v.FindLast(ab), at) << filler << " " << at;
      EXPECT_EQ(v.FindFirst(kB), at + 1) << filler << " " << at;  // a single byte, the only one
      EXPECT_EQ(v.FindLast(kB), at + 1) << filler << " " << at;
      EXPECT_EQ(v.FindFirst(ab, at), at) << filler << " " << at;
      EXPECT_EQ(v.FindFirst(ab, at + 1), kNotFound) << filler << " " << at;
      EXPECT_EQ(v.FindLast(ab, 0, 1, at), at) << filler << " " << at;
      if (at > 0) EXPECT_EQ(v.FindLast(ab, 0, 1, at - 1), kNotFound) << filler << " " << at;
    }
  }
}

// Every search against a plain loop over all offsets, on views small and
// large enough to cross the search rounds, with matches sparse and dense;
// the view ends before bytes that could complete a match cut by its end,
// and the bounds take their extremes: empty views, steps of 0 and past
// 4 GiB, a first offset beyond the view or after the last.
TEST(ByteView, SearchesAgreeWithAPlainLoop) {
  std::mt19937 rng(7);
  const uint32_t extremeSteps[] = {0, 0xFFFFFFFFu, 0x80000000u};
  for (int trial = 0; trial < 300; ++trial) {
    const std::string alphabet = trial % 3 == 0 ? "AB" : trial % 3 == 1 ? "ABx" : "ABxyzw0123456789";
    const size_t size = trial < 8 ? trial % 4 : trial % 4 == 0 ? rng() % 64 : rng() % 40000;
    std::string hay(size, ' '), marker(1 + rng() % 4, ' '), other(1 + rng() % 4, ' '), behind(3, ' ');
    for (std::string* s : {&hay, &other, &behind})
      for (char& c : *s) c = alphabet[rng() % alphabet.size()];
    for (char& c : marker) c = alphabet[rng() % 2];
    const uint32_t first = trial % 13 == 0 ? static_cast<uint32_t>(size) + 100 : size ? rng() % (size + 2) : 0;
    const uint32_t step = trial % 11 < 3 ? extremeSteps[trial % 11] : trial % 2 ? 1 : 1 + rng() % 40;
    const uint32_t last = trial % 5 == 0 ? kNotFound : trial % 7 == 0 && first ? first - 1 : first + rng() % (size + 1);
    auto matches = [&](const std::string& m, uint64_t every) {
      std::vector<uint32_t> at;
      for (uint64_t i = first; every && i <= last && i + m.size() <= hay.size(); i += every)
        if (hay.compare(i, m.size(), m) == 0) at.push_back(static_cast<uint32_t>(i));
      return at;
    };
    auto front = [](const std::vector<uint32_t>& at) { return at.empty() ? kNotFound : at.front(); };
    const std::vector<uint32_t> want = matches(marker, step);
    const Marker m{marker.data(), static_cast<uint32_t>(marker.size())};
    const std::string bytes = hay + behind;
    const ByteView v(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(size));
    SCOPED_TRACE("trial " + std::to_string(trial) + " marker " + marker + " other " + other);
    EXPECT_EQ(v.FindFirst(m, first, step, last), front(want));
    EXPECT_EQ(v.FindLast(m, first, step, last), want.empty() ? kNotFound : want.back());
    EXPECT_EQ(v.FindFirstOfEither(m, Marker{other.data(), static_cast<uint32_t>(other.size())}, first, last),
              std::min(front(matches(marker, 1)), front(matches(other, 1))));
    std::vector<uint32_t> seen;
    v.ForEachMatch(m, first, step, last, [&](uint32_t at) { seen.push_back(at); return true; });
    EXPECT_EQ(seen, want);
    size_t visits = 0;  // a visit that answers false ends the search
    v.ForEachMatch(m, first, step, last, [&](uint32_t) { return ++visits == 0; });
    EXPECT_EQ(visits, want.empty() ? 0u : 1u);
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

}  // namespace
}  // namespace orr
