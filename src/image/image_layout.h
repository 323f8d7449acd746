// Where the image analysis looks in an image: every position is counted
// from the image's end, whose last byte is flash address 0xFFFFFFFF.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

constexpr uint32_t kTailAreaSize = 0x20000;  // the last 128 KiB of an image
constexpr uint32_t kFAreaSize = 0x10000;     // the last 64 KiB
// Image sizes are 32-bit throughout and the file size export is signed.
constexpr uint32_t kLargestImage = 0x7FFFFFFF;

// The tail area of an image: its last 128 KiB, or the whole image when it
// is shorter. Searches over it keep their steps from its first byte.
inline ByteView TailArea(ByteView image) {
  return image.size() > kTailAreaSize ? image.Sub(image.size() - kTailAreaSize) : image;
}

}  // namespace orr
