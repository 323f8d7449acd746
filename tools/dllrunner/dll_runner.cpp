#include "dll_runner.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hwaccess/platform_io.h"

namespace dllrun {
namespace {

constexpr uint32_t kHeapSize = 64u << 20;
constexpr uint32_t kDllProcessDetach = 0, kDllProcessAttach = 1;
constexpr uint32_t kScnExecute = 0x20000000, kScnRead = 0x40000000, kScnWrite = 0x80000000;
constexpr uint32_t kMaxTlsCallbacks = 64;
// Pseudo handles of the modules the runner stands in for: addresses above
// the driver's windows that nothing maps, so code that reads a "module
// header" there faults instead of reading something made up.
constexpr uint32_t kModuleHandleBase = 0xE8000000, kModuleHandleStep = 0x10000;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  const bool whole = !std::ferror(file);
  const int error = errno;
  (void)std::fclose(file);  // only read from: nothing to lose
  errno = error;
  return whole;
}

uint32_t SectionProtection(uint32_t characteristics) {
  uint32_t prot = 0;
  if (characteristics & kScnRead) prot |= kRead;
  if (characteristics & kScnWrite) prot |= kWrite | kRead;
  if (characteristics & kScnExecute) prot |= kExec | kRead;
  return prot ? prot : kRead;
}

}  // namespace

DllRunner::DllRunner() = default;

DllRunner::~DllRunner() {
  if (!loaded_ || cpu_->Broken()) return;  // a run that failed has said so already
  try {
    Unload();
  } catch (const Fault& f) {
    (void)std::fprintf(stderr, "%s: process detach failed: %s\n", moduleName_.c_str(), f.what());
  }
}

const ImportDef* DllRunner::Find(const std::string& dll, const std::string& name, uint16_t ordinal) const {
  const std::string wanted = Lower(dll);
  for (const ImportDef& d : *table_) {
    if (Lower(d.dll) != wanted) continue;
    if (name.empty() ? (!d.name && d.ordinal == ordinal) : (d.name && name == d.name)) return &d;
  }
  return nullptr;
}

uint32_t DllRunner::Bind(const ImportDef& def) {
  auto it = bound_.find(&def);
  if (it != bound_.end()) return it->second;
  uint32_t address = 0;
  switch (def.kind) {
    case ImportKind::Function:
      address = cpu_->AddStub(def.convention, def.argBytes);
      slots_.push_back(&def);
      break;
    case ImportKind::GuestCode:
      address = cpu_->AddCode(def.bytes());
      break;
    case ImportKind::Data: {
      const std::vector<uint8_t> contents = def.bytes();
      address = heap_.Allocate(static_cast<uint32_t>(contents.size()));
      if (!address) throw Fault("no guest memory for " + std::string(def.dll) + "!" + def.name);
      Memory().Write(address, contents.data(), static_cast<uint32_t>(contents.size()));
      break;
    }
  }
  bound_[&def] = address;
  return address;
}

uint32_t DllRunner::ResolveByName(const std::string& dll, const std::string& name, std::string& error) {
  const ImportDef* def = Find(dll, name, 0);
  if (!def) {
    error = dll + "!" + name;
    return 0;
  }
  return Bind(*def);
}

uint32_t DllRunner::ResolveByOrdinal(const std::string& dll, uint16_t ordinal, std::string& error) {
  const ImportDef* def = Find(dll, "", ordinal);
  if (!def) {
    error = dll + " ordinal " + std::to_string(ordinal);
    return 0;
  }
  return Bind(*def);
}

uint32_t DllRunner::DataAddress(const std::string& dll, const std::string& name) const {
  const ImportDef* def = Find(dll, name, 0);
  if (!def) return 0;
  auto it = bound_.find(def);
  return it == bound_.end() ? 0 : it->second;
}

