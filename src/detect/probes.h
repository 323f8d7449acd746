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
// What one scan of the routing tables has done, so that tables overlapping
// each other cost no repeated work: the bus and device numbers probed (one
// bit each) and, per 16-byte lane of the F segment, the offset below which
// every entry a later table could list has been read.
struct RoutingScan {
  uint8_t probed[256 * 32 / 8];
  uint32_t nextEntry[16];
};
// The table whose "$PIR" signature lies at offset at of the F segment.
// Tables must come in ascending order of at.
void ProbeRoutingTable(ByteView fsegment, uint32_t at, uint32_t driver, RoutingScan& scan);

// BiosType 5: descriptionText from the last "$ZANTAWARD" marker.
void ReadROMDescription(uint32_t driver);

}  // namespace orr
