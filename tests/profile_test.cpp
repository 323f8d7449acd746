#include "profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_builder.h"

namespace tb {
namespace {

const std::string kProfiles = ORRIVANE_TEST_DATA "/profiles";

using Bytes = std::vector<uint8_t>;

// A machine unlike any a profile produces, to show that a refused profile
// leaves the caller's machine exactly as it was.
Machine Sentinel() {
  return MachineBuilder()
      .Win9x()
      .ReportedPlatform(Platform::Nt)
      .VersionCallFails()
      .CurrentDirectory("Z:\\kept")
      .GlobalSizeGranularity(64)
      .OpenError(103)
      .FreeFails()
      .FlashSize(7)
      .ImageServiceError(9)
      .StatusFailsSilently()
      .ScribbleImageBlock()
      .BiosType(9)
      .PluginBlockA({0xEE})
      .PluginBlockB({0xDD, 0xCC})
      .FailMapAt(0x1234)
      .Text(0xF0000, "SENTINEL")
      .Bytes(0x100000, {1, 2, 3})
      .Bytes(0xFFFFFFF0, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9})
      .Pci(1, 2, 3, 4, 5, 6)
      .TokenGroup("S-1-2-3", SE_GROUP_ENABLED)
      .TokenReadFails()
      .SystemDevice({"KEEP"}, true)
      .SystemDevicesUnavailable()
      .Build();
}

void ExpectSameMachine(const Machine& got, const Machine& want) {
  EXPECT_EQ(got.platform, want.platform);
  EXPECT_EQ(got.reportedPlatform, want.reportedPlatform);
  EXPECT_EQ(got.versionCallFails, want.versionCallFails);
  EXPECT_EQ(got.currentDirectory, want.currentDirectory);
  EXPECT_EQ(got.globalSizeGranularity, want.globalSizeGranularity);
  EXPECT_EQ(got.openError, want.openError);
  EXPECT_EQ(got.freeFails, want.freeFails);
  EXPECT_EQ(got.flashSize, want.flashSize);
  EXPECT_EQ(got.refuseExpand, want.refuseExpand);
  EXPECT_EQ(got.imageServiceError, want.imageServiceError);
  EXPECT_EQ(got.statusFailsSilently, want.statusFailsSilently);
  EXPECT_EQ(got.scribbleImageBlock, want.scribbleImageBlock);
  EXPECT_EQ(got.biosType, want.biosType);
  EXPECT_EQ(got.pluginBlockA, want.pluginBlockA);
  EXPECT_EQ(got.pluginBlockB, want.pluginBlockB);
  EXPECT_EQ(got.failMapAt, want.failMapAt);
  ASSERT_EQ(got.pci.size(), want.pci.size());
  for (size_t i = 0; i < got.pci.size(); ++i) {
    EXPECT_EQ(got.pci[i].bus, want.pci[i].bus);
    EXPECT_EQ(got.pci[i].device, want.pci[i].device);
    EXPECT_EQ(got.pci[i].function, want.pci[i].function);
    EXPECT_EQ(got.pci[i].vendorId, want.pci[i].vendorId);
    EXPECT_EQ(got.pci[i].deviceId, want.pci[i].deviceId);
    EXPECT_EQ(got.pci[i].classCode, want.pci[i].classCode);
  }
  EXPECT_EQ(got.tokenOpenFails, want.tokenOpenFails);
  EXPECT_EQ(got.tokenReadFails, want.tokenReadFails);
  EXPECT_EQ(got.sidBuildFails, want.sidBuildFails);
  ASSERT_EQ(got.tokenGroups.size(), want.tokenGroups.size());
  for (size_t i = 0; i < got.tokenGroups.size(); ++i) {
    EXPECT_EQ(got.tokenGroups[i].sid, want.tokenGroups[i].sid);
    EXPECT_EQ(got.tokenGroups[i].attributes, want.tokenGroups[i].attributes);
  }
  ASSERT_EQ(got.systemDevices.size(), want.systemDevices.size());
  for (size_t i = 0; i < got.systemDevices.size(); ++i) {
    EXPECT_EQ(got.systemDevices[i].hardwareIds, want.systemDevices[i].hardwareIds);
    EXPECT_EQ(got.systemDevices[i].readFails, want.systemDevices[i].readFails);
  }
  // Where the profiles below write.
  for (uint32_t at : {0xF0000u, 0x100000u, 0xFFFFFFF0u})
    EXPECT_EQ(got.memory.Read(at, 16), want.memory.Read(at, 16)) << "memory at " << std::hex << at;
}

struct Refused {
  const char* name;
  std::string json;
  std::string key;     // the path the message names; empty for the profile as a whole
  std::string reason;  // a fragment of the message after the key
};

void PrintTo(const Refused& c, std::ostream* os) { *os << c.name; }

class ProfileRefusal : public testing::TestWithParam<Refused> {};

TEST_P(ProfileRefusal, NamesFileKeyAndReasonAndLeavesTheMachineAlone) {
  const Refused& c = GetParam();
  Machine machine = Sentinel();
  std::string error;
  ASSERT_FALSE(LoadProfileText(c.json, kProfiles, "bad.json", machine, error));
  std::string prefix = "bad.json: " + (c.key.empty() ? "" : c.key + ": ");
  EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
  EXPECT_NE(error.find(c.reason, prefix.size()), std::string::npos) << error;
  ExpectSameMachine(machine, Sentinel());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileRefusal,
    testing::Values(
        // The document as a whole.
        Refused{"NotJson", R"({"platform": "nt",)", "", "not valid JSON"},
        Refused{"NotUtf8", "{\"currentDirectory\": \"\xC4\"}", "", "not valid JSON"},
        Refused{"TrailingComma", R"({"platform": "nt",})", "", "not valid JSON"},
        Refused{"NotAnObject", "[]", "", "must be a JSON object"},
        Refused{"LaterVersion", R"({"version": 2, "newKey": true})", "version", "format version 2 is not known"},
        // Keys.
        Refused{"UnknownKey", R"({"platfrom": "nt"})", "platfrom", "unknown key"},
        Refused{"UnknownNestedKey", R"({"memory": [{"address": 0, "hex": "00"}, {"address": 0, "size": 1}]})",
                "memory[1].size", "unknown key"},
        Refused{"UnknownDeepKey", R"({"token": {"groups": [{"sid": "S-1-1-0", "attribute": ["enabled"]}]}})",
                "token.groups[0].attribute", "unknown key"},
        Refused{"DuplicateKey", R"({"service": {"freeFails": true, "freeFails": false}})", "service.freeFails",
                "appears twice"},
        Refused{"DuplicateKeyInALaterElement",
                R"({"pci": [{"bus": 0}, {"bus": 1, "device": 2, "bus": 3}]})", "pci[1].bus", "appears twice"},
        Refused{"MissingAddress", R"({"memory": [{"hex": "00"}]})", "memory[0].address", "is missing"},
        Refused{"MissingPciField", R"({"pci": [{"bus": 0, "device": 1, "function": 0, "vendorId": 1,
                "deviceId": 2}]})", "pci[0].classCode", "is missing"},
        Refused{"MissingSid", R"({"token": {"groups": [{"attributes": []}]}})", "token.groups[0].sid", "is missing"},
        Refused{"MissingHardwareIds", R"({"systemDevices": [{"readFails": true}]})", "systemDevices[0].hardwareIds",
                "is missing"},
        // Types.
        Refused{"BoolAsString", R"({"service": {"freeFails": "yes"}})", "service.freeFails", "must be true or false"},
        Refused{"ObjectAsArray", R"({"driver": []})", "driver", "must be an object"},
        Refused{"ArrayAsObject", R"({"memory": {"address": 0}})", "memory", "must be an array"},
        Refused{"NullWhereNoDefault", R"({"service": {"openError": null}})", "service.openError", "must be a number"},
        Refused{"PlatformUnknown", R"({"platform": "NT"})", "platform", "not a platform"},
        Refused{"ReportedPlatformUnknown", R"({"reportedPlatform": "me"})", "reportedPlatform", "not a platform"},
        Refused{"FailMapAtElement", R"({"driver": {"failMapAt": ["0xF0000", true]}})", "driver.failMapAt[1]",
                "must be a number"},
        // Numbers.
        Refused{"Negative", R"({"service": {"openError": -1}})", "service.openError", "out of range"},
        Refused{"Fraction", R"({"service": {"flashSize": 1.5}})", "service.flashSize", "whole number"},
        Refused{"Above32Bits", R"({"driver": {"biosType": 4294967296}})", "driver.biosType", "out of range"},
        Refused{"HexAbove32Bits", R"({"service": {"imageError": "0x100000000"}})", "service.imageError",
                "out of range"},
        Refused{"DecimalInQuotes", R"({"driver": {"failMapAt": ["983040"]}})", "driver.failMapAt[0]",
                "decimal number in quotes"},
        Refused{"BadHexDigit", R"({"driver": {"biosType": "0x1G"}})", "driver.biosType", "not a hex number"},
        Refused{"PrefixOnly", R"({"driver": {"biosType": "0x"}})", "driver.biosType", "not a number"},
        Refused{"SignedHex", R"({"driver": {"biosType": "-0x1"}})", "driver.biosType", "not a number"},
        Refused{"GranularityNotAPowerOfTwo", R"({"globalSizeGranularity": 24})", "globalSizeGranularity",
                "not a power of two"},
        Refused{"GranularityZero", R"({"globalSizeGranularity": 0})", "globalSizeGranularity", "not a power of two"},
        Refused{"GranularityAbove64KiB", R"({"globalSizeGranularity": 131072})", "globalSizeGranularity",
                "out of range"},
        // Memory regions.
        Refused{"AddressBeyond4GiB", R"({"memory": [{"address": "0x100000000", "hex": ""}]})", "memory[0].address",
                "out of range"},
        Refused{"HexPast4GiB", R"({"memory": [{"address": "0xFFFFFFFE", "hex": "00 00 00"}]})", "memory[0].address",
                "run past the 4 GiB"},
        Refused{"TextNulPast4GiB", R"({"memory": [{"address": "0xFFFFFFFC", "text": "ABCD"}]})",
                "memory[0].address", "run past the 4 GiB"},
        Refused{"FilePast4GiB", R"({"memory": [{"address": "0xFFFFFFF9", "file": "images/flash.bin"}]})",
                "memory[0].address", "run past the 4 GiB"},
        Refused{"FileMissing", R"({"memory": [{"address": 0, "file": "images/absent.bin"}]})", "memory[0].file",
                "no such file"},
        Refused{"FileIsADirectory", R"({"memory": [{"address": 0, "file": "images"}]})", "memory[0].file",
                "not a regular file"},
        Refused{"FileNameEmpty", R"({"memory": [{"address": 0, "file": ""}]})", "memory[0].file", "must name a file"},
        Refused{"TwoContents", R"({"memory": [{"address": 0, "hex": "00", "text": "A"}]})", "memory[0]",
                "exactly one of text, hex or file"},
        Refused{"NoContent", R"({"memory": [{"address": 0}]})", "memory[0]", "exactly one of text, hex or file"},
        Refused{"TextAboveU00FF", R"({"memory": [{"address": 0, "text": "AB\u0100"}]})", "memory[0].text",
                "character 2 (U+0100) is above U+00FF"},
        Refused{"TextOutsideTheBasicPlane", R"({"memory": [{"address": 0, "text": "\ud83d\ude00"}]})",
                "memory[0].text", "U+1F600"},
        Refused{"LaterRegionBad", R"({"memory": [{"address": "0xF0000", "hex": "00 11 22"},
                {"address": "0x100000", "hex": "33"}, {"address": 0, "hex": "4"}]})", "memory[2].hex", "bad hex"},
        // Hex bytes.
        Refused{"HexSplitByteSplit", R"({"driver": {"pluginBlockA": "0 1"}})", "driver.pluginBlockA", "bad hex"},
        Refused{"HexNotADigit", R"({"driver": {"pluginBlockB": "GG"}})", "driver.pluginBlockB", "bad hex"},
        Refused{"HexWithPrefix", R"({"driver": {"pluginBlockB": "0x01"}})", "driver.pluginBlockB", "bad hex"},
        Refused{"PluginBlock22Bytes",
                R"({"driver": {"pluginBlockA": "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15"}})",
                "driver.pluginBlockA", "22 bytes given; a plug-in block holds at most 21"},
        // PCI.
        Refused{"PciBus256", R"({"pci": [{"bus": 256, "device": 0, "function": 0, "vendorId": 1, "deviceId": 1,
                "classCode": 0}]})", "pci[0].bus", "256 is out of range (0 to 255)"},
        Refused{"PciDevice32", R"({"pci": [{"bus": 0, "device": 32, "function": 0, "vendorId": 1, "deviceId": 1,
                "classCode": 0}]})", "pci[0].device", "32 is out of range (0 to 31)"},
        Refused{"PciFunction8", R"({"pci": [{"bus": 0, "device": 0, "function": 8, "vendorId": 1, "deviceId": 1,
                "classCode": 0}]})", "pci[0].function", "out of range (0 to 7)"},
        Refused{"PciVendor17Bits", R"({"pci": [{"bus": 0, "device": 0, "function": 0, "vendorId": "0x10000",
                "deviceId": 1, "classCode": 0}]})", "pci[0].vendorId", "out of range"},
        Refused{"PciClass25Bits", R"({"pci": [{"bus": 0, "device": 0, "function": 0, "vendorId": 1, "deviceId": 1,
                "classCode": "0x1000000"}]})", "pci[0].classCode", "out of range"},
        Refused{"PciSameFunctionTwice",
                R"({"pci": [{"bus": 0, "device": 25, "function": 0, "vendorId": 1, "deviceId": 1, "classCode": 0},
                            {"bus": 0, "device": 25, "function": 0, "vendorId": 2, "deviceId": 2, "classCode": 0}]})",
                "pci[1]", "already described by pci[0]"},
        // Token and devices.
        Refused{"AttributeUnknown", R"({"token": {"groups": [{"sid": "S-1-1-0", "attributes": ["enabled", "owner"]}]}})",
                "token.groups[0].attributes[1]", "not a group attribute"},
        Refused{"SidTrailingDash", R"({"token": {"groups": [{"sid": "S-1-5-"}]}})", "token.groups[0].sid",
                "not a security identifier"},
        Refused{"SidRevision2", R"({"token": {"groups": [{"sid": "S-2-5-32-544"}]}})", "token.groups[0].sid",
                "not a security identifier"},
        Refused{"SidLetters", R"({"token": {"groups": [{"sid": "S-1-5-x"}]}})", "token.groups[0].sid",
                "not a security identifier"},
        Refused{"SidSubAuthorityAbove32Bits", R"({"token": {"groups": [{"sid": "S-1-5-4294967296"}]}})",
                "token.groups[0].sid", "not a security identifier"},
        Refused{"HardwareIdEmpty", R"({"systemDevices": [{"hardwareIds": ["ACPI\\PNP0C14", ""]}]})",
                "systemDevices[0].hardwareIds[1]", "empty hardware identifier"},
        Refused{"HardwareIdWithNul", R"({"systemDevices": [{"hardwareIds": ["ACPI\u0000X"]}]})",
                "systemDevices[0].hardwareIds[0]", "NUL"},
        Refused{"CurrentDirectoryWithNul", R"({"currentDirectory": "C:\\a\u0000b"})", "currentDirectory", "NUL"}),
    [](const testing::TestParamInfo<Refused>& info) { return info.param.name; });

