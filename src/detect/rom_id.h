// romId from the last 64 KiB below 4 GiB.
#pragma once

#include <cstdint>

namespace orr {

void FindRomId(uint32_t driver);

}  // namespace orr
