// kernel32 and user32 as the library uses them.
#include <windows.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "state.h"

using tb::S;

namespace {

std::string HandleText(const void* handle) {
  char text[24];
  std::snprintf(text, sizeof text, "%#llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
  return text;
}

// A handle GlobalAlloc gave and GlobalFree has not taken back; anything
// else is used in breach of the contract.
tb::GlobalBlock* LiveBlock(HGLOBAL mem, const char* call) {
  auto it = S().blocks.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem)));
  if (it != S().blocks.end()) return &it->second;
  tb::Violation(std::string(call) + " of " + HandleText(mem) + ", which is not an allocated block");
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void) { return S().lastError; }
void WINAPI SetLastError(DWORD error) { S().lastError = error; }

// The report may differ from the machine's family (a compatibility mode),
// and the call may fail; Windows fails it only for a record size it does
// not know (the 156-byte extended record is not supported here).
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info) {
    tb::Violation("GetVersionExA without a record");
    return FALSE;
  }
  const tb::Machine& m = S().machine;
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) || m.versionCallFails) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const bool nt = m.reportedPlatform.value_or(m.platform) == tb::Platform::Nt;
  info->dwMajorVersion = nt ? 5 : 4;
  info->dwMinorVersion = nt ? 1 : 10;
  info->dwBuildNumber = nt ? 2600 : 0x040A08AE;  // 9x repeats the version in the high word: 4.10.2222
  info->dwPlatformId = nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
  info->szCSDVersion[0] = '\0';
  return TRUE;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  tb::State& s = S();
  if (++s.allocCalls == s.failAllocAt) return nullptr;
  if (!(flags & GMEM_MOVEABLE)) return nullptr;  // the library only asks for movable blocks
  uint32_t handle = s.nextBlock;
  s.nextBlock += 8;
  const SIZE_T granularity = s.machine.globalSizeGranularity > 1 ? s.machine.globalSizeGranularity : 1;
  s.blocks[handle].bytes = tb::BlockBytes((bytes + granularity - 1) / granularity * granularity);
  return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(handle));
}

LPVOID WINAPI GlobalLock(HGLOBAL mem) {
  tb::State& s = S();
  if (++s.lockCalls == s.failLockAt) return nullptr;
  tb::GlobalBlock* block = LiveBlock(mem, "GlobalLock");
  if (!block || block->bytes.empty()) return nullptr;  // an empty movable block is discarded
  ++block->locks;
  return block->bytes.data();
}

// FALSE both when the last lock goes (last error NO_ERROR) and on failure.
BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
  tb::GlobalBlock* block = LiveBlock(mem, "GlobalUnlock");
  if (!block) return FALSE;
  if (block->locks == 0) {
    tb::Violation("GlobalUnlock of " + HandleText(mem) + ", which is not locked");
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  if (--block->locks > 0) return TRUE;
  SetLastError(NO_ERROR);
  return FALSE;
}

SIZE_T WINAPI GlobalSize(HGLOBAL mem) {
  auto it = S().blocks.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem)));
  return it == S().blocks.end() ? 0 : it->second.bytes.size();
}

// Success gives null, failure the handle back. A locked block is freed too;
// a null handle is allowed and does nothing.
HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
  if (!mem) return nullptr;
  if (!LiveBlock(mem, "GlobalFree")) return mem;
  S().blocks.erase(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem)));
  return nullptr;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  const std::string& dir = S().machine.currentDirectory;
  if (dir.size() + 1 > size) return static_cast<DWORD>(dir.size() + 1);
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return static_cast<DWORD>(dir.size());
}

void WINAPI OutputDebugStringA(LPCSTR text) { S().debugLines.emplace_back(text ? text : ""); }

HANDLE WINAPI GetCurrentProcess(void) { return INVALID_HANDLE_VALUE; }

// The only real handles here are tokens. Closing the current-process
// pseudo handle does nothing, but raises an exception under a debugger.
BOOL WINAPI CloseHandle(HANDLE handle) {
  if (handle == GetCurrentProcess()) {
    tb::Violation("CloseHandle of the current-process pseudo handle");
    return TRUE;
  }
  if (S().tokens.erase(reinterpret_cast<uintptr_t>(handle))) return TRUE;
  tb::Violation("CloseHandle of " + HandleText(handle) + ", which is not an open handle");
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

// Unbounded, as the Windows functions are: the library owns the sizes.
LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) { return std::strcpy(dst, src); }  // NOLINT(clang-analyzer-security.insecureAPI.strcpy)
LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) { return std::strcat(dst, src); }  // NOLINT(clang-analyzer-security.insecureAPI.strcpy)
int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  for (;; ++a, ++b) {
    int ca = std::tolower(static_cast<unsigned char>(*a));
    int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT style) {
  S().messageBoxes.push_back(tb::MessageBox{owner, text ? text : "", title ? title : "", style});
  return 1;  // IDOK
}

// Windows writes at most 1024 bytes, the NUL included, and counts what it
// stored; the formats the library uses (%s, %u, %d) mean the same to vsnprintf.
int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(out, 1024, format, args);
  va_end(args);
  return n > 1023 ? 1023 : n;
}

}  // extern "C"