TEST(Profile, RefusesAProfileFileThatCannotBeRead) {
  Machine machine = Sentinel();
  std::string error;
  const std::string absent = kProfiles + "/absent.json";
  EXPECT_FALSE(LoadProfile(absent, machine, error));
  EXPECT_EQ(error, absent + ": cannot read the profile: No such file or directory");
  EXPECT_FALSE(LoadProfile(kProfiles + "/images", machine, error));
  EXPECT_EQ(error, kProfiles + "/images: is a directory, not a profile");
  ExpectSameMachine(machine, Sentinel());
}

TEST(Profile, MessageNamesTheProfileFileAndTheRegionFile) {
  Machine machine = Sentinel();
  std::string error;
  EXPECT_FALSE(LoadProfile(kProfiles + "/missing-file.json", machine, error));
  EXPECT_EQ(error, kProfiles + "/missing-file.json: memory[1].file: cannot read \"" + kProfiles +
                       "/images/absent.bin\": no such file");
  ExpectSameMachine(machine, Sentinel());  // memory[0] had been read already
}

TEST(Profile, FullProfileSetsEveryField) {
  Machine m = Sentinel();
  std::string error;
  ASSERT_TRUE(LoadProfile(kProfiles + "/full.json", m, error)) << error;

  EXPECT_EQ(m.platform, Platform::Nt);
  EXPECT_EQ(m.reportedPlatform, Platform::Win9x);
  EXPECT_TRUE(m.versionCallFails);
  EXPECT_EQ(m.currentDirectory, "D:\\tools");
  EXPECT_EQ(m.globalSizeGranularity, 4096u);

  EXPECT_EQ(m.openError, 107u);
  EXPECT_TRUE(m.freeFails);
  EXPECT_EQ(m.flashSize, 524288u);
  EXPECT_TRUE(m.refuseExpand);
  EXPECT_EQ(m.imageServiceError, 0x12Du);
  EXPECT_TRUE(m.statusFailsSilently);
  EXPECT_TRUE(m.scribbleImageBlock);

  EXPECT_EQ(m.biosType, 4u);
  std::array<uint8_t, 21> ramp{};
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(m.pluginBlockA, ramp);
  std::array<uint8_t, 21> single{0xA5};
  EXPECT_EQ(m.pluginBlockB, single);
  EXPECT_EQ(m.failMapAt, (std::set<uint32_t>{0xF0000, 0x100000}));

  EXPECT_EQ(m.memory.Read(0xFE0C0, 6), (Bytes{0, 'M', 0xC4, 'X', 0, 0}));
  // The earlier machine's bytes are gone, not merged with the profile's.
  EXPECT_EQ(m.memory.Read(0xF0000, 5), (Bytes{0x5F, 0x53, 0x4D, 0x5F, 0}));
  EXPECT_EQ(m.memory.Read(0xFFFFFFF8, 8), (Bytes{0x55, 0xAA, 0x00, 0xFF, 0x10, 0x20, 0x30, 0x40}));
  EXPECT_EQ(m.memory.Read(0xFFFFFFF0, 8), Bytes(8, 0));
  EXPECT_EQ(m.memory.Read(0x100000, 3), Bytes(3, 0));

  ASSERT_EQ(m.pci.size(), 2u);
  EXPECT_EQ(m.pci[0].bus, 0);
  EXPECT_EQ(m.pci[0].device, 25);
  EXPECT_EQ(m.pci[0].function, 0);
  EXPECT_EQ(m.pci[0].vendorId, 0x8086);
  EXPECT_EQ(m.pci[0].deviceId, 0x10BD);
  EXPECT_EQ(m.pci[0].classCode, 0x020000u);
  EXPECT_EQ(m.pci[1].bus, 255);
  EXPECT_EQ(m.pci[1].device, 31);
  EXPECT_EQ(m.pci[1].function, 7);
  EXPECT_EQ(m.pci[1].vendorId, 0x1002);
  EXPECT_EQ(m.pci[1].deviceId, 0xFFFF);
  EXPECT_EQ(m.pci[1].classCode, 0x040301u);

  EXPECT_TRUE(m.tokenOpenFails);
  EXPECT_TRUE(m.tokenReadFails);
  EXPECT_TRUE(m.sidBuildFails);
  ASSERT_EQ(m.tokenGroups.size(), 3u);
  EXPECT_EQ(m.tokenGroups[0].sid, "S-1-5-32-544");
  EXPECT_EQ(m.tokenGroups[0].attributes, SE_GROUP_ENABLED | SE_GROUP_MANDATORY);
  EXPECT_EQ(m.tokenGroups[1].sid, "S-1-5-21-1004336348-1177238915-682003330-512");
  EXPECT_EQ(m.tokenGroups[1].attributes, SE_GROUP_USE_FOR_DENY_ONLY);
  EXPECT_EQ(m.tokenGroups[2].sid, "S-1-1-0");
  EXPECT_EQ(m.tokenGroups[2].attributes, 0u);

  ASSERT_EQ(m.systemDevices.size(), 3u);
  EXPECT_EQ(m.systemDevices[0].hardwareIds, (std::vector<std::string>{"ACPI\\PNP0C14", "*PNP0C14"}));
  EXPECT_FALSE(m.systemDevices[0].readFails);
  EXPECT_EQ(m.systemDevices[1].hardwareIds, (std::vector<std::string>{"ACPI\\TOS6205"}));
  EXPECT_TRUE(m.systemDevices[1].readFails);
  EXPECT_TRUE(m.systemDevices[2].hardwareIds.empty());
  EXPECT_TRUE(m.systemDevicesUnavailable);
}

