// orrivane machine, run as a program: each case file under
// data/machine-tool names a profile (none: the built-in demo machine), the
// exit status and every answer of --json.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace {

using nlohmann::ordered_json;

const std::string kCases = std::string(ORRIVANE_TEST_DATA) + "/machine-tool/";

TEST(MachineTool, JsonAnswersMatchFieldByField) {
  for (const char* name : {"demo", "extended-9x", "extended-nt", "firmware-tag", "open-error", "bytes-9x",
                           "plugins-wide"}) {
    SCOPED_TRACE(name);
    const ordered_json c = ordered_json::parse(ReadWholeFile(kCases + name + ".case.json"));
    std::vector<std::string> args{"machine", "--json"};
    if (!c["profile"].is_null()) args.insert(args.end(), {"--profile", kCases + c["profile"].get<std::string>()});
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, c["status"].get<int>());
    EXPECT_EQ(run.err, "");
    const ordered_json out = ordered_json::parse(run.out, nullptr, false);
    if (out.is_discarded()) { ADD_FAILURE() << run.out; continue; }
    const ordered_json& expect = c["expect"];
    EXPECT_EQ(Keys(out), Keys(expect));
    for (auto it = expect.begin(); it != expect.end(); ++it)
      EXPECT_EQ(out.value(it.key(), ordered_json()), it.value()) << it.key();
  }
}

// Text output: one line per answer with its export, the value in one
// column, onboard devices named; message boxes on standard error.
TEST(MachineToolText, AlignsEveryAnswerAndShowsMessagesOnStandardError) {
  const ToolRun run = RunTool({"machine", "--profile", kCases + "open-error.json"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "message: Unable to find driver DA_VUZ.DLL under D:\\Tools\\Flash\n");
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(run.out.substr(at, end - at));
  ASSERT_EQ(lines.size(), 19u);  // Orrivane_Initialize and the 18 answers
  EXPECT_EQ(lines.front().rfind("Orrivane_Initialize ", 0), 0u);
  const size_t column = lines.front().find_first_not_of(' ', std::string("Orrivane_Initialize").size());
  for (const std::string& line : lines) EXPECT_EQ(line.find_first_not_of(' ', line.find("  ")), column) << line;
  EXPECT_EQ(lines.back(), std::string("Orrivane_GetDMIBIOSSize") + std::string(column - 23, ' ') + "65536");
  const ToolRun demo = RunTool({"machine"});
  EXPECT_EQ(demo.status, 0);
  EXPECT_NE(demo.out.find("\"RV5420 Mainboard BIOS Release 1.20\"\n"), std::string::npos) << demo.out;
  EXPECT_NE(demo.out.find("0x09 (network, chipset HD audio)\n"), std::string::npos) << demo.out;
}

// The release number the DLL's version resource carries, on the tool too;
// and what machine and --dll refuse with exit status 2.
TEST(MachineToolOptions, VersionAndRefusals) {
  const ToolRun version = RunTool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "orrivane 1.3.0.1\n");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"machine", "--jsn"}, "--jsn"},
      {{"machine", "--profile"}, "--profile"},
      {{"machine", "--profile", kCases + "absent.json"},
       "orrivane machine: " + kCases + "absent.json: cannot read the profile"},
      {{"machine", "--profile", kCases + "demo.case.json"}, "demo.case.json: expect: unknown key"},
      {{"--dll", kCases + "demo.case.json", "machine"},
       "orrivane: cannot load the DLL: " + kCases + "demo.case.json: not a Windows executable"},
      {{"--dll", kCases, "machine"}, "cannot read " + kCases}};
  for (const auto& [args, reason] : cases) ExpectRefused(args, reason);
}

}  // namespace