uint32_t DllRunner::ModuleHandle(const std::string& name) {
  std::string wanted = Lower(BaseName(name));
  if (wanted.find('.') == std::string::npos) wanted += ".dll";
  if (wanted == Lower(moduleName_) || (!image_.ExportName().empty() && wanted == Lower(image_.ExportName())))
    return base_;
  for (const auto& [handle, module] : state_.modules)
    if (module == wanted) return handle;
  bool provided = false;
  for (const ImportDef& d : *table_) provided = provided || Lower(d.dll) == wanted;
  if (!provided) return 0;
  const uint32_t handle = kModuleHandleBase + kModuleHandleStep * static_cast<uint32_t>(state_.modules.size());
  state_.modules[handle] = wanted;
  return handle;
}

std::string DllRunner::ModuleOf(uint32_t handle) const {
  auto it = state_.modules.find(handle);
  return it == state_.modules.end() ? std::string() : it->second;
}

uint32_t DllRunner::ExportByName(const std::string& name) const {
  for (const PeExport& e : image_.Exports())
    if (e.name == name) return base_ + e.rva;
  return 0;
}

uint32_t DllRunner::ExportByOrdinal(uint16_t ordinal) const {
  for (const PeExport& e : image_.Exports())
    if (e.ordinal == ordinal) return base_ + e.rva;
  return 0;
}

bool DllRunner::MapImage(const LoadOptions& options, std::string& error) {
  GuestMemory& memory = Memory();
  const uint32_t size = image_.ImageSize();
  const bool preferred =
      !options.relocate && image_.ImageBase() >= kArenaEnd && memory.IsFree(image_.ImageBase(), size);
  std::string why;
  if (preferred) {
    base_ = image_.ImageBase();
    if (!memory.Map(base_, size, kRead | kWrite, moduleName_, why)) base_ = 0;
  }
  if (!base_) base_ = memory.MapAnywhere(size, kRead | kWrite, moduleName_, why, 0x10000);
  if (!base_) {
    error = "no room for the image: " + why;
    return false;
  }
  uint8_t* mapped = memory.Span(base_, size, kWrite);
  const std::vector<uint8_t>& file = image_.File();
  std::memcpy(mapped, file.data(), image_.HeaderSize());
  for (const PeSection& s : image_.Sections())
    if (s.rawSize) std::memcpy(mapped + s.rva, file.data() + s.rawOffset, s.rawSize);
  if (!image_.Relocate(mapped, base_, error)) return false;
  memory.Protect(base_, image_.HeaderSize(), kRead);
  for (const PeSection& s : image_.Sections())
    memory.Protect(base_ + s.rva, PageRound(s.virtualSize), SectionProtection(s.characteristics));
  cpu_->NameImage(base_, size, moduleName_);
  return true;
}

bool DllRunner::BindImports(std::string& error) {
  std::vector<std::string> missing;
  for (const PeImport& im : image_.Imports()) {
    const ImportDef* def = Find(im.dll, im.name, im.ordinal);
    if (!def) {
      missing.push_back(im.dll + "!" + (im.name.empty() ? "#" + std::to_string(im.ordinal) : im.name));
      continue;
    }
    const uint32_t address = Bind(*def);
    std::memcpy(Memory().Span(base_ + im.slotRva, 4, 0), &address, 4);
  }
  if (missing.empty()) return true;
  error = "the runner has no implementation of ";
  for (size_t i = 0; i < missing.size(); ++i) error += (i ? ", " : "") + missing[i];
  error += " (add a stub: docs/dll-runner.md)";
  return false;
}

