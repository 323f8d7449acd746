// The filter under ByteView's byte-by-byte searches: where a marker's first
// two bytes stand next to each other. Only ByteView and its tests use it.
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

}  // namespace orr
