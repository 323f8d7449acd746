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

std::vector<std::string> Keys(const ordered_json& object) {
  std::vector<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
  return keys;
}

std::vector<std::string> ProfileArgs(const ordered_json& profile, std::vector<std::string> args) {
  if (!profile.is_null()) args.insert(args.end(), {"--profile", kCases + profile.get<std::string>()});
  return args;
}

class MachineTool : public testing::TestWithParam<const char*> {};

TEST_P(MachineTool, JsonAnswersMatchFieldByField) {
  const ordered_json c = ordered_json::parse(ReadWholeFile(kCases + GetParam() + ".case.json"));
  const ToolRun run = RunTool(ProfileArgs(c["profile"], {"machine", "--json"}));
  EXPECT_EQ(run.status, c["status"].get<int>());
  EXPECT_EQ(run.err, "");
  const ordered_json out = ordered_json::parse(run.out, nullptr, false);
  ASSERT_FALSE(out.is_discarded()) << run.out;
  const ordered_json& expect = c["expect"];
  EXPECT_EQ(Keys(out), Keys(expect));
  for (auto it = expect.begin(); it != expect.end(); ++it)
    EXPECT_EQ(out.value(it.key(), ordered_json()), it.value()) << it.key();
}

INSTANTIATE_TEST_SUITE_P(Cases, MachineTool,
                         testing::Values("demo", "extended-9x", "extended-nt", "firmware-tag", "open-error", "bytes-9x",
                                         "plugins-wide"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

// Text output: one line per answer with its export, the value in one
// column; message boxes on standard error.
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
  for (const std::string& line : lines) {
    EXPECT_TRUE(line.rfind("Orrivane_", 0) == 0 || line.rfind("InstallShield_", 0) == 0) << line;
    EXPECT_EQ(line.find_first_not_of(' ', line.find("  ")), column) << line;
  }
  EXPECT_EQ(lines.back(), std::string("Orrivane_GetDMIBIOSSize") + std::string(column - 23, ' ') + "65536");
}

// The release number the DLL's version resource carries, on the tool too.
TEST(MachineToolText, VersionIsTheRelease) {
  ToolRun run = RunTool({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "orrivane 1.3.0.1\n");
}

TEST(MachineToolText, DemoMachineNamesItsOnboardDevices) {
  const ToolRun run = RunTool({"machine"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("\"RV5420 Mainboard BIOS Release 1.20\"\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0x09 (network, chipset HD audio)\n"), std::string::npos) << run.out;
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  std::string errorPart;
};

class MachineToolRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(MachineToolRefusal, ExitsWith2AndSaysWhy) {
  const RefusalCase& c = GetParam();
  const ToolRun run = RunTool(c.args);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(c.errorPart), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MachineToolRefusal,
    testing::Values(RefusalCase{"UnknownOption", {"machine", "--jsn"}, "--jsn"},
                    RefusalCase{"ProfileWithoutValue", {"machine", "--profile"}, "--profile"},
                    RefusalCase{"MissingProfile", {"machine", "--profile", kCases + "absent.json"},
                                "orrivane machine: " + kCases + "absent.json: cannot read the profile"},
                    RefusalCase{"ProfileRefused", {"machine", "--profile", kCases + "demo.case.json"},
                                "demo.case.json: expect: unknown key"},
                    RefusalCase{"DllNotLoadable", {"--dll", kCases + "demo.case.json", "machine"},
                                "orrivane: cannot load the DLL: " + kCases + "demo.case.json: not a Windows executable"},
                    RefusalCase{"DllIsADirectory", {"--dll", kCases, "machine"}, "cannot read " + kCases}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

}  // namespace
