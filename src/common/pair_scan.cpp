#include "common/pair_scan.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ORRIVANE_PAIR_SCAN_VECTOR 1
#endif

namespace orr {

uint32_t FindBytePairPortable(const uint8_t* data, uint32_t from, uint32_t end, uint8_t first, uint8_t second) {
  uint32_t at = from;
  while (at < end) {
    const void* hit = std::memchr(data + at, first, end - at);
    if (!hit) return end;
    at = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - data);
    if (data[at + 1] == second) return at;
    ++at;
  }
  return end;
}

#ifdef ORRIVANE_PAIR_SCAN_VECTOR
namespace {

// Each round compares 256 offsets against both bytes at once (reading one
// byte beyond them); a round with a hit hands its offsets to the portable
// filter, which finds the first. In firmware a given pair turns up about
// once in 64 KiB, so that is rare.
constexpr uint32_t kRound = 256;

__attribute__((target("avx512bw"))) uint32_t FindBytePairAvx512(const uint8_t* data, uint32_t from, uint32_t end,
                                                                 uint8_t first, uint8_t second) {
  const __m512i a = _mm512_set1_epi8(static_cast<char>(first));
  const __m512i b = _mm512_set1_epi8(static_cast<char>(second));
  uint32_t at = from;
  while (end - at >= kRound) {
    const uint8_t* p = data + at;
    __mmask64 hit = 0;
    for (uint32_t k = 0; k < kRound; k += 64)
      hit |= _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p + k), a),
                                         _mm512_loadu_si512(p + k + 1), b);
    if (hit) return FindBytePairPortable(data, at, at + kRound, first, second);
    at += kRound;
  }
  return FindBytePairPortable(data, at, end, first, second);
}

__attribute__((target("avx2"))) uint32_t FindBytePairAvx2(const uint8_t* data, uint32_t from, uint32_t end,
                                                           uint8_t first, uint8_t second) {
  const __m256i a = _mm256_set1_epi8(static_cast<char>(first));
  const __m256i b = _mm256_set1_epi8(static_cast<char>(second));
  uint32_t at = from;
  while (end - at >= kRound) {
    const uint8_t* p = data + at;
    __m256i hit = _mm256_setzero_si256();
    for (uint32_t k = 0; k < kRound; k += 32) {
      const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
      const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k + 1));
      hit = _mm256_or_si256(hit, _mm256_and_si256(_mm256_cmpeq_epi8(here, a), _mm256_cmpeq_epi8(next, b)));
    }
    if (!_mm256_testz_si256(hit, hit)) return FindBytePairPortable(data, at, at + kRound, first, second);
    at += kRound;
  }
  return FindBytePairPortable(data, at, end, first, second);
}

}  // namespace
#endif

uint32_t BytePairFilters(BytePairFilter (&filters)[kMostBytePairFilters]) {
  uint32_t count = 0;
#ifdef ORRIVANE_PAIR_SCAN_VECTOR
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw")) filters[count++] = FindBytePairAvx512;
  if (__builtin_cpu_supports("avx2")) filters[count++] = FindBytePairAvx2;
#endif
  filters[count++] = FindBytePairPortable;
  return count;
}

uint32_t FindBytePair(const uint8_t* data, uint32_t from, uint32_t end, uint8_t first, uint8_t second) {
  static const BytePairFilter fastest = [] {
    BytePairFilter filters[kMostBytePairFilters];
    BytePairFilters(filters);
    return filters[0];
  }();
  return fastest(data, from, end, first, second);
}

}  // namespace orr
