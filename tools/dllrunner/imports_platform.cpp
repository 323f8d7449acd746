// kernel32 and user32 functions the library calls, bound to the testbed's
// stand-ins: the guest's arguments are copied to the host, the testbed
// answers, and what it wrote goes back into guest memory.
#include <windows.h>

#include <cstring>
#include <vector>

#include "dll_runner.h"
#include "guest_format.h"
#include "imports.h"

namespace dllrun {
namespace {

constexpr uint32_t kVersionInfoSize = 148;  // OSVERSIONINFOA, the same on both sides
static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoSize);
constexpr uint32_t kWsprintfLimit = 1024;   // characters wsprintfA writes at most, before its NUL

const char* TextOrNull(ImportCall& c, uint32_t address, std::string& keep) {
  if (!address) return nullptr;
  keep = c.Text(address);
  return keep.c_str();
}

void GetVersionExA_(ImportCall& c) {
  const uint32_t at = c.Arg(0);
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  // Only a record that says it is one is read whole; the testbed refuses the others.
  if (at) info.dwOSVersionInfoSize = c.U32(at);
  const bool whole = at && info.dwOSVersionInfoSize == kVersionInfoSize;
  if (whole) std::memcpy(&info, c.Read(at, kVersionInfoSize).data(), kVersionInfoSize);
  const BOOL ok = GetVersionExA(at ? &info : nullptr);
  if (whole) c.Write(at, &info, kVersionInfoSize);
  c.Return(ok);
}

void GetLastError_(ImportCall& c) { c.Return(GetLastError()); }
void SetLastError_(ImportCall& c) { SetLastError(c.Arg(0)); }

void GetCurrentDirectoryA_(ImportCall& c) {
  const uint32_t size = c.Arg(0), at = c.Arg(1);
  std::vector<uint8_t> buffer = at ? c.Read(at, size) : std::vector<uint8_t>();
  const DWORD result = GetCurrentDirectoryA(size, at ? reinterpret_cast<LPSTR>(buffer.data()) : nullptr);
  if (at) c.Write(at, buffer.data(), size);
  c.Return(result);
}

void OutputDebugStringA_(ImportCall& c) {
  std::string text;
  OutputDebugStringA(TextOrNull(c, c.Arg(0), text));
}

void GetCurrentProcess_(ImportCall& c) { c.Return(GuestHandle(c, GetCurrentProcess())); }

void CloseHandle_(ImportCall& c) {
  const uint32_t handle = c.Arg(0);
  if (c.Runner().State().semaphores.erase(handle)) return c.Return(TRUE);
  c.Return(CloseHandle(HostHandle(handle)));
}

// The string functions copy on the host and write the result back whole.
void lstrcpyA_(ImportCall& c) {
  const uint32_t dst = c.Arg(0);
  std::string src = c.Text(c.Arg(1));
  std::vector<char> out(src.size() + 1);
  lstrcpyA(out.data(), src.c_str());
  c.Write(dst, out.data(), static_cast<uint32_t>(out.size()));
  c.Return(dst);
}

void lstrcmpiA_(ImportCall& c) {
  const std::string a = c.Text(c.Arg(0)), b = c.Text(c.Arg(1));
  c.Return(static_cast<uint32_t>(lstrcmpiA(a.c_str(), b.c_str())));
}

void MessageBoxA_(ImportCall& c) {
  std::string text, title;
  c.Return(static_cast<uint32_t>(
      MessageBoxA(HostHandle(c.Arg(0)), TextOrNull(c, c.Arg(1), text), TextOrNull(c, c.Arg(2), title), c.Arg(3))));
}

// The testbed's wsprintfA prints each piece; the pieces are joined and held
// to wsprintfA's limit as one call would be. Each piece is the guest's
// format cut by RenderFormat to one conversion, whose argument has the type
// it names.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
std::string PrintWithTestbed(const std::string& piece, const FormatValue& v) {
  char out[kWsprintfLimit + 1];
  int n = 0;
  switch (v.kind) {
    case FormatValue::Int: n = wsprintfA(out, piece.c_str(), static_cast<int>(v.integer)); break;
    case FormatValue::Unsigned: n = wsprintfA(out, piece.c_str(), static_cast<unsigned>(v.unsignedInteger)); break;
    case FormatValue::Text: n = wsprintfA(out, piece.c_str(), v.text.c_str()); break;
    case FormatValue::NullText: n = wsprintfA(out, piece.c_str(), static_cast<const char*>(nullptr)); break;
    default: n = wsprintfA(out, piece.c_str()); break;
  }
  return std::string(out, n > 0 ? static_cast<size_t>(n) : 0);
}
#pragma GCC diagnostic pop

void wsprintfA_(ImportCall& c) {
  const uint32_t dst = c.Arg(0);
  std::string text = RenderFormat(c, c.Text(c.Arg(1)), c.ArgAddress(2), FormatDialect::Wsprintf, PrintWithTestbed);
  if (text.size() > kWsprintfLimit) text.resize(kWsprintfLimit);
  c.Write(dst, text.c_str(), static_cast<uint32_t>(text.size() + 1));
  c.Return(static_cast<uint32_t>(text.size()));
}

}  // namespace

void AddPlatformImports(ImportTable& t) {
  t.insert(t.end(), {
      Stdcall("KERNEL32.dll", "GetVersionExA", 1, GetVersionExA_),
      Stdcall("KERNEL32.dll", "GetLastError", 0, GetLastError_),
      Stdcall("KERNEL32.dll", "SetLastError", 1, SetLastError_),
      Stdcall("KERNEL32.dll", "GetCurrentDirectoryA", 2, GetCurrentDirectoryA_),
      Stdcall("KERNEL32.dll", "OutputDebugStringA", 1, OutputDebugStringA_),
      Stdcall("KERNEL32.dll", "GetCurrentProcess", 0, GetCurrentProcess_),
      Stdcall("KERNEL32.dll", "CloseHandle", 1, CloseHandle_),
      Stdcall("KERNEL32.dll", "lstrcpyA", 2, lstrcpyA_),
      Stdcall("KERNEL32.dll", "lstrcmpiA", 2, lstrcmpiA_),
      Stdcall("USER32.dll", "MessageBoxA", 4, MessageBoxA_),
      Cdecl("USER32.dll", "wsprintfA", wsprintfA_),
  });
}

}  // namespace dllrun
