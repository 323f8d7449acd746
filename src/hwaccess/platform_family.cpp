#include "hwaccess/platform_family.h"

#include <windows.h>

#include <cstring>

namespace orr {

static_assert(sizeof(OSVERSIONINFOA) == 148);

bool RunningOnNtFamily() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  // A 9x system always answers; when the call fails, the NT path is the one
  // that cannot fault in the caller's process.
  if (!GetVersionExA(&version)) return true;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) return true;

  // A 9x report may be a compatibility mode's version lie, which hooks the
  // version calls only. ntdll.dll is mapped into every NT process and exports
  // RtlGetVersion from Windows 2000 on (the first NT release with such modes);
  // no 9x process has it. Its presence decides; what it would report does
  // not, as that comes from per-process data a compatibility layer may rewrite.
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "RtlGetVersion");
}

}  // namespace orr
