// The library's exports as a table of functions, so the tool and the tests
// run the same code on the linked library or on ORRIVANE.DLL under the
// emulator. The DLL's entries copy the caller's buffers into guest memory
// (each buffer ends at a page followed by an unmapped one, at the size the
// export documents) and back, and throw dllrun::Fault when the call breaks
// a rule a caller relies on.
#pragma once

#include <cstdint>
#include <vector>

#include "dll_runner.h"
#include "orrivane_exports.h"

namespace dllrun {

struct OrrivaneApi {
  uint32_t (*Orrivane_Initialize)();
  uint32_t (*Orrivane_Uninitialize)();
  uint32_t (*Orrivane_CheckBIOSTag)();
  uint32_t (*InstallShield_CheckBIOSTag)();
  int32_t (*Orrivane_GetBIOSFileSize)(const char* path);
  uint32_t (*Orrivane_GetBIOSROMInfo)(char* model, char* idString, char* version, char* date, uint32_t* dateCode,
                                      uint32_t* extendedFamily, uint32_t useAltModel, char* description);
  uint32_t (*InstallShield_GetBIOSROMInfo)(char* model, char* idString);
  uint32_t (*Orrivane_GetBIOSFileInfo)(const char* path, char* model, char* idString, char* version, char* date,
                                       uint32_t* dateCode, uint32_t* identityRecordFound);
  uint32_t (*Orrivane_GetROMbuildVersion)();
  const char* (*Orrivane_GetROMID)();
  uint8_t (*Orrivane_CheckLogo)();
  uint32_t (*InstallShield_CheckLogo)();
  uint8_t (*Orrivane_CheckPlugins)();
  uint32_t (*InstallShield_CheckPlugins)();
  uint32_t (*Orrivane_CheckOnboardLan)();
  uint32_t (*Orrivane_CheckOnboardDev)();
  uint32_t (*Orrivane_GetFlashSize)();
  uint8_t (*Orrivane_GetBIOSType)();
  uint32_t (*Orrivane_GetDMIBIOSSize)();
  int32_t (*Orrivane_IsAdministrator)();
  int32_t (*InstallShield_CheckACPI)(const char* hardwareIdPart);
};

const OrrivaneApi& LinkedLibrary();

// The exports of the DLL that BindDll named; one DLL at a time.
const OrrivaneApi& DllLibrary();
void BindDll(DllRunner* runner);
// One export of the bound DLL with its 32-bit arguments, checked against
// the export list (ordinal, argument count, the result rule); returns all of
// EAX, which the table's entries then read at the declared width.
uint32_t CallDllExport(const ExportEntry& entry, const std::vector<uint32_t>& args);

}  // namespace dllrun
