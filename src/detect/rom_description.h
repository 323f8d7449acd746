// BiosType 5: descriptionText from the last "$ZANTAWARD" marker of the F
// segment.
#pragma once

#include <cstdint>

namespace orr {

void ReadROMDescription(uint32_t driver);

}  // namespace orr
