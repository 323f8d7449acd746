#include "profile.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "machine_builder.h"

namespace tb {
namespace {

const std::string kProfiles = ORRIVANE_TEST_DATA "/profiles";

using Bytes = std::vector<uint8_t>;

template <class T, class F>
auto Each(const std::vector<T>& items, F f) {
  std::vector<decltype(f(items[0]))> out;
  for (const T& item : items) out.push_back(f(item));
  return out;
}

auto Groups(const Machine& m) {
  return Each(m.tokenGroups, [](const TokenGroup& g) { return std::make_pair(g.sid, g.attributes); });
}

// Every field of a machine, and its memory where the profiles here write.
auto Fields(const Machine& m) {
  return std::make_tuple(
      m.platform, m.reportedPlatform, m.versionCallFails, m.currentDirectory, m.globalSizeGranularity, m.openError,
      m.freeFails, m.flashSize, m.refuseExpand, m.imageServiceError, m.statusFailsSilently, m.scribbleImageBlock,
      m.biosType, m.pluginBlockA, m.pluginBlockB, m.failMapAt, m.tokenOpenFails, m.tokenReadFails, m.sidBuildFails,
      Groups(m), m.systemDevicesUnavailable, m.memory.Read(0xF0000, 16), m.memory.Read(0xFE0C0, 6),
      m.memory.Read(0x100000, 16), m.memory.Read(0xFFFFFFF0, 16),
      Each(m.pci, [](const PciFunction& f) {
        return std::array<uint32_t, 6>{f.bus, f.device, f.function, f.vendorId, f.deviceId, f.classCode};
      }),
      Each(m.systemDevices, [](const SystemDevice& d) { return std::make_pair(d.hardwareIds, d.readFails); }));
}

// A machine that differs from the default in every field, to show that a
// refused profile leaves the caller's machine as it was and that a loaded one
// replaces all of it.
Machine Sentinel() {
  return MachineBuilder()
      .Win9x().ReportedPlatform(Platform::Nt).VersionCallFails().CurrentDirectory("Z:\\kept").GlobalSizeGranularity(64)
      .OpenError(103).FreeFails().FlashSize(7).RefuseExpand().ImageServiceError(9).StatusFailsSilently()
      .ScribbleImageBlock().BiosType(9).PluginBlockA({0xEE}).PluginBlockB({0xDD, 0xCC}).FailMapAt(0x1234)
      .Text(0xF0000, "SENTINEL").Bytes(0x100000, {1, 2, 3}).Bytes(0xFFFFFFF0, Bytes(16, 9)).Pci(1, 2, 3, 4, 5, 6)
      .TokenOpenFails().TokenReadFails().SidBuildFails().TokenGroup("S-1-2-3", SE_GROUP_ENABLED)
      .SystemDevice({"KEEP"}, true).SystemDevicesUnavailable()
      .Build();
}

// One row per refusal rule of the loader (a rule met by several fields has
// one row, on a field nested deep enough to show the key path): the message
// names the file, the key and the reason, and the machine is left alone.
TEST(Profile, RefusalNamesFileKeyAndReasonAndLeavesTheMachineAlone) {
  const struct {
    const char* name;
    std::string json;
    std::string key;     // the path the message names; empty for the profile as a whole
    std::string reason;  // a fragment of the message after the key
  } cases[] = {
      {"NotJson", R"({"platform": "nt",)", "", "not valid JSON"},
      {"LaterVersion", R"({"version": 2, "newKey": true})", "version", "format version 2 is not known"},
      {"UnknownDeepKey", R"({"token": {"groups": [{"sid": "S-1-1-0", "attribute": ["enabled"]}]}})",
          "token.groups[0].attribute", "unknown key"},
      {"DuplicateKeyInALaterElement", R"({"pci": [{"bus": 0}, {"bus": 1, "device": 2, "bus": 3}]})",
          "pci[1].bus", "appears twice"},
      {"MissingAddress", R"({"memory": [{"hex": "00"}]})", "memory[0].address", "is missing"},
      {"ArrayAsObject", R"({"memory": {"address": 0}})", "memory", "must be an array"},
      {"NullWhereNoDefault", R"({"service": {"openError": null}})", "service.openError", "must be a number"},
      {"PciDevice32", R"({"pci": [{"bus": 0, "device": 32, "function": 0, "vendorId": 1, "deviceId": 1,
          "classCode": 0}]})", "pci[0].device", "32 is out of range (0 to 31)"},
      {"DecimalInQuotes", R"({"driver": {"failMapAt": ["983040"]}})", "driver.failMapAt[0]",
          "decimal number in quotes"},
      {"PlatformUnknown", R"({"platform": "NT"})", "platform", "not a platform"},
      {"GranularityNotAPowerOfTwo", R"({"globalSizeGranularity": 24})", "globalSizeGranularity", "not a power of two"},
      {"TextAboveU00FF", R"({"memory": [{"address": 0, "text": "AB\u0100"}]})", "memory[0].text",
          "character 2 (U+0100) is above U+00FF"},
      {"CurrentDirectoryWithNul", R"({"currentDirectory": "C:\\a\u0000b"})", "currentDirectory", "NUL"},
      {"HexByteSplitInALaterRegion",
          R"({"memory": [{"address": 0, "hex": "00"}, {"address": 1, "hex": "11"}, {"address": 2, "hex": "0 1"}]})",
          "memory[2].hex", "bad hex"},
      {"TextNulPast4GiB", R"({"memory": [{"address": "0xFFFFFFFC", "text": "ABCD"}]})",
          "memory[0].address", "run past the 4 GiB"},
      {"FileIsADirectory", R"({"memory": [{"address": 0, "file": "images"}]})", "memory[0].file", "not a regular file"},
      {"TwoContents", R"({"memory": [{"address": 0, "hex": "00", "text": "A"}]})", "memory[0]",
          "exactly one of text, hex or file"},
      {"PluginBlock22Bytes",
          R"({"driver": {"pluginBlockA": "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15"}})",
          "driver.pluginBlockA", "22 bytes given; a plug-in block holds at most 21"},
      {"PciSameFunctionTwice",
          R"({"pci": [{"bus": 0, "device": 25, "function": 0, "vendorId": 1, "deviceId": 1, "classCode": 0},
                      {"bus": 0, "device": 25, "function": 0, "vendorId": 2, "deviceId": 2, "classCode": 0}]})",
          "pci[1]", "already described by pci[0]"},
      {"SidTrailingDash", R"({"token": {"groups": [{"sid": "S-1-5-"}]}})", "token.groups[0].sid",
          "not a security identifier"},
      {"HardwareIdEmpty", R"({"systemDevices": [{"hardwareIds": ["ACPI\\PNP0C14", ""]}]})",
          "systemDevices[0].hardwareIds[1]", "empty hardware identifier"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Machine machine = Sentinel();
    std::string error;
    ASSERT_FALSE(LoadProfileText(c.json, kProfiles, "bad.json", machine, error));
    const std::string prefix = "bad.json: " + (c.key.empty() ? "" : c.key + ": ");
    EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
    EXPECT_NE(error.find(c.reason, prefix.size()), std::string::npos) << error;
    EXPECT_EQ(Fields(machine), Fields(Sentinel()));
  }
}

