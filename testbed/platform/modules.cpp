// The loaded-module lookups: ntdll.dll is mapped into every process on NT
// and absent on 9x, and its RtlGetVersion reports the machine's real
// version, whatever GetVersionExA is made to report.
#include <windows.h>

#include <cstring>
#include <strings.h>

#include "state.h"

using tb::S;

namespace {

// Handles as the system would give them; only their identity matters here.
const auto kProgram = reinterpret_cast<HMODULE>(uintptr_t{0x00400000});
const auto kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x7C800000});
const auto kNtdll = reinterpret_cast<HMODULE>(uintptr_t{0x7C900000});

struct RtlVersionRecord {  // RTL_OSVERSIONINFOW
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  uint16_t szCSDVersion[128];
};
static_assert(sizeof(RtlVersionRecord) == 276);

constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusInvalidParameter = static_cast<LONG>(0xC000000Dl);

LONG WINAPI RtlGetVersion(RtlVersionRecord* info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(RtlVersionRecord)) return kStatusInvalidParameter;
  info->dwMajorVersion = 5;
  info->dwMinorVersion = 1;
  info->dwBuildNumber = 2600;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = 0;
  return kStatusSuccess;
}

// A module name as GetModuleHandleA takes it: any case, ".dll" optional.
bool Names(LPCSTR name, const char* base) {
  const size_t length = std::strlen(base);
  return strncasecmp(name, base, length) == 0 && (name[length] == '\0' || strcasecmp(name + length, ".dll") == 0);
}

}  // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (!name) return kProgram;
  if (Names(name, "kernel32")) return kKernel32;
  if (Names(name, "ntdll") && tb::OnNt()) return kNtdll;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (module != kNtdll && module != kKernel32 && module != kProgram) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // A name whose pointer fits in 16 bits is an ordinal; none is answered here.
  const bool byName = reinterpret_cast<uintptr_t>(name) > 0xFFFF;
  if (module == kNtdll && byName && std::strcmp(name, "RtlGetVersion") == 0 && tb::OnNt())
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RtlGetVersion));
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

}  // extern "C"
