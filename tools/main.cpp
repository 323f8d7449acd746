// orrivane: runs the library's exports on a simulated machine and prints
// what they answer; with --dll, the exports of ORRIVANE.DLL run under the
// emulator against the same simulated machine.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>

#include "commands.h"
#include "dll_runner.h"
#include "orrivane_version.h"

namespace {

const dllrun::OrrivaneApi* g_library = &dllrun::LinkedLibrary();

// The DLL broke a rule a caller relies on, or faulted.
constexpr int kDllFailed = 70;

struct DllNotLoadable {
  std::string why;
};

}  // namespace

const dllrun::OrrivaneApi& Library() { return *g_library; }

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"Which BIOS a simulated machine runs and which BIOS an image file holds"};
  app.set_version_flag("--version", "orrivane " ORRIVANE_VERSION_DOTTED);
  app.require_subcommand(1);
  std::string dll;
  app.add_option("--dll", dll,
                 "Run the exports of this ORRIVANE.DLL under the emulator instead of the linked library "
                 "(before the subcommand)");
  dllrun::DllRunner runner;
  // After the whole command line is checked, before the subcommand runs.
  app.parse_complete_callback([&] {
    if (dll.empty()) return;
    std::string error;
    if (!runner.Load(dll, error)) throw DllNotLoadable{error};
    dllrun::BindDll(&runner);
    g_library = &dllrun::DllLibrary();
  });
  int exitStatus = 0;
  AddMachineCommand(app, exitStatus);
  AddImageCommands(app, exitStatus);
  AddEnvCommand(app, exitStatus);
  AddCallCommand(app, exitStatus, runner);
  try {
    app.parse(argc, argv);
    runner.Unload();
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  } catch (const DllNotLoadable& e) {
    std::cerr << "orrivane: cannot load the DLL: " << e.why << "\n";
    return 2;
  } catch (const dllrun::Fault& f) {
    std::cout.flush();
    std::cerr << "orrivane: " << runner.ModuleName() << " failed: " << f.what() << "\n";
    return kDllFailed;
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
