// orrivane: runs the library's exports on a simulated machine and prints
// what they answer.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "commands.h"
#include "orrivane_version.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"Which BIOS a simulated machine runs and which BIOS an image file holds"};
  app.set_version_flag("--version", "orrivane " ORRIVANE_VERSION_DOTTED);
  app.require_subcommand(1);
  int exitStatus = 0;
  AddMachineCommand(app, exitStatus);
  AddImageCommands(app, exitStatus);
  AddEnvCommand(app, exitStatus);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  return exitStatus;
}

}  // namespace

// Whatever escapes a command (a profile the loader cannot take, memory) ends
// the run with exit status 2 and the reason, never with an abort.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "orrivane: " << e.what() << "\n";
    return 2;
  }
}
