// The system BIOS member of a compressed image: a compressed member whose
// header says so, found through the ROM maps or at 64 KiB boundaries.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

// 1 when the header is a "-lh5-" or "-lh0-" member with the words 0 at
// offset 15 and 0x5000 at offset 17.
uint32_t IsSystemBiosMember(ByteView header);

// H + P + 4: the bytes a member occupies from its first byte.
uint64_t MemberLength(ByteView header);

// The image offset of the system BIOS member: the first header that passes
// IsSystemBiosMember and whose whole member (H + P + 4 bytes) lies in the
// image and fits the 128 KiB member block, searched through the ROM maps
// of the tail area (N regions before B regions) or, without a B ROM map,
// at the image's whole 64 KiB boundaries. kNotFound when there is none.
uint32_t FindSystemBiosMember(ByteView image);

}  // namespace orr
