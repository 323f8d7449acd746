/* A plain C caller of every export of ORRIVANE.DLL, built against the public
 * header and the import library. The declarations are pinned below, so a
 * header that drifts from the export list fails to compile, and a call whose
 * decoration the import library does not resolve fails to link. Run on a
 * Windows machine it prints what the library reports. */
#include <stdint.h>
#include <stdio.h>

#include "orrivane.h"

#define PIN(function, type) _Static_assert(_Generic(&function, type: 1, default: 0), #function " is declared " \
                                                                                     "differently from its export")

typedef uint32_t(__stdcall* U32Query)(void);
typedef uint8_t(__stdcall* U8Query)(void);
typedef int32_t(__stdcall* I32Query)(void);

PIN(Orrivane_Initialize, U32Query);
PIN(Orrivane_Uninitialize, U32Query);
PIN(Orrivane_CheckBIOSTag, U32Query);
PIN(InstallShield_CheckBIOSTag, U32Query);
PIN(Orrivane_GetBIOSFileSize, int32_t(__stdcall*)(const char*));
PIN(Orrivane_GetBIOSROMInfo,
    uint32_t(__stdcall*)(char*, char*, char*, char*, uint32_t*, uint32_t*, uint32_t, char*));
PIN(InstallShield_GetBIOSROMInfo, uint32_t(__stdcall*)(char*, char*));
PIN(Orrivane_GetBIOSFileInfo,
    uint32_t(__stdcall*)(const char*, char*, char*, char*, char*, uint32_t*, uint32_t*));
PIN(Orrivane_GetROMbuildVersion, U32Query);
PIN(Orrivane_GetROMID, const char*(__stdcall*)(void));
PIN(Orrivane_CheckLogo, U8Query);
PIN(InstallShield_CheckLogo, U32Query);
PIN(Orrivane_CheckPlugins, U8Query);
PIN(InstallShield_CheckPlugins, U32Query);
PIN(Orrivane_CheckOnboardLan, U32Query);
PIN(Orrivane_CheckOnboardDev, U32Query);
PIN(Orrivane_GetFlashSize, U32Query);
PIN(Orrivane_GetBIOSType, U8Query);
PIN(Orrivane_GetDMIBIOSSize, U32Query);
PIN(Orrivane_IsAdministrator, I32Query);
PIN(InstallShield_CheckACPI, int32_t(__stdcall*)(const char*));

int main(int argc, char** argv) {
  printf("administrator %ld\n", (long)Orrivane_IsAdministrator());
  printf("ACPI PNP0A03 %ld\n", (long)InstallShield_CheckACPI("PNP0A03"));

  uint32_t detected = Orrivane_Initialize();
  printf("initialized %lu\n", (unsigned long)detected);

  char model[60] = "", idString[100] = "", version[60] = "", date[32] = "", description[32] = "";
  uint32_t dateCode = 0, extended = 0;
  Orrivane_GetBIOSROMInfo(model, idString, version, date, &dateCode, &extended, 0, description);
  printf("model \"%s\" id \"%s\" version \"%s\" date \"%s\" code %lu extended %lu description \"%s\"\n", model,
         idString, version, date, (unsigned long)dateCode, (unsigned long)extended, description);
  Orrivane_GetBIOSROMInfo(model, NULL, NULL, NULL, NULL, NULL, 1, NULL);
  printf("alternative model \"%s\"\n", model);
  InstallShield_GetBIOSROMInfo(model, idString);
  printf("installer model \"%s\" id \"%s\"\n", model, idString);

  printf("tag %lu installer tag %lu type %u\n", (unsigned long)Orrivane_CheckBIOSTag(),
         (unsigned long)InstallShield_CheckBIOSTag(), (unsigned)Orrivane_GetBIOSType());
  printf("logo %u installer logo %lu\n", (unsigned)Orrivane_CheckLogo(), (unsigned long)InstallShield_CheckLogo());
  printf("plugins %u installer plugins %lu\n", (unsigned)Orrivane_CheckPlugins(),
         (unsigned long)InstallShield_CheckPlugins());
  printf("lan %lu devices 0x%lx\n", (unsigned long)Orrivane_CheckOnboardLan(),
         (unsigned long)Orrivane_CheckOnboardDev());
  printf("flash %lu DMI %lu ROM id \"%s\"\n", (unsigned long)Orrivane_GetFlashSize(),
         (unsigned long)Orrivane_GetDMIBIOSSize(), Orrivane_GetROMID());

  if (argc > 1) {
    uint32_t found = 0;
    uint32_t result = Orrivane_GetBIOSFileInfo(argv[1], model, idString, version, date, &dateCode, &found);
    printf("image %lu: model \"%s\" id \"%s\" version \"%s\" date \"%s\" code %lu record %lu build %lu size %ld\n",
           (unsigned long)result, model, idString, version, date, (unsigned long)dateCode, (unsigned long)found,
           (unsigned long)Orrivane_GetROMbuildVersion(), (long)Orrivane_GetBIOSFileSize(argv[1]));
  }
  return Orrivane_Uninitialize() == 1 ? 0 : 1;
}