// The whole message, naming the profile file and, for a region, the file it names.
TEST(Profile, RefusesFilesThatCannotBeRead) {
  const struct { std::string path, error; } cases[] = {
      {kProfiles + "/absent.json", kProfiles + "/absent.json: cannot read the profile: No such file or directory"},
      {kProfiles + "/images", kProfiles + "/images: is a directory, not a profile"},
      {kProfiles + "/missing-file.json", kProfiles + "/missing-file.json: memory[1].file: cannot read \"" + kProfiles +
                                             "/images/absent.bin\": no such file"}};
  for (const auto& c : cases) {
    Machine machine = Sentinel();
    std::string error;
    EXPECT_FALSE(LoadProfile(c.path, machine, error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(Fields(machine), Fields(Sentinel())) << c.path;
  }
}

// Every key of the format, against the same machine built by hand; the
// earlier machine's bytes are gone, not merged with the profile's, and an
// empty profile replaces the whole machine with the defaults.
TEST(Profile, FullProfileSetsEveryFieldAndAnEmptyOneTheDefaults) {
  Machine m = Sentinel();
  std::string error;
  ASSERT_TRUE(LoadProfile(kProfiles + "/full.json", m, error)) << error;
  Bytes ramp(21);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
  const Machine want =
      MachineBuilder()
          .Nt().ReportedPlatform(Platform::Win9x).VersionCallFails().CurrentDirectory("D:\\tools")
          .GlobalSizeGranularity(4096).OpenError(107).FreeFails().FlashSize(524288).RefuseExpand()
          .ImageServiceError(0x12D).StatusFailsSilently().ScribbleImageBlock().BiosType(4).PluginBlockA(ramp)
          .PluginBlockB({0xA5}).FailMapAt(0xF0000).FailMapAt(0x100000).Text(0xFE0C1, "M\xC4X")
          .Bytes(0xF0000, {0x5F, 0x53, 0x4D, 0x5F}).Bytes(0xFFFFFFF8, {0x55, 0xAA, 0x00, 0xFF, 0x10, 0x20, 0x30, 0x40})
          .Pci(0, 25, 0, 0x8086, 0x10BD, 0x020000).Pci(255, 31, 7, 0x1002, 0xFFFF, 0x040301)
          .TokenOpenFails().TokenReadFails().SidBuildFails()
          .TokenGroup("S-1-5-32-544", SE_GROUP_ENABLED | SE_GROUP_MANDATORY)
          .TokenGroup("S-1-5-21-1004336348-1177238915-682003330-512", SE_GROUP_USE_FOR_DENY_ONLY)
          .TokenGroup("S-1-1-0", 0).SystemDevice({"ACPI\\PNP0C14", "*PNP0C14"}).SystemDevice({"ACPI\\TOS6205"}, true).SystemDevice({})
          .SystemDevicesUnavailable()
          .Build();
  EXPECT_EQ(Fields(m), Fields(want));
  ASSERT_TRUE(LoadProfile(kProfiles + "/minimal.json", m, error)) << error;
  EXPECT_EQ(Fields(m), Fields(Machine())) << "an empty profile gives the defaults";
}

// Null is absent where a value is optional (0 is a value); numbers are
// integers or hex strings with either prefix; comments are allowed, and the
// same key in sibling objects is no duplicate. Hex bytes run together or
// spaced; text characters up to U+00FF, escaped or literal (UTF-8 in the
// file), are one byte each, then a NUL; a text may end at 4 GiB exactly; a
// later region overwrites an earlier one, NUL included.
TEST(Profile, AcceptedNumbersNullsCommentsAndMemoryRegionsInOrder) {
  Machine m;
  std::string error;
  ASSERT_TRUE(LoadProfileText("/* demo */ {\"currentDirectory\": \"C:\\\\\\u00C4\xC3\x84\"," R"(
      "service": {"flashSize": null, "imageError": 0}, "driver": {"biosType": null,
        "failMapAt": [983041, "0xf0002", "0XF0003", "0x000F0004", 4294967295, "0xFFFFFFFE"]},  // forms
      "token": {"groups": [{"sid": "S-1-5", "attributes": []}, {"sid": "S-1-0-0"}]},
      "memory": [{"address": 0, "text": "\u0080\u00FF\u007F"},
      {"address": 16, "hex": "5F534d5f"}, {"address": 20, "hex": " 5F\t53\n4D  5F "}, {"address": 24, "hex": ""},
      {"address": "0xFFFFFFFC", "text": "ABC"}, {"address": "0xF0000", "hex": "11 22 33 44 55"},
      {"address": "0xF0001", "text": "AB"}, {"address": "0xF0004", "hex": "66"}]})",
                              "", "p", m, error)) << error;
  EXPECT_EQ(std::make_tuple(m.flashSize, m.imageServiceError, m.biosType),
            std::make_tuple(std::optional<uint32_t>(), std::optional<uint32_t>(0), std::optional<uint32_t>()));
  EXPECT_EQ(m.currentDirectory, "C:\\\xC4\xC4");
  EXPECT_EQ(m.failMapAt, (std::set<uint32_t>{0xF0001, 0xF0002, 0xF0003, 0xF0004, 0xFFFFFFFF, 0xFFFFFFFE}));
  EXPECT_EQ(Groups(m), (std::vector<std::pair<std::string, uint32_t>>{{"S-1-5", 0}, {"S-1-0-0", 0}}));
  EXPECT_EQ(m.memory.Read(0, 4), (Bytes{0x80, 0xFF, 0x7F, 0x00}));
  EXPECT_EQ(m.memory.Read(16, 8), BytesOf("_SM__SM_"));
  EXPECT_EQ(m.memory.Read(0xFFFFFFFC, 4), (Bytes{'A', 'B', 'C', 0}));
  EXPECT_EQ(m.memory.Read(0xF0000, 5), (Bytes{0x11, 'A', 'B', 0x00, 0x66}));
}

