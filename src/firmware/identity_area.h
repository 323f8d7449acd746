// The F-segment identity area: the identification text at 0xE0C1, the
// date-and-version text at 0xEC70 and the model tag at 0xECE0. The machine
// detection reads it from the F segment, the image analysis from the upper
// half of the expanded system BIOS.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

constexpr uint32_t kIdStringOffset = 0xE0C1;
constexpr uint32_t kDateVersionOffset = 0xEC70;
constexpr uint32_t kModelTagOffset = 0xECE0;
constexpr uint32_t kSpoiledLength = 52;  // an identification text this long or longer is not trusted
constexpr char kSpoiled[] = "SPOILED";

struct IdentityFields {
  char* idString;      // 100 bytes
  char* modelName;     // 60 bytes
  char* versionText;   // 60 bytes
  char* dateText;      // 30 bytes or more
  uint32_t* dateCode;
};

// Reads the three texts of the area; fsegment is the 64 KiB F segment (or
// what of it is readable).
void ReadIdentityArea(ByteView fsegment, const IdentityFields& out);

}  // namespace orr
