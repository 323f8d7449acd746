// The system BIOS member of a compressed image: found through the ROM maps
// (or at 64 KiB boundaries), expanded by the service library, and the
// identity read from its F segment.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

// slot holds the loaded image block; released (and set to 0) on the
// failures that say so. Returns 0, 305, 306 or the service's error.
uint32_t ExtractImageIdentity(HGLOBAL& slot);

// 1 when the header is a "-lh5-" or "-lh0-" member with the words 0 at
// offset 15 and 0x5000 at offset 17.
uint32_t IsSystemBiosMember(ByteView header);

}  // namespace orr
