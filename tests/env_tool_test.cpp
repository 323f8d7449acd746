// orrivane env, run as a program.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace {

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

TEST(EnvTool, RefusesBadArgumentsAndProfiles) {
  const std::string bad = WriteTempFile("env_bad.json", R"({ "token": { "groups": [ { "sid": "S-1-x" } ] } })");
  const std::string absent = testing::TempDir() + "no_such_profile.json";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"env", "--acpi"}, "--acpi"},          {{"env", "--acpi", "A", "B"}, "B"},
      {{"env", "--unknown"}, "--unknown"},    {{"env", "--json", "extra"}, "extra"},
      {{"env", "--profile", bad, "--acpi", "PNP"}, "env_bad.json: token.groups[0].sid"},
      {{"env", "--profile", absent}, "no_such_profile.json: cannot read the profile"}};
  for (const auto& [args, reason] : cases) ExpectRefused(args, reason);
}

TEST(EnvTool, JsonAndTextGiveEveryAnswer) {
  const std::string profile = WriteTempFile("env_profile.json", kProfile);
  ToolRun run = RunTool({"env", "--profile", profile, "--acpi", "PNP0C14", "--acpi", "pnp0c14", "--acpi",
                         "\xE4" "B", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(nlohmann::json::parse(run.out), nlohmann::json::parse(R"({
    "isAdministrator": 1,
    "acpi": { "PNP0C14": 1, "pnp0c14": 0, "\u00e4B": 1 },
    "debugLines": [ "[Tolvar] Amplifier Found !!", "[Tolvar] Amplifier Found !!" ]
  })"));
  // Text: each answer with the debugger lines that call wrote.
  run = RunTool({"env", "--profile", profile, "--acpi", "tos6205", "--acpi", ""});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "Orrivane_IsAdministrator: 1\n"
            "InstallShield_CheckACPI \"tos6205\": 0\n"
            "InstallShield_CheckACPI \"\": 1\n"
            "  debug: [Tolvar] Amplifier Found !!\n");
  // Without a profile: the demo machine, an administrator with the device (an empty machine has neither).
  run = RunTool({"env", "--json", "--acpi", "PNP0C14"});
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json demo = nlohmann::json::parse(run.out);
  EXPECT_EQ(demo["isAdministrator"], 1);
  EXPECT_EQ(demo["acpi"]["PNP0C14"], 1);
}

}  // namespace
