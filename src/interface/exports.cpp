// The exported functions. Names and ordinals are fixed by orrivane.def; the
// queries only copy fields of the records out to the caller.
#include "orrivane.h"

#include <windows.h>

#include "common/byte_view.h"
#include "common/text.h"
#include "detect/detect_machine.h"
#include "hwaccess/contract.h"
#include "image/file_size.h"
#include "image/image_block.h"
#include "image/load_image.h"
#include "image/member_expansion.h"
#include "state/module_state.h"

namespace {

// Only the 32-bit value at bytes 1 to 4 of a plug-in block says anything.
bool PluginPresent(const uint8_t (&block)[orr::kPluginBlockSize]) {
  return orr::ByteView(block, orr::kPluginBlockSize).U32(1) != 0;
}

uint32_t PluginsPresent() { return PluginPresent(MachineBios.pluginBlockA) && PluginPresent(MachineBios.pluginBlockB); }

// Copies a record field out, never more than the field holds: a field whose
// writer lost its NUL still cannot run past the caller's buffer of that size.
// A null buffer is skipped.
template <uint32_t N>
void CopyOut(char* dst, const char (&field)[N]) {
  if (dst) orr::CopyTextBounded(dst, N, field);
}

template <typename T>
void StoreOut(T* dst, T value) {
  if (dst) *dst = value;
}

}  // namespace

extern "C" {

uint32_t ORRIVANE_CALL Orrivane_Initialize(void) {
  g_initialized = orr::DetectMachineBios();
  return g_initialized;
}

uint32_t ORRIVANE_CALL Orrivane_Uninitialize(void) { return 1; }

uint32_t ORRIVANE_CALL Orrivane_CheckBIOSTag(void) {
  if (!g_initialized) return 0;
  return MachineBios.biosType != 0 ? 1 : 0;
}

uint32_t ORRIVANE_CALL InstallShield_CheckBIOSTag(void) {
  if (!g_initialized) return 0;
  if (MachineBios.firmwareTagFound) return 2;
  return MachineBios.biosType != 0 ? 1 : 0;
}

int32_t ORRIVANE_CALL Orrivane_GetBIOSFileSize(const char* path) {
  if (!g_initialized || g_isNt == 1 || MachineBios.biosType == 0) return 0;
  return orr::ReadFileSize(path);
}

uint32_t ORRIVANE_CALL Orrivane_GetBIOSROMInfo(char* model, char* idString, char* version, char* date,
                                               uint32_t* dateCode, uint32_t* extendedFamily, uint32_t useAltModel,
                                               char* description) {
  if (!g_initialized) return 0;
  const bool extended = MachineBios.biosType == 4;
  CopyOut(model, useAltModel && extended ? MachineBios.altModelName : MachineBios.modelName);
  CopyOut(idString, MachineBios.idString);
  CopyOut(version, MachineBios.versionText);
  CopyOut(date, MachineBios.dateText);
  StoreOut(dateCode, MachineBios.dateCode);
  StoreOut(extendedFamily, extended ? 1u : 0u);
  CopyOut(description, MachineBios.descriptionText);
  return 0;
}

uint32_t ORRIVANE_CALL InstallShield_GetBIOSROMInfo(char* model, char* idString) {
  if (!g_initialized) return 0;
  CopyOut(model, MachineBios.modelName);
  CopyOut(idString, MachineBios.idString);
  return 0;
}

uint32_t ORRIVANE_CALL Orrivane_GetBIOSFileInfo(const char* path, char* model, char* idString, char* version,
                                                char* date, uint32_t* dateCode, uint32_t* identityRecordFound) {
  if (!g_initialized) return 0;
  orr::ImageSlot slot = {nullptr, 0};
  uint32_t result = orr::LoadBiosImage(slot, path);
  if (result == 0 && ImageBios.amiTagFound == 0) result = orr::ExtractImageIdentity(slot);
  orr::ReleaseImage(slot);
  CopyOut(model, ImageBios.modelName);
  CopyOut(idString, ImageBios.idString);
  CopyOut(version, ImageBios.versionText);
  CopyOut(date, ImageBios.dateText);
  StoreOut(dateCode, ImageBios.dateCode);
  StoreOut(identityRecordFound, ImageBios.amiTagFound);
  return result;
}

uint32_t ORRIVANE_CALL Orrivane_GetROMbuildVersion(void) { return ImageBios.buildVersion; }

const char* ORRIVANE_CALL Orrivane_GetROMID(void) { return MachineBios.romId; }

uint8_t ORRIVANE_CALL Orrivane_CheckLogo(void) { return g_initialized ? MachineBios.logoFlags : 0; }

uint32_t ORRIVANE_CALL InstallShield_CheckLogo(void) { return g_initialized ? MachineBios.logoFlags : 0u; }

// Ordinal 5. The header declares Orrivane_CheckPlugins with an 8-bit result,
// and compiled so it may leave bits 8 to 31 of EAX as they were (the plug-in
// bytes it loaded); the DLL's export list maps the name to this function, so
// a caller that reads 32 bits finds 0 or 1 too.
uint32_t ORRIVANE_CALL Orrivane_CheckPlugins32(void) { return g_initialized ? PluginsPresent() : 0u; }

#ifndef _WIN32
// The host build has no export list to map the name.
uint8_t ORRIVANE_CALL Orrivane_CheckPlugins(void) { return static_cast<uint8_t>(Orrivane_CheckPlugins32()); }
#endif

uint32_t ORRIVANE_CALL InstallShield_CheckPlugins(void) { return g_initialized ? PluginsPresent() : 0u; }

uint32_t ORRIVANE_CALL Orrivane_CheckOnboardLan(void) { return g_initialized ? MachineBios.onboardLan : 0u; }

uint32_t ORRIVANE_CALL Orrivane_CheckOnboardDev(void) { return MachineBios.onboardDevices; }

uint32_t ORRIVANE_CALL Orrivane_GetFlashSize(void) { return g_initialized ? MachineBios.flashSize : 0u; }

uint8_t ORRIVANE_CALL Orrivane_GetBIOSType(void) { return static_cast<uint8_t>(MachineBios.biosType); }

uint32_t ORRIVANE_CALL Orrivane_GetDMIBIOSSize(void) { return (MachineBios.romSizeCode + 1u) * 65536u; }

}  // extern "C"