TEST(Profile, EmptyProfileReplacesTheWholeMachineWithTheDefaults) {
  Machine machine = Sentinel();
  std::string error;
  ASSERT_TRUE(LoadProfile(kProfiles + "/minimal.json", machine, error)) << error;
  ExpectSameMachine(machine, Machine());
}

TEST(Profile, NullMeansAbsentOnlyWhereAValueIsOptional) {
  Machine machine;
  std::string error;
  ASSERT_TRUE(LoadProfileText(R"({"service": {"flashSize": null, "imageError": null}, "driver": {"biosType": null}})",
                              "", "p", machine, error))
      << error;
  EXPECT_FALSE(machine.flashSize);
  EXPECT_FALSE(machine.imageServiceError);
  EXPECT_FALSE(machine.biosType);
  ASSERT_TRUE(LoadProfileText(R"({"service": {"flashSize": 0, "imageError": 0}, "driver": {"biosType": 0}})", "", "p",
                              machine, error))
      << error;
  EXPECT_EQ(machine.flashSize, 0u);
  EXPECT_EQ(machine.imageServiceError, 0u);
  EXPECT_EQ(machine.biosType, 0u);
}

TEST(Profile, NumbersAsIntegersOrHexStrings) {
  Machine machine;
  std::string error;
  ASSERT_TRUE(LoadProfileText(
      R"({"driver": {"failMapAt": [983041, "0xf0002", "0XF0003", "0x000F0004", 4294967295, "0xFFFFFFFE"]}})", "", "p",
      machine, error))
      << error;
  EXPECT_EQ(machine.failMapAt, (std::set<uint32_t>{0xF0001, 0xF0002, 0xF0003, 0xF0004, 0xFFFFFFFF, 0xFFFFFFFE}));
}

