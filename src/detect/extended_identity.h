// BiosType 4: the identity from the AMI identity record, a version-1 record
// in the F segment or a later one in the flash part.
#pragma once

#include <cstdint>

namespace orr {

// The identity record, then the model special cases, then FindRomId.
void ProbeExtendedIdentity(uint32_t driver);

}  // namespace orr
