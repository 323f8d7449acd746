// The ROM map records of a compressed image's tail area, which say where
// its compressed members lie.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

constexpr Marker kBRomMap = MakeMarker("ZANT_BROMMAP");
constexpr Marker kNRomMap = MakeMarker("ZANT_NROMMAP");

// A region of the flash part: first and end address; 0 in either means absent.
struct RomRegion {
  uint32_t first;
  uint32_t end;
};

// The ROM maps of an image: of each kind the last record at a 16-byte step
// of the tail area (offsets 0 to 0x1FFF0) whose region words lie in the
// image. The member search walks them; the classification takes either
// kind as a sign of an image it can identify.
struct RomMaps {
  bool hasB;
  bool hasN;
  RomRegion b[2];
  RomRegion n[2];
};
RomMaps FindRomMaps(ByteView tail);

}  // namespace orr