TEST(Profile, HexBytesMayBeRunTogetherOrSeparatedByWhiteSpace) {
  Machine machine;
  std::string error;
  ASSERT_TRUE(LoadProfileText(R"({"memory": [{"address": 16, "hex": "5F534d5f"},
                                            {"address": 32, "hex": " 5F\t53\n4D  5F "},
                                            {"address": 48, "hex": ""}]})",
                              "", "p", machine, error))
      << error;
  EXPECT_EQ(machine.memory.Read(16, 4), BytesOf("_SM_"));
  EXPECT_EQ(machine.memory.Read(32, 4), BytesOf("_SM_"));
  EXPECT_EQ(machine.memory.Read(48, 1), Bytes{0});
}

TEST(Profile, FileRegionIsFoundBesideTheProfileNotTheWorkingDirectory) {
  Machine machine;
  std::string error;
  ASSERT_TRUE(LoadProfile(kProfiles + "/nested/relative.json", machine, error)) << error;
  Bytes ramp(256);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(machine.memory.Read(0x100000, 256), ramp);
  EXPECT_EQ(machine.memory.Read(0x100100, 1), Bytes{0});

  // The same text given as a string resolves against the directory named with it.
  const std::string text = R"({"memory": [{"address": "0x100000", "file": "../images/ramp.bin"}]})";
  Machine fromText;
  ASSERT_TRUE(LoadProfileText(text, kProfiles + "/nested", "demo", fromText, error)) << error;
  EXPECT_EQ(fromText.memory.Read(0x100000, 256), ramp);
  EXPECT_FALSE(LoadProfileText(text, kProfiles, "demo", fromText, error));
  EXPECT_NE(error.find("demo: memory[0].file: cannot read"), std::string::npos) << error;
}

