#include "image/image_block.h"

namespace orr {

ByteView LockBlock(HGLOBAL block, uint32_t size) {
  if (!block) return ByteView();
  void* data = GlobalLock(block);
  if (!data) return ByteView();
  const SIZE_T held = GlobalSize(block);
  return ByteView(static_cast<const uint8_t*>(data), held < size ? static_cast<uint32_t>(held) : size);
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
