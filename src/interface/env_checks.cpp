// Not built yet: the installer environment checks land with their own
// change. Until then both answer 0.
#define ORRIVANE_BUILD
#include "orrivane.h"

extern "C" {
int32_t ORRIVANE_CALL Orrivane_IsAdministrator(void) { return 0; }
int32_t ORRIVANE_CALL InstallShield_CheckACPI(const char*) { return 0; }
}