TEST(Profile, AbsoluteFilePathIsTakenAsIs) {
  Machine machine;
  std::string error;
  const std::string text =
      R"({"memory": [{"address": "0xFFFFFFF8", "file": ")" + kProfiles + R"(/images/flash.bin"}]})";
  ASSERT_TRUE(LoadProfileText(text, "/nonexistent", "p", machine, error)) << error;
  EXPECT_EQ(machine.memory.Read(0xFFFFFFF8, 2), (Bytes{0x55, 0xAA}));
}

TEST(Profile, LaterRegionOverwritesAnEarlierOne) {
  Machine machine;
  std::string error;
  ASSERT_TRUE(LoadProfileText(R"({"memory": [{"address": "0xF0000", "hex": "11 22 33 44 55"},
                                            {"address": "0xF0001", "text": "AB"},
                                            {"address": "0xF0004", "hex": "66"},
                                            {"address": "0xFFFFF", "hex": "77 88"}]})",
                              "", "p", machine, error))
      << error;
  // The text's NUL overwrites too; a region may straddle the first megabyte.
  EXPECT_EQ(machine.memory.Read(0xF0000, 5), (Bytes{0x11, 'A', 'B', 0x00, 0x66}));
  EXPECT_EQ(machine.memory.Read(0xFFFFF, 2), (Bytes{0x77, 0x88}));

  ASSERT_TRUE(LoadProfileText(R"({"memory": [{"address": "0xF0001", "text": "AB"},
                                            {"address": "0xF0000", "hex": "11 22 33 44 55"}]})",
                              "", "p", machine, error))
      << error;
  EXPECT_EQ(machine.memory.Read(0xF0000, 5), (Bytes{0x11, 0x22, 0x33, 0x44, 0x55}));
}

