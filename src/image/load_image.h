// Loading an image file into the image block and classifying it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace orr {

// Result numbers of the image analysis.
constexpr uint32_t kImageOk = 0;
constexpr uint32_t kImageCannotOpen = 211;
constexpr uint32_t kImageEmpty = 301;
constexpr uint32_t kImageNoMemory = 302;
constexpr uint32_t kImageCannotLock = 303;
constexpr uint32_t kImageNotRecognised = 304;
constexpr uint32_t kImageNoWorkMemory = 305;
constexpr uint32_t kImageServiceRefused = 306;

constexpr uint32_t kTailAreaSize = 0x20000;  // the last 128 KiB of an image
constexpr uint32_t kFAreaSize = 0x10000;     // the last 64 KiB

// Reads the file into a movable block put into slot (empty on entry) and
// classifies it; 0 when loaded and recognised.
uint32_t LoadBiosImage(HGLOBAL& slot, const char* path);

// The size of a file opened for reading and writing, or 0.
int32_t ReadFileSize(const char* path);

}  // namespace orr
