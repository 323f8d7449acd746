// The filters under ByteView's byte-by-byte searches: where a marker's first
// two bytes stand next to each other, or those of either of two markers.
// Only ByteView and its tests use them.
#pragma once

#include <cstdint>

namespace orr {

// The first offset i in [from, end) with data[i] == first and
// data[i + 1] == second, or end when there is none. Reads data[from] up to
// and including data[end], so data[end] must be readable. Uses the fastest
// of BytePairFilters.
uint32_t FindBytePair(const uint8_t* data, uint32_t from, uint32_t end, uint8_t first, uint8_t second);

// The same answer from memchr on the first byte alone: the filter of every
// processor, and the one the vector filters hand their rare hits and their
// last few offsets to.
uint32_t FindBytePairPortable(const uint8_t* data, uint32_t from, uint32_t end, uint8_t first, uint8_t second);

// The filters this processor can run, fastest first, the portable one last;
// returns how many. Tests hold each of them to the same answers.
using BytePairFilter = uint32_t (*)(const uint8_t* data, uint32_t from, uint32_t end, uint8_t first, uint8_t second);
constexpr uint32_t kMostBytePairFilters = 3;
uint32_t BytePairFilters(BytePairFilter (&filters)[kMostBytePairFilters]);

struct BytePair {
  uint8_t first;
  uint8_t second;
};

// The first offset i in [from, end) where pair a or pair b stands at data[i]
// and data[i + 1], or end when neither does; one pass over the bytes.
// Reads up to and including data[end]. Uses the fastest of
// EitherBytePairFilters.
uint32_t FindEitherBytePair(const uint8_t* data, uint32_t from, uint32_t end, BytePair a, BytePair b);

// The same from the portable filter, stretch by stretch, each stretch small
// enough to stay in the cache for the second pair.
uint32_t FindEitherBytePairPortable(const uint8_t* data, uint32_t from, uint32_t end, BytePair a, BytePair b);

using EitherBytePairFilter = uint32_t (*)(const uint8_t* data, uint32_t from, uint32_t end, BytePair a, BytePair b);
uint32_t EitherBytePairFilters(EitherBytePairFilter (&filters)[kMostBytePairFilters]);

}  // namespace orr
