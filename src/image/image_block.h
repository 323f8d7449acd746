// The movable global blocks of the image analysis: the image block and the
// two 128 KiB work blocks. A lock gives a bounded view of the block.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

// The image slot: the image block's handle (null while empty) and the image
// size, the file's size as the load measured it. GlobalSize may report
// more than was asked for, so every view of the image is cut to this size.
struct ImageSlot {
  HGLOBAL block;
  uint32_t size;
};

// The first size bytes of the locked block (fewer when GlobalSize says the
// block is smaller); data() is null when the lock fails.
ByteView LockBlock(HGLOBAL block, uint32_t size);
void UnlockBlock(HGLOBAL block);
// Frees the block if there is one and empties the variable holding it.
void ReleaseBlock(HGLOBAL& block);
// Handles travel to the service library as 32-bit words.
uint32_t HandleWord(HGLOBAL block);

inline ByteView LockImage(const ImageSlot& slot) { return LockBlock(slot.block, slot.size); }
inline void UnlockImage(const ImageSlot& slot) { UnlockBlock(slot.block); }
inline void ReleaseImage(ImageSlot& slot) {
  ReleaseBlock(slot.block);
  slot.size = 0;
}

}  // namespace orr
