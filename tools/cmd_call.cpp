// orrivane --dll PATH call EXPORT [ARG...]: one export of the DLL by hand,
// on a simulated machine (the demo machine, or --profile), after
// Orrivane_Initialize when --initialize is given. An argument is a number
// (decimal or 0x hex), text:STRING (a NUL-terminated text) or buffer:N (an
// output buffer of N zero bytes, shown after the call: a 4-byte one as a
// number). Prints EAX, the
// result as its declared width sees it, the buffers, and the message boxes
// and debugger lines of the call.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "caller_buffers.h"
#include "commands.h"
#include "hex_text.h"
#include "orrivane_api.h"
#include "testbed.h"
#include "text_output.h"

namespace {

struct CallOptions {
  std::string profile;
  bool initialize = false;
  bool trace = false;
  std::string name;
  std::vector<std::string> args;
};

int RunCall(const CallOptions& o, dllrun::DllRunner& runner) {
  if (!runner.Loaded()) {
    std::cerr << "orrivane call: runs an export of a DLL: give --dll PATH before the subcommand\n";
    return 2;
  }
  const dllrun::ExportEntry* entry = dllrun::FindExport(o.name.c_str());
  if (!entry) {
    std::cerr << "orrivane call: " << o.name << " is not an export of the library\n";
    return 2;
  }
  tb::Machine machine;
  std::string error;
  if (!LoadToolMachine(o.profile, machine, error)) {
    std::cerr << "orrivane call: " << error << "\n";
    return 2;
  }
  tb::Reset(machine);
  if (o.initialize) Library().Orrivane_Initialize();
  tb::ClearRecords();

  dllrun::CallerBuffers buffers(runner);
  std::vector<std::vector<char>> outputs(o.args.size());
  std::vector<uint32_t> args;
  for (size_t i = 0; i < o.args.size(); ++i) {
    const std::string& a = o.args[i];
    if (a.rfind("text:", 0) == 0) {
      args.push_back(buffers.In(a.c_str() + 5));
    } else if (a.rfind("buffer:", 0) == 0) {
      outputs[i].assign(std::stoul(a.substr(7), nullptr, 0), '\0');
      args.push_back(buffers.Out(outputs[i].data(), static_cast<uint32_t>(outputs[i].size())));
    } else {
      args.push_back(static_cast<uint32_t>(std::stoul(a, nullptr, 0)));
    }
  }
  if (o.trace) runner.SetTrace(stderr);
  const uint32_t eax = buffers.Finish(dllrun::CallDllExport(*entry, args));

  std::cout << entry->name << " returned EAX " << dllrun::Hex(eax, 8);
  if (entry->width != dllrun::ResultWidth::Bits32) std::cout << ", 8-bit result " << (eax & 0xFF);
  std::cout << "\n";
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i].empty()) continue;
    const std::string bytes(outputs[i].begin(), outputs[i].end());
    std::cout << "  argument " << i + 1 << ": ";
    if (bytes.size() == 4) {
      uint32_t number = 0;
      for (int b = 3; b >= 0; --b) number = number << 8 | static_cast<uint8_t>(bytes[b]);
      std::cout << dllrun::Hex(number, 8) << " (" << number << ")\n";
    } else {
      std::cout << Quoted(bytes.substr(0, bytes.find('\0'))) << "\n";
    }
  }
  for (const tb::MessageBox& box : tb::MessageBoxes()) std::cout << "  message: " << box.text << "\n";
  for (const std::string& line : tb::DebugLines()) std::cout << "  debug: " << line << "\n";
  return 0;
}

}  // namespace

void AddCallCommand(CLI::App& app, int& exitStatus, dllrun::DllRunner& runner) {
  auto o = std::make_shared<CallOptions>();
  CLI::App* call = app.add_subcommand("call", "Call one export of the DLL given with --dll and show what it returned");
  call->add_option("export", o->name, "Export name, such as Orrivane_GetBIOSType")->required();
  call->add_option("args", o->args, "Arguments: a number, text:STRING or buffer:N");
  call->add_option("--profile", o->profile, "Machine profile (JSON); without it the built-in demo machine");
  call->add_flag("--initialize", o->initialize, "Run Orrivane_Initialize first");
  call->add_flag("--trace", o->trace, "Name every import the call reaches, on standard error");
  call->callback([o, &exitStatus, &runner] { exitStatus = RunCall(*o, runner); });
}
