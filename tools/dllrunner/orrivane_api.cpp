#include "orrivane_api.h"

#include <cstring>
#include <string>

#include "caller_buffers.h"
#include "hex_text.h"
#include "orrivane.h"

namespace dllrun {
namespace {

// Buffer sizes a caller supplies, as the export list documents them.
constexpr uint32_t kModel = 60, kIdString = 100, kVersion = 60, kMachineDate = 30, kImageDate = 32,
                   kDescription = 32, kNumber = 4, kRomIdField = 6;

DllRunner* g_runner = nullptr;
std::string g_romId;

DllRunner& Runner(const char* name) {
  if (!g_runner || !g_runner->Loaded()) throw Fault(std::string(name) + ": no DLL is loaded");
  return *g_runner;
}

uint32_t Invoke(const char* name, const std::vector<uint32_t>& args) {
  Runner(name);
  return CallDllExport(*FindExport(name), args);
}

uint32_t Initialize() { return Invoke("Orrivane_Initialize", {}); }
uint32_t Uninitialize() { return Invoke("Orrivane_Uninitialize", {}); }
uint32_t CheckBIOSTag() { return Invoke("Orrivane_CheckBIOSTag", {}); }
uint32_t IsCheckBIOSTag() { return Invoke("InstallShield_CheckBIOSTag", {}); }

int32_t GetBIOSFileSize(const char* path) {
  CallerBuffers b(Runner("Orrivane_GetBIOSFileSize"));
  return static_cast<int32_t>(b.Finish(Invoke("Orrivane_GetBIOSFileSize", {b.In(path)})));
}

uint32_t GetBIOSROMInfo(char* model, char* id, char* version, char* date, uint32_t* dateCode, uint32_t* extended,
                        uint32_t useAltModel, char* description) {
  CallerBuffers b(Runner("Orrivane_GetBIOSROMInfo"));
  return b.Finish(Invoke("Orrivane_GetBIOSROMInfo",
                         {b.Out(model, kModel), b.Out(id, kIdString), b.Out(version, kVersion),
                          b.Out(date, kMachineDate), b.Out(dateCode, kNumber), b.Out(extended, kNumber), useAltModel,
                          b.Out(description, kDescription)}));
}

uint32_t IsGetBIOSROMInfo(char* model, char* id) {
  CallerBuffers b(Runner("InstallShield_GetBIOSROMInfo"));
  return b.Finish(Invoke("InstallShield_GetBIOSROMInfo", {b.Out(model, kModel), b.Out(id, kIdString)}));
}

uint32_t GetBIOSFileInfo(const char* path, char* model, char* id, char* version, char* date, uint32_t* dateCode,
                         uint32_t* found) {
  CallerBuffers b(Runner("Orrivane_GetBIOSFileInfo"));
  return b.Finish(Invoke("Orrivane_GetBIOSFileInfo",
                         {b.In(path), b.Out(model, kModel), b.Out(id, kIdString), b.Out(version, kVersion),
                          b.Out(date, kImageDate), b.Out(dateCode, kNumber), b.Out(found, kNumber)}));
}

uint32_t GetROMbuildVersion() { return Invoke("Orrivane_GetROMbuildVersion", {}); }

// The library owns the text; the caller gets a host copy that lasts until
// the next call.
const char* GetROMID() {
  const uint32_t at = Invoke("Orrivane_GetROMID", {});
  if (!at) return nullptr;
  char field[kRomIdField];
  const uint32_t readable = g_runner->Memory().Reach(at, kRomIdField, kRead);
  if (!g_runner->Memory().Read(at, field, readable) || !std::memchr(field, 0, readable)) {
    throw Fault("Orrivane_GetROMID: no NUL-terminated text of at most 5 characters at " + Hex(at, 8));
  }
  g_romId = field;
  return g_romId.c_str();
}

uint8_t CheckLogo() { return static_cast<uint8_t>(Invoke("Orrivane_CheckLogo", {})); }
uint32_t IsCheckLogo() { return Invoke("InstallShield_CheckLogo", {}); }
uint8_t CheckPlugins() { return static_cast<uint8_t>(Invoke("Orrivane_CheckPlugins", {})); }
uint32_t IsCheckPlugins() { return Invoke("InstallShield_CheckPlugins", {}); }
uint32_t CheckOnboardLan() { return Invoke("Orrivane_CheckOnboardLan", {}); }
uint32_t CheckOnboardDev() { return Invoke("Orrivane_CheckOnboardDev", {}); }
uint32_t GetFlashSize() { return Invoke("Orrivane_GetFlashSize", {}); }
uint8_t GetBIOSType() { return static_cast<uint8_t>(Invoke("Orrivane_GetBIOSType", {})); }
uint32_t GetDMIBIOSSize() { return Invoke("Orrivane_GetDMIBIOSSize", {}); }
int32_t IsAdministrator() { return static_cast<int32_t>(Invoke("Orrivane_IsAdministrator", {})); }

int32_t CheckACPI(const char* text) {
  CallerBuffers b(Runner("InstallShield_CheckACPI"));
  return static_cast<int32_t>(b.Finish(Invoke("InstallShield_CheckACPI", {b.In(text)})));
}

}  // namespace

uint32_t CallDllExport(const ExportEntry& entry, const std::vector<uint32_t>& args) {
  DllRunner& r = Runner(entry.name);
  if (args.size() != entry.argc)
    throw Fault(std::string(entry.name) + " takes " + std::to_string(entry.argc) + " arguments, not " +
                std::to_string(args.size()));
  const uint32_t address = r.ExportByName(entry.name);
  if (!address) throw Fault(r.ModuleName() + " does not export " + entry.name);
  if (r.ExportByOrdinal(entry.ordinal) != address)
    throw Fault(r.ModuleName() + " exports " + entry.name + " under another ordinal than " +
                std::to_string(entry.ordinal));
  const uint32_t eax = r.CallExport(address, args, entry.name);
  // A caller that reads the narrow results as 32 bits must still find them.
  if (entry.width == ResultWidth::Bits8Flag && eax > 1) {
    throw Fault(std::string(entry.name) + " left " + Hex(eax, 8) +
                " in EAX: its 8-bit result must be 0 or 1 in the whole register");
  }
  if (entry.width == ResultWidth::Bits8 && eax > 0xFF)
    throw Fault(std::string(entry.name) + " left " + Hex(eax, 8) + " in EAX: its 8-bit result is not zero-extended");
  return eax;
}

const OrrivaneApi& LinkedLibrary() {
  static const OrrivaneApi api = {
      ::Orrivane_Initialize,      ::Orrivane_Uninitialize,       ::Orrivane_CheckBIOSTag,
      ::InstallShield_CheckBIOSTag, ::Orrivane_GetBIOSFileSize,  ::Orrivane_GetBIOSROMInfo,
      ::InstallShield_GetBIOSROMInfo, ::Orrivane_GetBIOSFileInfo, ::Orrivane_GetROMbuildVersion,
      ::Orrivane_GetROMID,        ::Orrivane_CheckLogo,          ::InstallShield_CheckLogo,
      ::Orrivane_CheckPlugins,    ::InstallShield_CheckPlugins,  ::Orrivane_CheckOnboardLan,
      ::Orrivane_CheckOnboardDev, ::Orrivane_GetFlashSize,       ::Orrivane_GetBIOSType,
      ::Orrivane_GetDMIBIOSSize,  ::Orrivane_IsAdministrator,    ::InstallShield_CheckACPI,
  };
  return api;
}

const OrrivaneApi& DllLibrary() {
  static const OrrivaneApi api = {
      Initialize,      Uninitialize,    CheckBIOSTag, IsCheckBIOSTag,  GetBIOSFileSize, GetBIOSROMInfo,
      IsGetBIOSROMInfo, GetBIOSFileInfo, GetROMbuildVersion, GetROMID, CheckLogo,       IsCheckLogo,
      CheckPlugins,    IsCheckPlugins,  CheckOnboardLan, CheckOnboardDev, GetFlashSize, GetBIOSType,
      GetDMIBIOSSize,  IsAdministrator, CheckACPI,
  };
  return api;
}

void BindDll(DllRunner* runner) { g_runner = runner; }

}  // namespace dllrun
