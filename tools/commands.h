// The subcommands of the orrivane tool; each adds itself to the app and
// sets the exit status through the returned reference when it runs.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "orrivane_api.h"

namespace tb {
struct Machine;
}

// The library the commands run: the linked one, or ORRIVANE.DLL under the
// emulator when the tool was given --dll.
const dllrun::OrrivaneApi& Library();

void AddMachineCommand(CLI::App& app, int& exitStatus);
void AddImageCommands(CLI::App& app, int& exitStatus);
void AddEnvCommand(CLI::App& app, int& exitStatus);
// orrivane --dll PATH call: one export of the DLL by hand.
void AddCallCommand(CLI::App& app, int& exitStatus, dllrun::DllRunner& runner);

// The machine of a --profile file, or the built-in demo machine when the
// profile is empty; false with the reason in error when it cannot be loaded.
bool LoadToolMachine(const std::string& profile, tb::Machine& machine, std::string& error);
