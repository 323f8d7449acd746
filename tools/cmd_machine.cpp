// orrivane machine: runs Orrivane_Initialize on a simulated machine, then
// every query that answers from the machine's BIOS record, and prints the
// answers with the export each comes from.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "text_output.h"
#include "orrivane.h"
#include "profile.h"
#include "testbed.h"

extern const unsigned char kDemoMachineProfile[];
extern const std::size_t kDemoMachineProfileSize;

namespace {

struct MachineOptions {
  std::string profile;
  bool json = false;
};

// An answer is a number or a text of single bytes.
struct Answer {
  const char* key;     // the JSON key
  std::string source;  // the export, and which of its outputs
  bool isText;
  std::string text;
  uint32_t number;
};

// Buffers far larger than any field, zeroed, so a guarded query that writes
// nothing reads as an empty text.
struct RomInfo {
  char model[256] = {};
  char idString[256] = {};
  char version[256] = {};
  char date[256] = {};
  uint32_t dateCode = 0;
  uint32_t extendedFamily = 0;
  char description[256] = {};
};

RomInfo GetRomInfo(uint32_t useAltModel) {
  RomInfo info;
  Library().Orrivane_GetBIOSROMInfo(info.model, info.idString, info.version, info.date, &info.dateCode,
                                    &info.extendedFamily, useAltModel, info.description);
  return info;
}

std::vector<Answer> AskEveryQuery() {
  const RomInfo info = GetRomInfo(0);
  const RomInfo alt = GetRomInfo(1);
  const char* romId = Library().Orrivane_GetROMID();
  auto number = [](const char* key, std::string source, uint32_t value) {
    return Answer{key, std::move(source), false, "", value};
  };
  auto text = [](const char* key, std::string source, std::string value) {
    return Answer{key, std::move(source), true, std::move(value), 0};
  };
  const std::string rom = "Orrivane_GetBIOSROMInfo ";
  return {
      number("biosTag", "Orrivane_CheckBIOSTag", Library().Orrivane_CheckBIOSTag()),
      number("installerBiosTag", "InstallShield_CheckBIOSTag", Library().InstallShield_CheckBIOSTag()),
      number("biosType", "Orrivane_GetBIOSType", Library().Orrivane_GetBIOSType()),
      text("model", rom + "model", info.model),
      text("altModel", rom + "model, alternative", alt.model),
      text("idString", rom + "identification", info.idString),
      text("version", rom + "version", info.version),
      text("date", rom + "date", info.date),
      number("dateCode", rom + "date code", info.dateCode),
      number("extendedFamily", rom + "extended family", info.extendedFamily),
      text("description", rom + "description", info.description),
      text("romId", "Orrivane_GetROMID", romId ? romId : ""),
      number("logo", "Orrivane_CheckLogo", Library().Orrivane_CheckLogo()),
      number("plugins", "Orrivane_CheckPlugins", Library().Orrivane_CheckPlugins()),
      number("onboardLan", "Orrivane_CheckOnboardLan", Library().Orrivane_CheckOnboardLan()),
      number("onboardDevices", "Orrivane_CheckOnboardDev", Library().Orrivane_CheckOnboardDev()),
      number("flashSize", "Orrivane_GetFlashSize", Library().Orrivane_GetFlashSize()),
      number("dmiBiosSize", "Orrivane_GetDMIBIOSSize", Library().Orrivane_GetDMIBIOSSize()),
  };
}

// The onboard device bits by name, for the text output.
std::string DeviceBits(uint32_t bits) {
  static const char* const kNames[] = {"network", "multimedia", "chipset audio", "chipset HD audio"};
  const std::string hex = "0x" + HexDigits(bits, 2);
  std::string names;
  for (uint32_t bit = 0; bit < 4; ++bit)
    if (bits & (1u << bit)) names += (names.empty() ? "" : ", ") + std::string(kNames[bit]);
  return names.empty() ? hex : hex + " (" + names + ")";
}

void PrintText(uint32_t initialized, const std::vector<Answer>& answers) {
  size_t width = std::string("Orrivane_Initialize").size();
  for (const Answer& a : answers) width = std::max(width, a.source.size());
  auto line = [&](const std::string& source, const std::string& value) {
    std::cout << source << std::string(width + 2 - source.size(), ' ') << value << "\n";
  };
  line("Orrivane_Initialize", std::to_string(initialized));
  for (const Answer& a : answers) {
    if (a.isText)
      line(a.source, Quoted(a.text));
    else if (std::string(a.key) == "onboardDevices")
      line(a.source, DeviceBits(a.number));
    else
      line(a.source, std::to_string(a.number));
  }
}

void PrintJson(uint32_t initialized, const std::vector<Answer>& answers) {
  nlohmann::ordered_json out;
  out["initialized"] = initialized;
  nlohmann::ordered_json messages = nlohmann::ordered_json::array();
  for (const tb::MessageBox& box : tb::MessageBoxes()) messages.push_back(JsonText(box.text));
  out["messages"] = messages;
  for (const Answer& a : answers) {
    if (a.isText)
      out[a.key] = JsonText(a.text);
    else
      out[a.key] = a.number;
  }
  std::cout << out.dump(2) << "\n";
}

bool LoadMachine(const MachineOptions& options, tb::Machine& machine, std::string& error) {
  if (!options.profile.empty()) return tb::LoadProfile(options.profile, machine, error);
  const std::string demo(reinterpret_cast<const char*>(kDemoMachineProfile), kDemoMachineProfileSize);
  return tb::LoadProfileText(demo, "", "demo-machine.json", machine, error);
}

int RunMachine(const MachineOptions& options) {
  tb::Machine machine;
  std::string error;
  if (!LoadMachine(options, machine, error)) {
    std::cerr << "orrivane machine: " << error << "\n";
    return 2;
  }
  tb::Reset(machine);

  const uint32_t initialized = Library().Orrivane_Initialize();
  if (!options.json)
    for (const tb::MessageBox& box : tb::MessageBoxes()) std::cerr << "message: " << box.text << "\n";
  const std::vector<Answer> answers = AskEveryQuery();
  if (options.json)
    PrintJson(initialized, answers);
  else
    PrintText(initialized, answers);
  return initialized == 1 ? 0 : 1;
}

}  // namespace

void AddMachineCommand(CLI::App& app, int& exitStatus) {
  auto options = std::make_shared<MachineOptions>();
  CLI::App* machine = app.add_subcommand("machine", "Detect the BIOS of a simulated machine and print every answer");
  machine->add_option("--profile", options->profile, "Machine profile (JSON); without it the built-in demo machine");
  machine->add_flag("--json", options->json, "One JSON object with every answer and the messages shown");
  machine->callback([options, &exitStatus] { exitStatus = RunMachine(*options); });
}

bool LoadToolMachine(const std::string& profile, tb::Machine& machine, std::string& error) {
  MachineOptions options;
  options.profile = profile;
  return LoadMachine(options, machine, error);
}
