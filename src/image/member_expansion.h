// The expansion of the system BIOS member by the service library, and the
// image's identity read from the F segment it yields.
#pragma once

#include <cstdint>

#include "image/image_block.h"

namespace orr {

// slot holds the loaded image block. Returns 0; 304 when no member passes
// (no service request is made); 305 when a work block cannot be allocated
// or locked; 303 when the image block cannot be locked; 306 when the
// service refuses the first request (the image block stays in the slot);
// the service's error of the second request, or 307 when that request
// writes no error number. Every failure but 306 releases the image block
// and empties the slot.
uint32_t ExtractImageIdentity(ImageSlot& slot);

}  // namespace orr