// A file region is found beside the profile (or the directory given with
// the text), not in the working directory; an absolute path is taken as is.
TEST(Profile, FileRegionPathsResolveAgainstTheProfilesDirectory) {
  Bytes ramp(257);  // the file's 256 bytes, then memory never written
  for (size_t i = 0; i < 256; ++i) ramp[i] = static_cast<uint8_t>(i);
  Machine machine;
  std::string error;
  ASSERT_TRUE(LoadProfile(kProfiles + "/nested/relative.json", machine, error)) << error;
  EXPECT_EQ(machine.memory.Read(0x100000, 257), ramp);
  const std::string text = R"({"memory": [{"address": "0x100000", "file": "../images/ramp.bin"}]})";
  Machine fromText;
  ASSERT_TRUE(LoadProfileText(text, kProfiles + "/nested", "demo", fromText, error)) << error;
  EXPECT_EQ(fromText.memory.Read(0x100000, 257), ramp);
  EXPECT_FALSE(LoadProfileText(text, kProfiles, "demo", fromText, error));
  EXPECT_NE(error.find("demo: memory[0].file: cannot read"), std::string::npos) << error;
  const std::string absolute = R"({"memory": [{"address": "0xFFFFFFF8", "file": ")" + kProfiles + R"(/images/flash.bin"}]})";
  ASSERT_TRUE(LoadProfileText(absolute, "/nonexistent", "p", machine, error)) << error;
  EXPECT_EQ(machine.memory.Read(0xFFFFFFF8, 2), (Bytes{0x55, 0xAA}));
}

}  // namespace
}  // namespace tb
