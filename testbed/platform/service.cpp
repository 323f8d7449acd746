// The service library's BiosServiceCall: opening and freeing the access
// driver and the flash information; the image requests live in
// image_service.cpp.
#include <cstring>

#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "state.h"

extern "C" BOOL WINAPI BiosServiceCall(uint32_t request, void* block, uint32_t blockSize, uint32_t, uint32_t,
                                       uint32_t* serviceError) {
  using namespace orr;
  tb::State& s = tb::S();
  const uint8_t* bytes = static_cast<const uint8_t*>(block);
  s.serviceRequests.push_back(
      tb::Request{request, bytes ? std::vector<uint8_t>(bytes, bytes + blockSize) : std::vector<uint8_t>()});

  // Every request needs its block; a real service library would fault.
  if (!bytes) return FALSE;
  switch (request) {
    case kRequestOpenDriver: {
      if (blockSize != sizeof(DriverBlock) || !serviceError) return FALSE;
      auto* b = static_cast<DriverBlock*>(block);
      if (std::strncmp(b->name, kDriverName, sizeof b->name) != 0) {
        *serviceError = kOpenErrorOpenDriver;
        return FALSE;
      }
      if (s.machine.openError != 0) {
        *serviceError = s.machine.openError;
        return FALSE;
      }
      b->cookie = tb::kDriverCookie;
      b->handle = tb::kDriverHandle;
      s.driverOpen = true;
      return TRUE;
    }
    case kRequestFreeDriver: {
      if (blockSize != sizeof(DriverBlock)) return FALSE;
      auto* b = static_cast<DriverBlock*>(block);
      if (!s.driverOpen || b->cookie != tb::kDriverCookie || b->handle != tb::kDriverHandle) return FALSE;
      s.driverOpen = false;
      return s.machine.freeFails ? FALSE : TRUE;
    }
    case kRequestFlashInfo: {
      if (blockSize != sizeof(FlashInfoBlock)) return FALSE;
      auto* b = static_cast<FlashInfoBlock*>(block);
      if (!s.machine.flashSize) return TRUE;  // the valid flag stays as the caller set it
      b->valid = 1;
      b->flashSize = *s.machine.flashSize;
      return TRUE;
    }
    case kRequestExpandMember:
    case kRequestImageStatus:
    case kRequestImageFinish:
      return tb::ImageServiceCall(request, block, blockSize, serviceError);
  }
  return FALSE;
}
