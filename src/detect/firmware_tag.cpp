#include "detect/firmware_tag.h"

#include "common/byte_view.h"
#include "hwaccess/primitives.h"
#include "state/module_state.h"

namespace orr {

void ScanFirmwareTag(uint32_t driver) {
  static constexpr Marker kTag = MakeMarker("$ZTEXFIRM");
  MachineBios.firmwareTagFound = 0;
  uint32_t size = (MachineBios.romSizeCode + 1u) * 0x10000u;
  // The window is one byte shorter than the area; the tag must lie wholly inside it.
  Window window = OpenMappedWindow(driver, 0u - size, size - 1);
  if (window.address && window.bytes.FindFirst(kTag) != kNotFound) MachineBios.firmwareTagFound = 1;
  // This window comes from the mapping request on both families, and the 9x
  // driver answers the release too: released on both, or every 9x detection
  // would leave a mapping behind.
  UnmapPhysical(driver, window.address);
}

}  // namespace orr
