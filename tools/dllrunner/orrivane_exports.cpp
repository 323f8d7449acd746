#include "orrivane_exports.h"

#include <cstring>

namespace dllrun {

const std::vector<ExportEntry>& OrrivaneExports() {
  using W = ResultWidth;
  static const std::vector<ExportEntry> exports = {
      {"Orrivane_CheckBIOSTag", 1, 0, W::Bits32},
      {"Orrivane_CheckLogo", 2, 0, W::Bits8},
      {"Orrivane_CheckOnboardDev", 3, 0, W::Bits32},
      {"Orrivane_CheckOnboardLan", 4, 0, W::Bits32},
      {"Orrivane_CheckPlugins", 5, 0, W::Bits8Flag},
      {"Orrivane_GetBIOSFileInfo", 6, 7, W::Bits32},
      {"Orrivane_GetBIOSFileSize", 7, 1, W::Bits32},
      {"Orrivane_GetBIOSROMInfo", 8, 8, W::Bits32},
      {"Orrivane_GetBIOSType", 9, 0, W::Bits8},
      {"Orrivane_GetFlashSize", 10, 0, W::Bits32},
      {"Orrivane_Initialize", 11, 0, W::Bits32},
      {"Orrivane_IsAdministrator", 12, 0, W::Bits32},
      {"Orrivane_Uninitialize", 13, 0, W::Bits32},
      {"InstallShield_CheckBIOSTag", 14, 0, W::Bits32},
      {"InstallShield_CheckLogo", 15, 0, W::Bits32},
      {"InstallShield_CheckPlugins", 16, 0, W::Bits32},
      {"InstallShield_GetBIOSROMInfo", 17, 2, W::Bits32},
      {"Orrivane_GetROMbuildVersion", 18, 0, W::Bits32},
      {"Orrivane_GetROMID", 19, 0, W::Bits32},
      {"InstallShield_CheckACPI", 20, 1, W::Bits32},
      {"Orrivane_GetDMIBIOSSize", 21, 0, W::Bits32},
  };
  return exports;
}

const ExportEntry* FindExport(const char* name) {
  for (const ExportEntry& e : OrrivaneExports())
    if (std::strcmp(e.name, name) == 0) return &e;
  return nullptr;
}

}  // namespace dllrun
