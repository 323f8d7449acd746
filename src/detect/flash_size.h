// flashSize from the service library's flash information request.
#pragma once

#include <cstdint>

namespace orr {

// Fills flashSize when the service library reports a valid size.
void ReadFlashSize(uint32_t driver);

}  // namespace orr
