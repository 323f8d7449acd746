// BiosType 0: the "$ZTEXFIRM" firmware tag.
#pragma once

#include <cstdint>

namespace orr {

// firmwareTagFound: cleared, then 1 when the tag lies anywhere in the top
// (romSizeCode + 1) * 64 KiB below 4 GiB.
void ScanFirmwareTag(uint32_t driver);

}  // namespace orr