// Static TLS: the template copied into a block for the one thread, the
// block's address at index 0 of the thread block's TLS array, the index
// written where the directory says, and the callbacks collected.
bool DllRunner::SetUpTls(std::string& error) {
  const uint32_t rva = image_.TlsDirectoryRva();
  if (!rva) return true;
  uint32_t dir[6];
  if (!Memory().Read(base_ + rva, dir, sizeof dir)) {
    error = "the TLS directory cannot be read";
    return false;
  }
  const uint32_t start = dir[0], end = dir[1], indexAt = dir[2], callbacks = dir[3], zeroFill = dir[4];
  if (end < start || end - start > (16u << 20) || zeroFill > (16u << 20)) {
    error = "the TLS directory states an impossible template";
    return false;
  }
  const uint32_t block = heap_.Allocate(end - start + zeroFill);
  const uint32_t array = heap_.Allocate(4 * kTlsSlotCount);
  std::vector<uint8_t> initial(end - start);
  if (!block || !array || !Memory().Read(start, initial.data(), end - start) ||
      !Memory().Write(block, initial.data(), end - start)) {
    error = "the TLS template cannot be set up";
    return false;
  }
  const uint32_t zero = 0;
  Memory().Write(array, &block, 4);
  Memory().Write(cpu_->Teb() + kTebTlsPointer, &array, 4);
  if (indexAt && !Memory().Write(indexAt, &zero, 4)) {
    error = "the TLS index cannot be written";
    return false;
  }
  for (uint32_t at = callbacks; at; at += 4) {
    uint32_t callback = 0;
    if (!Memory().Read(at, &callback, 4) || tlsCallbacks_.size() > kMaxTlsCallbacks) {
      error = "the TLS callback list cannot be read";
      return false;
    }
    if (!callback) break;
    tlsCallbacks_.push_back(callback);
  }
  return true;
}

void DllRunner::Notify(uint32_t reason) {
  const char* what = reason == kDllProcessAttach ? "process attach" : "process detach";
  if (trace_) (void)std::fprintf(trace_, "%s: %s\n", moduleName_.c_str(), what);  // a trace line is best effort
  for (uint32_t callback : tlsCallbacks_)
    CallExport(callback, {base_, reason, 0}, std::string("TLS callback (") + what + ")");
  if (image_.EntryPointRva() == 0) return;
  const uint32_t ok =
      CallExport(base_ + image_.EntryPointRva(), {base_, reason, 0}, std::string("DllMain (") + what + ")");
  if (reason == kDllProcessAttach && ok == 0) throw Fault("DllMain refused the process attach (returned FALSE)");
}

bool DllRunner::Load(const std::string& path, std::string& error, const LoadOptions& options) {
  if (loaded_ || cpu_) {
    error = "this runner has loaded a DLL already";
    return false;
  }
  moduleName_ = BaseName(path);
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string why;
  if (!image_.Parse(bytes, why)) {
    error = path + ": " + why;
    return false;
  }
  table_ = options.imports ? options.imports : &DefaultImports();
  if (std::getenv("ORRIVANE_DLL_TRACE")) trace_ = stderr;
  try {
    cpu_ = std::make_unique<Emulator>();
    // The first megabyte is mapped (on 9x) before each call: RefreshMachineViews.
    if (!heap_.Init(Memory(), kHeapSize, why) || !MapImage(options, why) || !BindImports(why) || !SetUpTls(why)) {
      error = path + ": " + why;
      return false;
    }
    cpu_->SetStubDispatch([this](uint32_t slot, uint32_t esp) {
      const ImportDef& def = *slots_.at(slot);
      ImportCall call(*this, def, esp);
      if (trace_) (void)std::fprintf(trace_, "%s\n", call.Name().c_str());
      def.function(call);
      // The last error is the testbed's; the thread block shows it too.
      const uint32_t lastError = GetLastError();
      Memory().Write(cpu_->Teb() + kTebLastError, &lastError, 4);
    });
    cpu_->SetFaultNote([](uint32_t address) {
      return LowMemoryFaults(address) ? std::string(" (the first megabyte, which NT does not show at its addresses)")
                                      : std::string();
    });
    cpu_->SetPorts([](uint16_t port) { return orr::PortIn32(port); },
                   [](uint16_t port, uint32_t value) { orr::PortOut32(port, value); });
    loaded_ = true;
    Notify(kDllProcessAttach);
  } catch (const Fault& f) {
    loaded_ = false;
    error = path + ": " + f.what();
    return false;
  }
  return true;
}

