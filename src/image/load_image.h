// Loading an image file into the image block and classifying it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "common/byte_view.h"
#include "image/image_block.h"

namespace orr {

// Result numbers of the image analysis.
constexpr uint32_t kImageOk = 0;
constexpr uint32_t kImageCannotOpen = 211;  // also: the file cannot be read whole
constexpr uint32_t kImageEmpty = 301;
constexpr uint32_t kImageNoMemory = 302;
constexpr uint32_t kImageCannotLock = 303;
constexpr uint32_t kImageNotRecognised = 304;  // also: no system BIOS member in a compressed image
constexpr uint32_t kImageNoWorkMemory = 305;   // a 128 KiB work block cannot be allocated or locked
constexpr uint32_t kImageServiceRefused = 306;
// The service's status request wrote no error number, so the expansion is
// not known to have worked. Apart from the service library's own numbers
// (the testbed's are 401 to 409).
constexpr uint32_t kImageNoServiceStatus = 307;

constexpr uint32_t kTailAreaSize = 0x20000;  // the last 128 KiB of an image
constexpr uint32_t kFAreaSize = 0x10000;     // the last 64 KiB
constexpr uint32_t kReadChunkSize = 0x8000;
// Image sizes are 32-bit throughout and the file size export is signed.
constexpr uint32_t kLargestImage = 0x7FFFFFFF;

// The tail area of an image: its last 128 KiB, or the whole image when it
// is shorter. Searches over it keep their steps from its first byte.
inline ByteView TailArea(ByteView image) {
  return image.size() > kTailAreaSize ? image.Sub(image.size() - kTailAreaSize) : image;
}

// Reads the file into a movable block put into slot (empty on entry), with
// the file's size, and classifies it; 0 when loaded and recognised, the
// slot then holds the block.
uint32_t LoadBiosImage(ImageSlot& slot, const char* path);

// Reads size bytes into dst with read (std::fread unless a test watches),
// asking for at most 32 KiB each time. False when a read delivers nothing
// before size bytes have arrived (a read error, or a file that shrank after
// its size was taken).
using ReadFunction = size_t (*)(void* dst, size_t size, size_t count, FILE* file);
bool ReadInChunks(FILE* file, uint8_t* dst, uint32_t size, ReadFunction read = std::fread);

// The size of a file opened for reading and writing, or 0 when it cannot be
// opened so, its status cannot be read, or it is larger than 2 GiB - 1.
int32_t ReadFileSize(const char* path);

}  // namespace orr
