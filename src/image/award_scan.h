// Recognises a compressed Award image: the banner at a 1 KiB boundary of the
// tail area, then a BBSN record, or a BBSS record with a region size.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

constexpr Marker kAwardBanner = MakeMarker("= Award Decompression Bios =");
constexpr Marker kBbsnRecord = MakeMarker("*BBSN*");
constexpr Marker kBbssRecord = MakeMarker("*BBSS*");

// tail: the tail area of the image, up to the image's end. 1 when the image
// is recognised, else 0.
uint32_t ScanAwardImage(ByteView tail);

}  // namespace orr