void DllRunner::Unload() {
  if (!loaded_) return;
  loaded_ = false;
  Notify(kDllProcessDetach);
}

uint32_t DllRunner::CallExport(uint32_t address, const std::vector<uint32_t>& args, const std::string& what) {
  if (!cpu_) throw Fault(what + ": no DLL is loaded");
  RefreshMachineViews(*this);
  const uint32_t eax = cpu_->Call(address, args, Convention::Stdcall, what, kBudget);
  if (trace_) (void)std::fprintf(trace_, "%s: EAX 0x%08X after %llu blocks\n", what.c_str(), eax,
                           static_cast<unsigned long long>(cpu_->BlocksRun()));
  SettleBlocks(*this);
  return eax;
}

// ImportCall: argument and memory access for stubs.

uint32_t ImportCall::Arg(unsigned index) { return U32(esp_ + 4 + 4 * index); }

void ImportCall::Return(uint32_t eax) { runner_.Cpu().SetEax(eax); }

GuestMemory& ImportCall::Memory() { return runner_.Memory(); }

std::string ImportCall::Name() const {
  return std::string(def_.dll) + "!" + (def_.name ? def_.name : "#" + std::to_string(def_.ordinal));
}

void ImportCall::Fail(const std::string& why) { throw Fault(Name() + ": " + why); }

std::string ImportCall::Text(uint32_t address, uint32_t limit) {
  if (address == 0) Fail("null text pointer");
  std::string text;
  for (uint32_t at = address;;) {
    const uint32_t reach = Memory().Reach(at, 4096 - at % 4096, kRead);
    if (reach == 0) Fail("text at " + runner_.Cpu().Describe(address) + " runs into memory the DLL cannot read");
    const uint8_t* bytes = Memory().Span(at, reach, kRead);
    const void* nul = std::memchr(bytes, 0, reach);
    const uint32_t take = nul ? static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - bytes) : reach;
    text.append(reinterpret_cast<const char*>(bytes), take);
    if (nul) return text;
    if (text.size() > limit) Fail("text at " + runner_.Cpu().Describe(address) + " has no end");
    at += reach;
  }
}

std::vector<uint8_t> ImportCall::Read(uint32_t address, uint32_t size) {
  std::vector<uint8_t> bytes(size);
  if (size && !Memory().Read(address, bytes.data(), size))
    Fail("cannot read " + std::to_string(size) + " bytes at " + runner_.Cpu().Describe(address));
  return bytes;
}

void ImportCall::Write(uint32_t address, const void* bytes, uint32_t size) {
  if (size && !Memory().Write(address, bytes, size))
    Fail("cannot write " + std::to_string(size) + " bytes at " + runner_.Cpu().Describe(address));
}

uint32_t ImportCall::U32(uint32_t address) {
  uint32_t value = 0;
  if (!Memory().Read(address, &value, 4)) Fail("cannot read 4 bytes at " + runner_.Cpu().Describe(address));
  return value;
}

void ImportCall::PutU32(uint32_t address, uint32_t value) { Write(address, &value, 4); }

uint8_t* ImportCall::Span(uint32_t address, uint32_t size, uint32_t access) {
  uint8_t* span = Memory().Span(address, size, access);
  if (!span)
    Fail("cannot " + std::string(access & kWrite ? "write " : "read ") + std::to_string(size) + " bytes at " +
         runner_.Cpu().Describe(address));
  return span;
}

const ImportTable& DefaultImports() {
  static const ImportTable table = [] {
    ImportTable t;
    AddPlatformImports(t);
    AddMemoryBlockImports(t);
    AddDriverImports(t);
    AddSecurityImports(t);
    AddProcessImports(t);
    AddModuleImports(t);
    AddCrtImports(t);
    return t;
  }();
  return table;
}

}  // namespace dllrun
