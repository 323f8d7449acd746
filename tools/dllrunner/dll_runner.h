// Loads a 32-bit x86 DLL into the emulator and calls its exports: maps the
// headers and sections at the image base (relocating when it must load
// elsewhere), binds every import through the import table, sets up its
// static TLS, runs the TLS callbacks and the entry point with process attach
// at load and process detach at unload.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator.h"
#include "guest_heap.h"
#include "imports.h"
#include "pe_image.h"
#include "runtime_state.h"

namespace dllrun {

struct LoadOptions {
  bool relocate = false;                  // load away from the preferred base, as when it is taken
  const ImportTable* imports = nullptr;   // null: DefaultImports()
};

class DllRunner {
 public:
  // Executed blocks (straight runs of instructions) one call may take: some
  // 800 times what Orrivane_GetBIOSFileInfo needs on a 32 MiB image (1.2
  // million), seconds of emulation, so only an endless loop reaches it.
  static constexpr uint64_t kBudget = 1ull << 30;

  DllRunner();
  ~DllRunner();  // process detach when still loaded; a failure there is only reported
  DllRunner(const DllRunner&) = delete;
  DllRunner& operator=(const DllRunner&) = delete;

  // Loads and attaches; false with the reason in error (the file, what is
  // wrong with it, a missing import, a failed attach).
  bool Load(const std::string& path, std::string& error, const LoadOptions& options = {});
  // Process detach; throws Fault when it fails.
  void Unload();
  bool Loaded() const { return loaded_; }

  const std::string& ModuleName() const { return moduleName_; }
  uint32_t Base() const { return base_; }
  const PeImage& Image() const { return image_; }
  uint32_t ExportByName(const std::string& name) const;  // 0 when there is none
  uint32_t ExportByOrdinal(uint16_t ordinal) const;

  // Calls the function at address with stdcall, checked as a Windows caller
  // would check it (Emulator::Call); the outside world is brought in line
  // around the call. Returns EAX; throws Fault.
  uint32_t CallExport(uint32_t address, const std::vector<uint32_t>& args, const std::string& what);
  // Every stub call is written here, one line each, when set.
  void SetTrace(std::FILE* out) { trace_ = out; }

  Emulator& Cpu() { return *cpu_; }
  GuestMemory& Memory() { return cpu_->Memory(); }
  GuestHeap& Heap() { return heap_; }
  RuntimeState& State() { return state_; }

  // For stubs: the guest address of a data import, a function the table
  // binds (GetProcAddress) or a module the runner stands in for.
  uint32_t DataAddress(const std::string& dll, const std::string& name) const;
  uint32_t ResolveByName(const std::string& dll, const std::string& name, std::string& error);
  uint32_t ResolveByOrdinal(const std::string& dll, uint16_t ordinal, std::string& error);
  uint32_t ModuleHandle(const std::string& name);  // 0 for a module the runner does not provide
  std::string ModuleOf(uint32_t handle) const;      // "" for no module the runner handed out

 private:
  bool MapImage(const LoadOptions& options, std::string& error);
  bool BindImports(std::string& error);
  bool SetUpTls(std::string& error);
  void Notify(uint32_t reason);  // TLS callbacks, then the entry point
  uint32_t Bind(const ImportDef& def);
  const ImportDef* Find(const std::string& dll, const std::string& name, uint16_t ordinal) const;

  std::unique_ptr<Emulator> cpu_;
  GuestHeap heap_;
  RuntimeState state_;
  PeImage image_;
  const ImportTable* table_ = nullptr;
  std::map<const ImportDef*, uint32_t> bound_;  // def -> guest address
  std::vector<const ImportDef*> slots_;         // stub slot -> def
  std::string moduleName_;
  uint32_t base_ = 0;
  std::vector<uint32_t> tlsCallbacks_;
  std::FILE* trace_ = nullptr;
  bool loaded_ = false;
};

// Around every call into the DLL (imports_driver.cpp, imports_memory_blocks.cpp).
void RefreshMachineViews(DllRunner& runner);  // low memory and the driver's windows as the testbed has them now
bool LowMemoryFaults(uint32_t address);       // a direct read of the first megabyte on the NT family
void SyncBlocksToHost(DllRunner& runner);     // the guest's copies of locked blocks back into the testbed
void SyncBlocksToGuest(DllRunner& runner);
// At a call's end: the bytes go back to the testbed and the guest's views
// end; a block still locked keeps its lock, and a later GlobalLock maps it
// again.
void SettleBlocks(DllRunner& runner);

}  // namespace dllrun
