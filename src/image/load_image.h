// Loading an image file into the image block and classifying it. The result
// numbers are the public header's ORRIVANE_ERR_*.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/image_block.h"

namespace orr {

constexpr uint32_t kReadChunkSize = 0x8000;

// Reads the file into a movable block put into slot (empty on entry), with
// the file's size, and classifies it; 0 when loaded and recognised, the
// slot then holds the block.
uint32_t LoadBiosImage(ImageSlot& slot, const char* path);

// The two halves of LoadBiosImage. ReadImageFile: 0 when the slot holds the
// file's bytes. ClassifyImage, on a slot that holds an image: applies the
// AMI identity record (amiTagFound), else the ZANTBIOS record and "*MEO"
// marker, else asks the Award scan; 0 when one of them recognises the
// image, else 304 with the block released and the slot emptied.
uint32_t ReadImageFile(ImageSlot& slot, const char* path);
uint32_t ClassifyImage(ImageSlot& slot);

// Reads size bytes into dst with read (std::fread unless a test watches),
// asking for at most 32 KiB each time. False when a read delivers nothing
// before size bytes have arrived (a read error, or a file that shrank after
// its size was taken).
using ReadFunction = size_t (*)(void* dst, size_t size, size_t count, FILE* file);
bool ReadInChunks(FILE* file, uint8_t* dst, uint32_t size, ReadFunction read = std::fread);

}  // namespace orr
