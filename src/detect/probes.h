// The firmware probes the detection runs; each writes only the MachineBios
// fields it finds and leaves the rest as they were.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

// romSizeCode, logoFlags, onboardLan from the SMBIOS table.
void ScanSMBIOS(uint32_t driver);

// BiosType 4: the identity record, the model special cases, then FindRomId.
void ProbeExtendedIdentity(uint32_t driver);
// The edition suffixes and the "N/A" rule for the five special models.
void ApplyModelSpecialCases(uint32_t driver);
void FindRomId(uint32_t driver);

// onboardDevices from every "$PIR" table of the F segment.
void ScanOnboardDevices(uint32_t driver);
// The bus and device numbers one scan has probed, one bit each.
struct ProbedDevices {
  uint8_t bits[256 * 32 / 8];
};
// table: the F segment from the "$PIR" signature to the window's end. A
// device already in probed is not probed again.
void ProbeRoutingTable(ByteView table, uint32_t driver, ProbedDevices& probed);

// BiosType 5: descriptionText from the last "$ZANTAWARD" marker.
void ReadROMDescription(uint32_t driver);

}  // namespace orr
