#include "image/load_image.h"

#include "image/award_scan.h"
#include "image/identity_records.h"
#include "image/image_block.h"
#include "image/image_layout.h"
#include "orrivane.h"
#include "state/module_state.h"

namespace orr {
namespace {

// The stream was only read: a failing close loses nothing, so its result
// carries no news.
void CloseReadStream(FILE* file) { (void)std::fclose(file); }

// The image size from the stream's end position; false when the stream
// cannot be positioned or the file is too large for a 32-bit image.
bool MeasureStream(FILE* file, uint32_t& size) {
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  long end = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  long start = std::ftell(file);
  if (end < 0 || start < 0 || end < start) return false;
  if (static_cast<unsigned long>(end - start) > kLargestImage) return false;
  size = static_cast<uint32_t>(end - start);
  return true;
}

// Runs one classification step on the image's bytes, the block locked for
// the step alone; a block that cannot be locked gives 0 without the step.
template <typename Step>
uint32_t WithImage(const ImageSlot& slot, Step step) {
  const ByteView image = LockImage(slot);
  if (!image.data()) return 0;
  const uint32_t result = step(image);
  UnlockImage(slot);
  return result;
}

}  // namespace

bool ReadInChunks(FILE* file, uint8_t* dst, uint32_t size, ReadFunction read) {
  uint32_t done = 0;
  while (done < size) {
    uint32_t want = size - done < kReadChunkSize ? size - done : kReadChunkSize;
    size_t got = read(dst + done, 1, want, file);
    if (got == 0) return false;
    done += static_cast<uint32_t>(got);
  }
  return true;
}

uint32_t ClassifyImage(ImageSlot& slot) {
  // The record step's pass over the whole image also finds the "*MEO"
  // marker the tag step needs.
  ImageMarks marks = {};
  ImageBios.amiTagFound = WithImage(slot, [&](ByteView image) {
    marks = FindImageMarks(image);
    return ReadAmiRecord(image, marks);
  });
  if (ImageBios.amiTagFound == 1) return ORRIVANE_OK;
  if (WithImage(slot, [&](ByteView image) { return ReadImageTags(image, marks); })) return ORRIVANE_OK;
  if (WithImage(slot, [](ByteView image) { return ScanAwardImage(TailArea(image)); })) return ORRIVANE_OK;
  ReleaseImage(slot);
  return ORRIVANE_ERR_UNKNOWN;
}

uint32_t ReadImageFile(ImageSlot& slot, const char* path) {
  if (!path) return ORRIVANE_ERR_OPEN;
  FILE* file = std::fopen(path, "rb");
  if (!file) return ORRIVANE_ERR_OPEN;
  uint32_t size = 0;
  if (!MeasureStream(file, size)) {
    CloseReadStream(file);
    return ORRIVANE_ERR_OPEN;
  }
  if (size == 0) {
    CloseReadStream(file);
    return ORRIVANE_ERR_EMPTY;
  }
  slot.block = GlobalAlloc(GHND, size);
  if (!slot.block) {
    CloseReadStream(file);
    return ORRIVANE_ERR_ALLOC;
  }
  slot.size = size;
  void* bytes = GlobalLock(slot.block);
  if (!bytes) {
    ReleaseImage(slot);
    CloseReadStream(file);
    return ORRIVANE_ERR_LOCK;
  }
  bool whole = ReadInChunks(file, static_cast<uint8_t*>(bytes), size);
  GlobalUnlock(slot.block);
  CloseReadStream(file);
  // A zero-filled remainder would pass for image bytes: a file that cannot
  // be read whole is reported like one that cannot be read at all.
  if (!whole) {
    ReleaseImage(slot);
    return ORRIVANE_ERR_OPEN;
  }
  return ORRIVANE_OK;
}

uint32_t LoadBiosImage(ImageSlot& slot, const char* path) {
  const uint32_t result = ReadImageFile(slot, path);
  return result == ORRIVANE_OK ? ClassifyImage(slot) : result;
}

}  // namespace orr