TEST(Profile, TextCharactersUpToU00FFBecomeSingleBytes) {
  Machine machine;
  std::string error;
  // Escaped and literal (UTF-8 in the file) forms give the same byte.
  ASSERT_TRUE(LoadProfileText("{\"memory\": [{\"address\": 0, \"text\": \"\\u00C4\xC3\x84\\u0080\\u00FF\\u007F\"}],"
                              " \"currentDirectory\": \"C:\\\\\\u00C4\"}",
                              "", "p", machine, error))
      << error;
  EXPECT_EQ(machine.memory.Read(0, 6), (Bytes{0xC4, 0xC4, 0x80, 0xFF, 0x7F, 0x00}));
  EXPECT_EQ(machine.currentDirectory, "C:\\\xC4");
}

TEST(Profile, TextAndFileRegionsMayEndExactlyAt4GiB) {
  Machine machine;
  std::string error;
  ASSERT_TRUE(LoadProfileText(R"({"memory": [{"address": "0xFFFFFFFC", "text": "ABC"}]})", "", "p", machine, error))
      << error;
  EXPECT_EQ(machine.memory.Read(0xFFFFFFFC, 4), (Bytes{'A', 'B', 'C', 0}));
}

TEST(Profile, CommentsAreAllowedAndSameKeysInSiblingObjectsAreNotDuplicates) {
  Machine machine;
  std::string error;
  ASSERT_TRUE(LoadProfileText(R"(/* demo */ {
      "memory": [ {"address": 1, "hex": "01"}, {"address": 2, "hex": "02"} ],  // two regions
      "token": {"groups": [{"sid": "S-1-5", "attributes": []}, {"sid": "S-1-0-0"}]}
    })",
                              "", "p", machine, error))
      << error;
  EXPECT_EQ(machine.memory.Read(1, 2), (Bytes{1, 2}));
  ASSERT_EQ(machine.tokenGroups.size(), 2u);
  EXPECT_EQ(machine.tokenGroups[0].sid, "S-1-5");
}

}  // namespace
}  // namespace tb
