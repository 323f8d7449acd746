#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace {

using testing::HasSubstr;
using testing::IsEmpty;

// An administrator (deny-only counts), one device matching "PNP0C14" in its
// first id, one that cannot be read, and one whose id holds the byte 0xE4.
constexpr char kProfile[] = R"({
  "platform": "nt",
  "token": { "groups": [ { "sid": "S-1-1-0", "attributes": ["enabled"] },
                         { "sid": "S-1-5-32-544", "attributes": ["deny-only"] } ] },
  "systemDevices": [ { "hardwareIds": ["ACPI\\PNP0C14", "*TOS6205"] },
                     { "hardwareIds": ["ACPI\\TOS6205"], "readFails": true },
                     { "hardwareIds": ["acpi\\\u00e4b"] } ]
})";

std::string Profile() { return WriteTempFile("env_profile.json", kProfile); }

TEST(EnvTool, UsageErrorsExitWith2) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"env", "--acpi"}, {"env", "--acpi", "A", "B"}, {"env", "--unknown"}, {"env", "--json", "extra"}}) {
    ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_THAT(run.out, IsEmpty()) << args.back();
  }
}

TEST(EnvTool, ProfileErrorsExitWith2AndNameTheFile) {
  const std::string bad = WriteTempFile("env_bad.json", R"({ "token": { "groups": [ { "sid": "S-1-x" } ] } })");
  ToolRun run = RunTool({"env", "--profile", bad, "--acpi", "PNP"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("env_bad.json"));
  EXPECT_THAT(run.out, IsEmpty());

  run = RunTool({"env", "--profile", testing::TempDir() + "no_such_profile.json"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("no_such_profile.json"));
}

TEST(EnvTool, PrintsEachAnswerWithTheDebuggerLinesItWrote) {
  ToolRun run = RunTool({"env", "--profile", Profile(), "--acpi", "PNP0C14", "--acpi", "tos6205", "--acpi",
                         "TOS6205", "--acpi", ""});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "Orrivane_IsAdministrator: 1\n"
            "InstallShield_CheckACPI \"PNP0C14\": 1\n"
            "  debug: [Tolvar] Amplifier Found !!\n"
            "InstallShield_CheckACPI \"tos6205\": 0\n"
            "InstallShield_CheckACPI \"TOS6205\": 0\n"
            "InstallShield_CheckACPI \"\": 1\n"
            "  debug: [Tolvar] Amplifier Found !!\n");
}

TEST(EnvTool, JsonGivesOneObjectWithEveryAnswer) {
  ToolRun run = RunTool({"env", "--profile", Profile(), "--acpi", "PNP0C14", "--acpi", "pnp0c14", "--acpi",
                         "\xE4" "B", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json out = nlohmann::json::parse(run.out);
  EXPECT_EQ(out, nlohmann::json::parse(R"({
    "isAdministrator": 1,
    "acpi": { "PNP0C14": 1, "pnp0c14": 0, "\u00e4B": 1 },
    "debugLines": [ "[Tolvar] Amplifier Found !!", "[Tolvar] Amplifier Found !!" ]
  })"));
}

// Without a profile the tool answers for the built-in demo machine.
TEST(EnvTool, DefaultMachineIsTheDemoMachine) {
  const std::vector<std::string> texts{"--acpi", "PNP0C14", "--acpi", "", "--acpi", "NONE", "--json"};
  std::vector<std::string> withProfile{"env", "--profile", ORRIVANE_SOURCE_DIR "/profiles/demo-machine.json"};
  withProfile.insert(withProfile.end(), texts.begin(), texts.end());
  std::vector<std::string> withDefault{"env"};
  withDefault.insert(withDefault.end(), texts.begin(), texts.end());
  ToolRun expected = RunTool(withProfile);
  ToolRun run = RunTool(withDefault);
  ASSERT_EQ(expected.status, 0) << expected.err;
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, expected.out);
}

}  // namespace
