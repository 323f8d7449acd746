// orrivane: runs the library's exports on a simulated machine and prints
// what they answer.
#include <CLI/CLI.hpp>

#include "commands.h"
#include "orrivane_version.h"

int main(int argc, char** argv) {
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
