#include "image/rom_map.h"

namespace orr {
namespace {

constexpr uint32_t kRomMapLast = 0x1FFF0;
constexpr uint32_t kRomMapStep = 16;
constexpr uint32_t kBRomMapSize = 36;
constexpr uint32_t kNRomMapSize = 32;
constexpr uint32_t kBRegionWords = 20;
constexpr uint32_t kNRegionWords = 16;

void ReadRegions(ByteView tail, uint32_t wordsAt, RomRegion (&regions)[2]) {
  for (uint32_t i = 0; i < 2; ++i) regions[i] = RomRegion{tail.U32(wordsAt + 8 * i), tail.U32(wordsAt + 8 * i + 4)};
}

}  // namespace

RomMaps FindRomMaps(ByteView tail) {
  // Of each kind the last record on the steps; a B record whose region
  // words would pass the image's end is passed over for an earlier one.
  RomMaps maps = {};
  if (tail.size() < kNRomMapSize) return maps;
  const uint32_t lastN = tail.size() - kNRomMapSize < kRomMapLast ? tail.size() - kNRomMapSize : kRomMapLast;
  const uint32_t n = tail.FindLast(kNRomMap, 0, kRomMapStep, lastN);
  if (n != kNotFound) {
    maps.hasN = true;
    ReadRegions(tail, n + kNRegionWords, maps.n);
  }
  if (tail.size() < kBRomMapSize) return maps;
  const uint32_t lastB = tail.size() - kBRomMapSize < kRomMapLast ? tail.size() - kBRomMapSize : kRomMapLast;
  const uint32_t b = tail.FindLast(kBRomMap, 0, kRomMapStep, lastB);
  if (b != kNotFound) {
    maps.hasB = true;
    ReadRegions(tail, b + kBRegionWords, maps.b);
  }
  return maps;
}

}  // namespace orr
