// kernel32 and user32 as the library uses them.
#include <windows.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "state.h"

using tb::S;

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
  bool nt = S().machine.platform == tb::Platform::Nt;
  info->dwMajorVersion = nt ? 5 : 4;
  info->dwMinorVersion = nt ? 1 : 10;
  info->dwBuildNumber = nt ? 2600 : 2222;
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
  s.blocks[handle].bytes.assign(bytes, 0);
  return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(handle));
}

LPVOID WINAPI GlobalLock(HGLOBAL mem) {
  tb::State& s = S();
  if (++s.lockCalls == s.failLockAt) return nullptr;
  auto it = s.blocks.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem)));
  if (it == s.blocks.end() || it->second.bytes.empty()) return nullptr;
  ++it->second.locks;
  return it->second.bytes.data();
}

BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
  auto it = S().blocks.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem)));
  if (it == S().blocks.end() || it->second.locks == 0) return FALSE;
  return --it->second.locks > 0;
}

SIZE_T WINAPI GlobalSize(HGLOBAL mem) {
  auto it = S().blocks.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem)));
  return it == S().blocks.end() ? 0 : it->second.bytes.size();
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
  auto it = S().blocks.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem)));
  if (it == S().blocks.end()) return mem;
  S().blocks.erase(it);
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

BOOL WINAPI CloseHandle(HANDLE handle) {
  return S().tokens.erase(reinterpret_cast<uintptr_t>(handle)) ? TRUE : FALSE;
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

// Windows caps the output at 1024 characters and its NUL; the formats the
// library uses (%s, %u, %d) mean the same to vsnprintf.
int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(out, 1025, format, args);
  va_end(args);
  return n > 1024 ? 1024 : n;
}

}  // extern "C"
