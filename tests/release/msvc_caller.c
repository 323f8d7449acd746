/* A caller as Microsoft's toolchain builds it: compiled for
 * i686-pc-windows-msvc, linked with lld-link against ORRIVANE.lib alone and
 * no C runtime (its own entry point). The check reads which names its
 * import table asks ORRIVANE.DLL for; the program is never run. */
#include "orrivane.h"

int __stdcall Start(void) {
  char model[60], id[100], version[60], date[32], description[32];
  uint32_t code, extended, found;
  uint32_t sum = Orrivane_Initialize() + Orrivane_Uninitialize() + Orrivane_CheckBIOSTag() +
                 InstallShield_CheckBIOSTag() + (uint32_t)Orrivane_GetBIOSFileSize("BIOS.ROM");
  sum += Orrivane_GetBIOSROMInfo(model, id, version, date, &code, &extended, 0, description);
  sum += InstallShield_GetBIOSROMInfo(model, id);
  sum += Orrivane_GetBIOSFileInfo("BIOS.ROM", model, id, version, date, &code, &found);
  sum += Orrivane_GetROMbuildVersion() + (uint32_t)(Orrivane_GetROMID() != 0);
  sum += Orrivane_CheckLogo() + InstallShield_CheckLogo() + Orrivane_CheckPlugins() + InstallShield_CheckPlugins();
  sum += Orrivane_CheckOnboardLan() + Orrivane_CheckOnboardDev() + Orrivane_GetFlashSize() + Orrivane_GetBIOSType();
  sum += Orrivane_GetDMIBIOSSize() + (uint32_t)Orrivane_IsAdministrator() + (uint32_t)InstallShield_CheckACPI("PNP");
  return (int)sum;
}
