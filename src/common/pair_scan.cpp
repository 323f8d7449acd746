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

uint32_t FindEitherBytePairPortable(const uint8_t* data, uint32_t from, uint32_t end, BytePair a, BytePair b) {
  constexpr uint32_t kStretch = 0x1000;
  uint32_t at = from;
  while (at < end) {
    const uint32_t stop = end - at > kStretch ? at + kStretch : end;
    const uint32_t hitA = FindBytePairPortable(data, at, stop, a.first, a.second);
    // Only the offsets below a's hit can hold an earlier b.
    const uint32_t hitB = FindBytePairPortable(data, at, hitA, b.first, b.second);
    if (hitB < hitA) return hitB;
    if (hitA < stop) return hitA;
    at = stop;
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

// The same rounds with both pairs compared; a round with a hit of either
// goes to the portable filter.
__attribute__((target("avx512bw"))) uint32_t FindEitherBytePairAvx512(const uint8_t* data, uint32_t from,
                                                                       uint32_t end, BytePair a, BytePair b) {
  const __m512i a1 = _mm512_set1_epi8(static_cast<char>(a.first));
  const __m512i a2 = _mm512_set1_epi8(static_cast<char>(a.second));
  const __m512i b1 = _mm512_set1_epi8(static_cast<char>(b.first));
  const __m512i b2 = _mm512_set1_epi8(static_cast<char>(b.second));
  uint32_t at = from;
  while (end - at >= kRound) {
    const uint8_t* p = data + at;
    __mmask64 hit = 0;
    for (uint32_t k = 0; k < kRound; k += 64) {
      const __m512i here = _mm512_loadu_si512(p + k);
      const __m512i next = _mm512_loadu_si512(p + k + 1);
      hit |= _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(here, a1), next, a2) |
             _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(here, b1), next, b2);
    }
    if (hit) return FindEitherBytePairPortable(data, at, at + kRound, a, b);
    at += kRound;
  }
  return FindEitherBytePairPortable(data, at, end, a, b);
}

__attribute__((target("avx2"))) uint32_t FindEitherBytePairAvx2(const uint8_t* data, uint32_t from, uint32_t end,
                                                                 BytePair a, BytePair b) {
  const __m256i a1 = _mm256_set1_epi8(static_cast<char>(a.first));
  const __m256i a2 = _mm256_set1_epi8(static_cast<char>(a.second));
  const __m256i b1 = _mm256_set1_epi8(static_cast<char>(b.first));
  const __m256i b2 = _mm256_set1_epi8(static_cast<char>(b.second));
  uint32_t at = from;
  while (end - at >= kRound) {
    const uint8_t* p = data + at;
    __m256i hit = _mm256_setzero_si256();
    for (uint32_t k = 0; k < kRound; k += 32) {
      const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
      const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k + 1));
      hit = _mm256_or_si256(hit, _mm256_and_si256(_mm256_cmpeq_epi8(here, a1), _mm256_cmpeq_epi8(next, a2)));
      hit = _mm256_or_si256(hit, _mm256_and_si256(_mm256_cmpeq_epi8(here, b1), _mm256_cmpeq_epi8(next, b2)));
    }
    if (!_mm256_testz_si256(hit, hit)) return FindEitherBytePairPortable(data, at, at + kRound, a, b);
    at += kRound;
  }
  return FindEitherBytePairPortable(data, at, end, a, b);
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

uint32_t EitherBytePairFilters(EitherBytePairFilter (&filters)[kMostBytePairFilters]) {
  uint32_t count = 0;
#ifdef ORRIVANE_PAIR_SCAN_VECTOR
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw")) filters[count++] = FindEitherBytePairAvx512;
  if (__builtin_cpu_supports("avx2")) filters[count++] = FindEitherBytePairAvx2;
#endif
  filters[count++] = FindEitherBytePairPortable;
  return count;
}

uint32_t FindEitherBytePair(const uint8_t* data, uint32_t from, uint32_t end, BytePair a, BytePair b) {
  static const EitherBytePairFilter fastest = [] {
    EitherBytePairFilter filters[kMostBytePairFilters];
    EitherBytePairFilters(filters);
    return filters[0];
  }();
  return fastest(data, from, end, a, b);
}

}  // namespace orr
