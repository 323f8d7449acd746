// Machine detection with fuzzed firmware: the input is split into the
// F segment, the SMBIOS table, the "$PIR" area, the flash, top and ROM id
// windows and the PCI answers (firmware_input.h), and Orrivane_Initialize
// runs on the machine they make; then every query copies its fields out.
// ORRIVANE_FUZZ_VERBOSE set in the environment prints what was detected.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "firmware_input.h"
#include "harness.h"
#include "state/module_state.h"
#include "orrivane.h"

namespace {

// Outputs of exactly the documented sizes on the heap.
void QueryEverything() {
  std::unique_ptr<char[]> model(new char[60]), id(new char[100]), version(new char[60]), date(new char[30]),
      description(new char[32]);
  uint32_t dateCode = 0, extended = 0;
  for (uint32_t alt = 0; alt < 2; ++alt) {
    Orrivane_GetBIOSROMInfo(model.get(), id.get(), version.get(), date.get(), &dateCode, &extended, alt,
                            description.get());
    if (!g_initialized) continue;
    FZ_REQUIRE(std::memchr(model.get(), 0, 60) && std::memchr(id.get(), 0, 100));
    FZ_REQUIRE(std::memchr(version.get(), 0, 60) && std::memchr(date.get(), 0, 30));
    FZ_REQUIRE(std::memchr(description.get(), 0, 32));
  }
  InstallShield_GetBIOSROMInfo(model.get(), id.get());
  FZ_REQUIRE(std::strlen(Orrivane_GetROMID()) <= 5);
  FZ_REQUIRE(Orrivane_CheckLogo() <= 7 && InstallShield_CheckLogo() <= 7);
  FZ_REQUIRE(Orrivane_CheckOnboardLan() <= 1);
  FZ_REQUIRE(Orrivane_CheckOnboardDev() <= 0x0F);
  FZ_REQUIRE(Orrivane_CheckPlugins() <= 1 && InstallShield_CheckPlugins() <= 1);
  FZ_REQUIRE(Orrivane_CheckBIOSTag() <= 1 && InstallShield_CheckBIOSTag() <= 2);
  Orrivane_GetFlashSize();
  Orrivane_GetBIOSType();
  Orrivane_GetDMIBIOSSize();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x30000) return 0;
  // The testbed's machine is reused: the previous run cleared only the
  // memory it wrote, and the machine is handed back without a copy, so its
  // memory file and window mappings stay.
  tb::Machine& machine = tb::CurrentMachine();
  fz::BuildMachine(fz::DecodeFirmware(data, size), machine);
  fz::StartWith(std::move(machine));
  const uint32_t detected = Orrivane_Initialize();
  FZ_REQUIRE(detected == g_initialized && detected <= 1);
  FZ_REQUIRE(g_isNt == (tb::CurrentMachine().platform == tb::Platform::Nt ? 1u : 0u));
  // The driver is opened and freed once per detection: nothing stays mapped.
  fz::RequireInvariants();
  if (std::getenv("ORRIVANE_FUZZ_VERBOSE"))
    std::fprintf(stderr,
                 "  detected %u, type %u, model \"%s\", alt \"%s\", id \"%s\", version \"%s\", date \"%s\", "
                 "description \"%s\", rom id \"%s\", logo %u, lan %u, devices %u, rom size %u, tag %u\n",
                 detected, MachineBios.biosType, MachineBios.modelName, MachineBios.altModelName,
                 MachineBios.idString, MachineBios.versionText, MachineBios.dateText, MachineBios.descriptionText,
                 MachineBios.romId, MachineBios.logoFlags, MachineBios.onboardLan, MachineBios.onboardDevices,
                 MachineBios.romSizeCode, MachineBios.firmwareTagFound);
  QueryEverything();
  fz::EndRun();
  return 0;
}
