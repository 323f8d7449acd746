// The system BIOS member of a compressed image: found through the ROM maps
// (or at 64 KiB boundaries), expanded by the service library, and the
// identity read from its F segment.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/byte_view.h"
#include "image/image_block.h"

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

// slot holds the loaded image block. Returns 0; 304 when no member passes
// (no service request is made); 305 when a work block cannot be allocated
// or locked; 303 when the image block cannot be locked; 306 when the
// service refuses the first request (the image block stays in the slot);
// the service's error of the second request, or 307 when that request
// writes no error number. Every failure but 306 releases the image block
// and empties the slot.
uint32_t ExtractImageIdentity(ImageSlot& slot);

// 1 when the header is a "-lh5-" or "-lh0-" member with the words 0 at
// offset 15 and 0x5000 at offset 17.
uint32_t IsSystemBiosMember(ByteView header);

// The image offset of the system BIOS member: the first header that passes
// IsSystemBiosMember and whose whole member (H + P + 4 bytes) lies in the
// image and fits the 128 KiB member block. kNotFound when there is none.
uint32_t FindSystemBiosMember(ByteView image);

// H + P + 4: the bytes a member occupies from its first byte.
uint64_t MemberLength(ByteView header);

}  // namespace orr
