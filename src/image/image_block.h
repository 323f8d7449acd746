// The movable global blocks of the image analysis: the image block and the
// two 128 KiB work blocks. A lock gives a bounded view of the block.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

// The locked block's bytes; data() is null when the lock fails.
ByteView LockBlock(HGLOBAL block);
void UnlockBlock(HGLOBAL block);
// Frees the block if there is one and empties the variable holding it.
void ReleaseBlock(HGLOBAL& block);
// Handles travel to the service library as 32-bit words.
uint32_t HandleWord(HGLOBAL block);

}  // namespace orr
