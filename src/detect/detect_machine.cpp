#include "detect/detect_machine.h"

#include <windows.h>

#include "common/text.h"
#include "detect/extended_identity.h"
#include "detect/firmware_tag.h"
#include "detect/flash_size.h"
#include "detect/onboard_devices.h"
#include "detect/rom_description.h"
#include "detect/smbios_scan.h"
#include "firmware/identity_area.h"
#include "hwaccess/contract.h"
#include "hwaccess/platform_family.h"
#include "hwaccess/primitives.h"
#include "hwaccess/service.h"
#include "state/module_state.h"

namespace orr {
namespace {

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, kMessageTitle, kMessageStyle); }

// wsprintfA has no length argument: format into room for its 1024-character
// maximum, then cut to the 127 characters the message buffer holds.
void ShowOpenError(uint32_t serviceError) {
  char formatted[1025];
  switch (serviceError) {
    case kOpenErrorScm:
      lstrcpyA(formatted, "Unable to open NT SCM DataBase for DA_VUZ.DLL");
      break;
    case kOpenErrorCreateService:
      lstrcpyA(formatted, "Unable to create NT driver service for DA_VUZ.DLL");
      break;
    case kOpenErrorOpenDriver:
      lstrcpyA(formatted, "Unable to open DA_VUZ.DLL driver");
      break;
    case kOpenErrorRegistry:
      lstrcpyA(formatted, "NT service registry error! Please reboot NT and run again");
      break;
    case kOpenErrorDriverMissing: {
      // A directory that does not fit its 128-byte buffer is left unnamed
      // rather than shown as whatever the buffer happens to hold.
      char directory[128];
      DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
      if (length == 0 || length >= sizeof directory) lstrcpyA(directory, "the current directory");
      wsprintfA(formatted, "Unable to find driver DA_VUZ.DLL under %s", directory);
      break;
    }
    default:
      wsprintfA(formatted, "Unable to open DA_VUZ.DLL driver (service error %u)", serviceError);
      break;
  }
  char message[kMessageBufferSize];
  CopyTextBounded(message, sizeof message, formatted);
  ShowMessage(message);
}

void ReadFSegmentIdentity(uint32_t driver) {
  Window fsegment = OpenFSegment(driver);
  if (fsegment.address) {
    ReadIdentityArea(fsegment.bytes, IdentityFields{MachineBios.idString, MachineBios.modelName,
                                                    MachineBios.versionText, MachineBios.dateText,
                                                    &MachineBios.dateCode});
    if (MachineBios.biosType == 2 || MachineBios.biosType == 5) {
      uint32_t length = FieldLength(MachineBios.modelName, sizeof MachineBios.modelName);
      if (length > 0 && MachineBios.modelName[length - 1] == 'C') MachineBios.modelName[--length] = '\0';
      for (uint32_t i = 0; i < length; ++i)
        MachineBios.modelName[i] = ModelTextCharacter(static_cast<uint8_t>(MachineBios.modelName[i]));
    }
  }
  CloseWindow(driver, fsegment);
}

}  // namespace

uint32_t DetectMachineBios() {
  MachineBios.biosType = 0;
  g_isNt = 0;

  if (RunningOnNtFamily()) g_isNt = 1;

  DriverBlock open = {};
  lstrcpyA(open.name, kDriverName);
  uint32_t serviceError = 0;
  if (!BiosServiceCall(kRequestOpenDriver, &open, sizeof open, 0, 0, &serviceError)) {
    ShowOpenError(serviceError);
    return 0;
  }
  const uint32_t cookie = open.cookie;
  const uint32_t driver = open.handle;

  MachineBios.biosType = QueryBiosType(driver);
  switch (MachineBios.biosType) {
    case 0:
      ScanSMBIOS(driver);
      ScanFirmwareTag(driver);
      break;
    case 4:
      ReadFlashSize(driver);
      ProbeExtendedIdentity(driver);
      ScanSMBIOS(driver);
      ScanOnboardDevices(driver);
      break;
    default:
      ReadFSegmentIdentity(driver);
      ReadPluginBlockA(driver, MachineBios.pluginBlockA);
      ReadPluginBlockB(driver, MachineBios.pluginBlockB);
      ReadFlashSize(driver);
      if (MachineBios.biosType == 5) ReadROMDescription(driver);
      ScanSMBIOS(driver);
      ScanOnboardDevices(driver);
      break;
  }

  DriverBlock release = {};
  release.cookie = cookie;
  release.handle = driver;
  lstrcpyA(release.name, kDriverName);
  if (!BiosServiceCall(kRequestFreeDriver, &release, sizeof release, 0, 0, &serviceError)) {
    ShowMessage("Unable to Free DA_VUZ.DLL");
    return 0;
  }

  if (MachineBios.firmwareTagFound == 1) return 1;
  if (MachineBios.biosType != 0) return 1;
  ShowMessage("Unable to detect ZANT BIOS");
  return 0;
}

}  // namespace orr
