// romSizeCode, logoFlags and onboardLan from the SMBIOS table.
#pragma once

#include <cstdint>

namespace orr {

// Clears logoFlags, then reads the table the F segment's first entry point
// names; fields the table does not reach keep their values.
void ScanSMBIOS(uint32_t driver);

}  // namespace orr
