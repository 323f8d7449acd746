// onboardDevices from every "$PIR" table of the F segment.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

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

}  // namespace orr
