// The loaded-module lookups. The library asks the testbed's Windows whether
// ntdll.dll is loaded and exports RtlGetVersion (the NT family in a 9x
// compatibility mode): for ntdll the testbed decides, as it does for the
// host build, and an answer it gives has a stub behind it. Every other
// module is the runner's: the DLL itself and the modules its import table
// names are loaded, and the runtime's look-ups (libgcc's unwinder DLL) find
// nothing else, with the testbed's "not found" error.
#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "dll_runner.h"
#include "imports.h"

namespace dllrun {
namespace {

// Modules whose presence and exports the testbed decides.
constexpr const char* kTestbedModules[] = {"ntdll.dll"};

constexpr uint32_t kOrdinalLimit = 0x10000;  // GetProcAddress takes a smaller "name" as an ordinal

bool TestbedDecides(const std::string& module) {
  for (const char* m : kTestbedModules)
    if (module == m) return true;
  return false;
}

// The runner's lower-case name with ".dll", as DllRunner::ModuleOf gives it.
std::string ModuleName(std::string name) {
  for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.find('.') == std::string::npos) name += ".dll";
  return name;
}

std::string WideText(ImportCall& c, uint32_t at) {
  std::string text;
  for (;; at += 2) {
    const std::vector<uint8_t> unit = c.Read(at, 2);
    const auto ch = static_cast<uint16_t>(unit[0] | unit[1] << 8);
    if (ch == 0) return text;
    text.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
    if (text.size() > 0x8000) c.Fail("wide text has no end");
  }
}

// The process has no program image of its own, so the program's handle has
// nothing behind it to give.
void ModuleHandleOf(ImportCall& c, const std::string& name, bool named) {
  if (!named) c.Fail("asks for the program's module handle; the runner loads no program");
  const std::string module = ModuleName(name);
  if (TestbedDecides(module) && !GetModuleHandleA(module.c_str())) return c.Return(0);
  if (const uint32_t handle = c.Runner().ModuleHandle(name)) return c.Return(handle);
  if (GetModuleHandleA(name.c_str()))
    c.Fail("the testbed has " + name + " loaded, but the runner provides nothing of it (docs/dll-runner.md)");
  c.Return(0);  // the testbed's lookup set ERROR_MOD_NOT_FOUND
}

void GetModuleHandleA_(ImportCall& c) { ModuleHandleOf(c, c.Arg(0) ? c.Text(c.Arg(0)) : "", c.Arg(0) != 0); }
void GetModuleHandleW_(ImportCall& c) { ModuleHandleOf(c, c.Arg(0) ? WideText(c, c.Arg(0)) : "", c.Arg(0) != 0); }
void LoadLibraryA_(ImportCall& c) { ModuleHandleOf(c, c.Text(c.Arg(0)), true); }

void FreeLibrary_(ImportCall& c) {
  const uint32_t handle = c.Arg(0);
  if (handle == c.Runner().Base() || !c.Runner().ModuleOf(handle).empty()) return c.Return(TRUE);
  SetLastError(ERROR_INVALID_HANDLE);
  c.Return(FALSE);
}

void GetProcAddress_(ImportCall& c) {
  const uint32_t handle = c.Arg(0), which = c.Arg(1);
  DllRunner& r = c.Runner();
  const bool byOrdinal = which < kOrdinalLimit;
  const std::string name = byOrdinal ? "" : c.Text(which);
  if (handle == r.Base()) {
    const uint32_t address = byOrdinal ? r.ExportByOrdinal(static_cast<uint16_t>(which)) : r.ExportByName(name);
    if (!address) SetLastError(ERROR_PROC_NOT_FOUND);
    return c.Return(address);
  }
  const std::string module = r.ModuleOf(handle);
  if (module.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return c.Return(0);
  }
  if (TestbedDecides(module)) {
    // The testbed answers for the machine as it is now; its handle is its own.
    HMODULE host = GetModuleHandleA(module.c_str());
    const auto* asked = byOrdinal ? reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(which)) : name.c_str();
    if (!host || !GetProcAddress(host, asked)) return c.Return(0);
  }
  std::string missing;
  const uint32_t address = byOrdinal ? r.ResolveByOrdinal(module, static_cast<uint16_t>(which), missing)
                                     : r.ResolveByName(module, name, missing);
  if (!address) c.Fail("asks for " + missing + ", which the runner does not provide (add a stub: docs/dll-runner.md)");
  c.Return(address);
}

// RTL_OSVERSIONINFOW: the same layout on both sides.
struct RtlVersionRecord {
  uint32_t size, major, minor, build, platform;
  uint16_t servicePack[128];
};
static_assert(sizeof(RtlVersionRecord) == 276);
using RtlGetVersionFunction = LONG(WINAPI*)(RtlVersionRecord*);

// Reached only through GetProcAddress, so only where the testbed's ntdll
// has the function; the record goes to it and back whole.
void RtlGetVersion_(ImportCall& c) {
  const uint32_t at = c.Arg(0);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const FARPROC found = ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (!found) c.Fail("the machine's ntdll.dll has no RtlGetVersion now (it changed family after the lookup)");
  if (!at) c.Fail("RtlGetVersion without a record faults");
  RtlVersionRecord record{};
  record.size = c.U32(at);
  // The testbed reads and writes the whole record only when its size says so.
  const bool whole = record.size >= sizeof record;
  if (whole) std::memcpy(&record, c.Read(at, sizeof record).data(), sizeof record);
  const LONG status = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(found))(&record);
  if (whole) c.Write(at, &record, sizeof record);
  c.Return(static_cast<uint32_t>(status));
}

}  // namespace

void AddModuleImports(ImportTable& t) {
  t.insert(t.end(), {
      Stdcall("KERNEL32.dll", "GetModuleHandleA", 1, GetModuleHandleA_),
      Stdcall("KERNEL32.dll", "GetModuleHandleW", 1, GetModuleHandleW_),
      Stdcall("KERNEL32.dll", "LoadLibraryA", 1, LoadLibraryA_),
      Stdcall("KERNEL32.dll", "FreeLibrary", 1, FreeLibrary_),
      Stdcall("KERNEL32.dll", "GetProcAddress", 2, GetProcAddress_),
      Stdcall("ntdll.dll", "RtlGetVersion", 1, RtlGetVersion_),
  });
}

}  // namespace dllrun
