// The import table: what every function, variable or guest routine the DLL
// may import is bound to. A stub is one row, made with one of the helpers
// below, plus (for a function) one small function that does the work:
//
//   Stdcall("KERNEL32.dll", "GlobalSize", 1, GlobalSize_),
//
// where GlobalSize_ reads its arguments from the ImportCall, does the work on
// the host and sets EAX with Return. The stub's `ret N` then removes the
// arguments (stdcall) or leaves them to the caller (cdecl).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator.h"

namespace dllrun {

class DllRunner;
class ImportCall;
using StubFunction = void (*)(ImportCall&);
using StubBytes = std::vector<uint8_t> (*)();

enum class ImportKind {
  Function,   // a host function behind a stub
  GuestCode,  // x86 code the runner places in the guest (for imports that call back into the DLL)
  Data,       // a variable: the slot receives its guest address
};

struct ImportDef {
  const char* dll;   // compared ignoring case
  const char* name;  // null when the DLL imports it by ordinal alone
  uint16_t ordinal;  // for imports by ordinal; 0 otherwise
  ImportKind kind;
  Convention convention;
  uint32_t argBytes;    // what a stdcall stub removes
  StubFunction function;
  StubBytes bytes;      // GuestCode: the code; Data: the variable's first contents
};

inline ImportDef Stdcall(const char* dll, const char* name, uint32_t argc, StubFunction f) {
  return {dll, name, 0, ImportKind::Function, Convention::Stdcall, 4 * argc, f, nullptr};
}
inline ImportDef StdcallOrdinal(const char* dll, uint16_t ordinal, uint32_t argc, StubFunction f) {
  return {dll, nullptr, ordinal, ImportKind::Function, Convention::Stdcall, 4 * argc, f, nullptr};
}
inline ImportDef Cdecl(const char* dll, const char* name, StubFunction f) {
  return {dll, name, 0, ImportKind::Function, Convention::Cdecl, 0, f, nullptr};
}
inline ImportDef GuestCode(const char* dll, const char* name, StubBytes code) {
  return {dll, name, 0, ImportKind::GuestCode, Convention::Cdecl, 0, nullptr, code};
}
inline ImportDef Data(const char* dll, const char* name, StubBytes contents) {
  return {dll, name, 0, ImportKind::Data, Convention::Cdecl, 0, nullptr, contents};
}

using ImportTable = std::vector<ImportDef>;

// Every import the runner provides: the Windows functions the library calls
// (bound to the testbed), the service library, and what the MinGW start-up
// code and static runtime use.
const ImportTable& DefaultImports();

// The parts, one per source file.
void AddPlatformImports(ImportTable& table);      // imports_platform.cpp
void AddMemoryBlockImports(ImportTable& table);   // imports_memory_blocks.cpp
void AddDriverImports(ImportTable& table);        // imports_driver.cpp
void AddSecurityImports(ImportTable& table);      // imports_security.cpp
void AddProcessImports(ImportTable& table);       // imports_process.cpp
void AddModuleImports(ImportTable& table);        // imports_modules.cpp
void AddCrtImports(ImportTable& table);           // imports_crt.cpp

// One call of a stub, as the stub function sees it.
class ImportCall {
 public:
  ImportCall(DllRunner& runner, const ImportDef& def, uint32_t esp) : runner_(runner), def_(def), esp_(esp) {}

  uint32_t Arg(unsigned index);  // the 32-bit argument at ESP + 4 + 4 * index
  uint32_t ArgAddress(unsigned index) const { return esp_ + 4 + 4 * index; }  // where varargs start
  int32_t SignedArg(unsigned index) { return static_cast<int32_t>(Arg(index)); }
  void Return(uint32_t eax);

  DllRunner& Runner() { return runner_; }
  GuestMemory& Memory();
  std::string Name() const;  // "KERNEL32.dll!GlobalSize"

  // Guest memory as the stub's work needs it; a pointer the stub cannot
  // use stops the run with a message naming the stub.
  std::string Text(uint32_t address, uint32_t limit = 1u << 20);  // up to its NUL
  std::vector<uint8_t> Read(uint32_t address, uint32_t size);
  void Write(uint32_t address, const void* bytes, uint32_t size);
  uint32_t U32(uint32_t address);
  void PutU32(uint32_t address, uint32_t value);
  __attribute__((returns_nonnull)) uint8_t* Span(uint32_t address, uint32_t size, uint32_t access);
  [[noreturn]] void Fail(const std::string& why);

 private:
  DllRunner& runner_;
  const ImportDef& def_;
  uint32_t esp_;
};

// Handles cross as WOW64 passes them: a guest handle is sign-extended for the
// host (INVALID_HANDLE_VALUE stays -1), and a host handle must fit back.
inline void* HostHandle(uint32_t guest) {
  return reinterpret_cast<void*>(static_cast<intptr_t>(static_cast<int32_t>(guest)));
}
inline uint32_t GuestHandle(ImportCall& call, const void* host) {
  const auto value = reinterpret_cast<intptr_t>(host);
  if (value != static_cast<int32_t>(value)) call.Fail("the testbed handed out a handle that does not fit in 32 bits");
  return static_cast<uint32_t>(value);
}

}  // namespace dllrun
