#include "detect/flash_size.h"

#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "state/module_state.h"

namespace orr {

void ReadFlashSize(uint32_t driver) {
  // The fields the request does not use are zeroed rather than sent as stack leftovers.
  FlashInfoBlock block = {};
  block.zero0 = 0;
  block.driverHandle = driver;
  block.valid = 0;
  block.zero16 = 0;
  uint32_t scratchError = 0;
  BiosServiceCall(kRequestFlashInfo, &block, sizeof block, 0, 0, &scratchError);
  if (block.valid != 0) MachineBios.flashSize = block.flashSize;
}

}  // namespace orr
