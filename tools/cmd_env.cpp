// orrivane env: the two installer environment checks on a simulated machine,
// with the debugger lines each call wrote.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "text_output.h"
#include "orrivane.h"
#include "testbed.h"

namespace {

struct EnvOptions {
  std::string profile;
  std::vector<std::string> acpi;
  bool json = false;
};

int RunEnv(const EnvOptions& options) {
  tb::Machine machine;
  std::string error;
  if (!LoadToolMachine(options.profile, machine, error)) {
    std::cerr << "orrivane env: " << error << "\n";
    return 2;
  }
  tb::Reset(machine);

  const int32_t administrator = Library().Orrivane_IsAdministrator();
  nlohmann::ordered_json acpi = nlohmann::ordered_json::object();
  if (!options.json) std::cout << "Orrivane_IsAdministrator: " << administrator << "\n";
  for (const std::string& text : options.acpi) {
    const size_t before = tb::DebugLines().size();
    const int32_t found = Library().InstallShield_CheckACPI(text.c_str());
    acpi[JsonText(text)] = found;
    if (options.json) continue;
    std::cout << "InstallShield_CheckACPI " << Quoted(text) << ": " << found << "\n";
    for (size_t i = before; i < tb::DebugLines().size(); ++i) std::cout << "  debug: " << tb::DebugLines()[i] << "\n";
  }
  if (options.json) {
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    for (const std::string& line : tb::DebugLines()) lines.push_back(JsonText(line));
    nlohmann::ordered_json out;
    out["isAdministrator"] = administrator;
    out["acpi"] = acpi;
    out["debugLines"] = lines;
    std::cout << out.dump(2) << "\n";
  }
  return 0;
}

}  // namespace

void AddEnvCommand(CLI::App& app, int& exitStatus) {
  auto options = std::make_shared<EnvOptions>();
  CLI::App* env = app.add_subcommand("env", "Whether the caller is an administrator, and which system devices are present");
  env->add_option("--profile", options->profile, "Machine profile (JSON); without it the built-in demo machine");
  env->add_option("--acpi", options->acpi, "Fragment of a hardware id, passed on byte for byte; repeat for more")
      ->allow_extra_args(false);
  env->add_flag("--json", options->json, "One JSON object: isAdministrator, acpi, debugLines");
  env->callback([options, &exitStatus] { exitStatus = RunEnv(*options); });
}
