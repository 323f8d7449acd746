// The subcommands of the orrivane tool; each adds itself to the app and
// sets the exit status through the returned reference when it runs.
#pragma once

#include <CLI/CLI.hpp>

void AddMachineCommand(CLI::App& app, int& exitStatus);
void AddImageCommands(CLI::App& app, int& exitStatus);
void AddEnvCommand(CLI::App& app, int& exitStatus);
