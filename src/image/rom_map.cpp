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
  // One pass down the steps, each compared with the B marker and, failing
  // that, the N marker: the first match of a kind is its last record. A
  // record whose region words would pass the image's end is passed over.
  RomMaps maps = {};
  if (tail.size() < kNRomMapSize) return maps;
  const uint32_t highest = tail.size() - kNRomMapSize < kRomMapLast ? tail.size() - kNRomMapSize : kRomMapLast;
  for (uint32_t at = highest / kRomMapStep * kRomMapStep;; at -= kRomMapStep) {
    if (tail.Matches(at, kBRomMap)) {
      if (!maps.hasB && tail.Contains(at, kBRomMapSize)) {
        maps.hasB = true;
        ReadRegions(tail, at + kBRegionWords, maps.b);
      }
    } else if (!maps.hasN && tail.Matches(at, kNRomMap)) {
      maps.hasN = true;
      ReadRegions(tail, at + kNRegionWords, maps.n);
    }
    if ((maps.hasB && maps.hasN) || at == 0) break;
  }
  return maps;
}

}  // namespace orr
