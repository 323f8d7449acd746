#include "image/image_block.h"

namespace orr {

ByteView LockBlock(HGLOBAL block) {
  if (!block) return ByteView();
  void* data = GlobalLock(block);
  if (!data) return ByteView();
  return ByteView(static_cast<const uint8_t*>(data), static_cast<uint32_t>(GlobalSize(block)));
}

void UnlockBlock(HGLOBAL block) {
  if (block) GlobalUnlock(block);
}

void ReleaseBlock(HGLOBAL& block) {
  if (block) GlobalFree(block);
  block = nullptr;
}

uint32_t HandleWord(HGLOBAL block) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block)); }

}  // namespace orr
