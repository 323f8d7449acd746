#include <gtest/gtest.h>

#include "detect_helpers.h"
#include "detect/detect_machine.h"
#include "orrivane.h"

namespace {

using tb::MachineBuilder;

constexpr char kTitle[] = "ZANT ORRIVANE.DLL";

// Fields an earlier detection left, to see which ones a run rewrites.
void LeaveEarlierValues() {
  std::strcpy(MachineBios.idString, "earlier id");
  std::strcpy(MachineBios.modelName, "EARLIER");
  std::strcpy(MachineBios.altModelName, "EARLIER ALT");
  std::strcpy(MachineBios.romId, "OLDID");
  MachineBios.flashSize = 1234;
  MachineBios.biosType = 9;
  MachineBios.pluginBlockA[1] = 0xEE;
}

// A plain board: identity area, plug-in blocks and a flash size.
MachineBuilder PlainBoard(uint32_t biosType) {
  MachineBuilder b = NtMachine(biosType);
  b.FlashSize(0x80000).PluginBlockA({0, 1}).PluginBlockB({0, 0, 2});
  tb::WriteIdentityArea(b, "ZT-BOARD ID", "X12/31/09-R104-TX4410C-00", "<TX4410C>");
  return b;
}

struct OpenErrorCase {
  const char* name;
  uint32_t error;
  std::string directory;
  std::string message;
};

class OpenError : public testing::TestWithParam<OpenErrorCase> {};

TEST_P(OpenError, ShowsItsMessageAndChangesNothingElse) {
  const OpenErrorCase& c = GetParam();
  StartWith(PlainBoard(2).OpenError(c.error).CurrentDirectory(c.directory));
  LeaveEarlierValues();
  EXPECT_EQ(Orrivane_Initialize(), 0u);
  ASSERT_EQ(tb::MessageBoxes().size(), 1u);
  const tb::MessageBox& box = tb::MessageBoxes()[0];
  EXPECT_EQ(box.text, c.message);
  EXPECT_EQ(box.title, kTitle);
  EXPECT_EQ(box.style, 0x30u);
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(tb::ServiceRequests().size(), 1u) << "no free request after a failed open";
  EXPECT_TRUE(tb::DriverRequests().empty());
  EXPECT_EQ(MachineBios.biosType, 0u);
  EXPECT_STREQ(MachineBios.modelName, "EARLIER");
  EXPECT_EQ(MachineBios.flashSize, 1234u);
}

const std::string kLongDirectory = "C:\\" + std::string(130, 'd');
const std::string k124Directory = "C:\\" + std::string(121, 'd');

INSTANTIATE_TEST_SUITE_P(
    Errors, OpenError,
    testing::Values(
        OpenErrorCase{"Unlisted", 104, "C:\\", "Unable to open DA_VUZ.DLL driver (service error 104)"},
        OpenErrorCase{"DirectoryTooLong", 107, kLongDirectory,
                      "Unable to find driver DA_VUZ.DLL under the current directory"},
        OpenErrorCase{"MessageCutAt127", 107, k124Directory,
                      ("Unable to find driver DA_VUZ.DLL under " + k124Directory).substr(0, 127)},
        OpenErrorCase{"ScmDatabase", 100, "C:\\", "Unable to open NT SCM DataBase for DA_VUZ.DLL"},
        OpenErrorCase{"CreateService", 101, "C:\\", "Unable to create NT driver service for DA_VUZ.DLL"},
        OpenErrorCase{"OpenDriver", 103, "C:\\", "Unable to open DA_VUZ.DLL driver"},
        OpenErrorCase{"Registry", 106, "C:\\", "NT service registry error! Please reboot NT and run again"},
        OpenErrorCase{"DriverMissing", 107, "D:\\tools", "Unable to find driver DA_VUZ.DLL under D:\\tools"}),
    [](const testing::TestParamInfo<OpenErrorCase>& info) { return info.param.name; });

struct PathCase {
  const char* name;
  tb::Platform platform;
  uint32_t biosType;
  bool readsIdentityArea;  // and the plug-in blocks
  bool readsFlashSize;
  const char* model;
};

class BiosTypePath : public testing::TestWithParam<PathCase> {};

TEST_P(BiosTypePath, RunsItsStepsAndKeepsTheRest) {
  const PathCase& c = GetParam();
  MachineBuilder b = PlainBoard(c.biosType);
  if (c.platform == tb::Platform::Win9x) b.Win9x();
  tb::WriteSmbios(b, {}, tb::SmbiosTable({tb::SmbiosBiosInformation(7), tb::SmbiosChassis(0x0D)}));
  b.Text(0xFFF80000u + 0x100, "$ZTEXFIRM");
  StartWith(b);
  LeaveEarlierValues();

  EXPECT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_EQ(g_isNt, c.platform == tb::Platform::Nt ? 1u : 0u);
  EXPECT_EQ(MachineBios.biosType, c.biosType);
  EXPECT_TRUE(tb::MessageBoxes().empty());
  EXPECT_EQ(MachineBios.logoFlags, 5);  // every path scans the SMBIOS table
  EXPECT_EQ(MachineBios.onboardLan, 1u);

  const auto& service = tb::ServiceRequests();
  ASSERT_EQ(service.size(), c.readsFlashSize ? 3u : 2u);
  EXPECT_EQ(service.front().code, orr::kRequestOpenDriver);
  EXPECT_EQ(service.back().code, orr::kRequestFreeDriver);
  EXPECT_EQ(MachineBios.flashSize, c.readsFlashSize ? 0x80000u : 1234u);

  const bool nt = c.platform == tb::Platform::Nt;
  EXPECT_EQ(CountDriverRequests(nt ? orr::kIoctlPluginBlockA : orr::kIoctl9xPluginBlockA), c.readsIdentityArea);
  EXPECT_EQ(CountDriverRequests(nt ? orr::kIoctlPluginBlockB : orr::kIoctl9xPluginBlockB), c.readsIdentityArea);
  EXPECT_EQ(MachineBios.pluginBlockA[1], c.readsIdentityArea ? 1 : 0xEE);
  EXPECT_STREQ(MachineBios.idString, c.readsIdentityArea ? "ZT-BOARD ID" : "earlier id");
  EXPECT_STREQ(MachineBios.modelName, c.model);
  EXPECT_STREQ(MachineBios.versionText, c.readsIdentityArea ? "R104" : "");
  EXPECT_EQ(MachineBios.firmwareTagFound, c.biosType == 0 ? 1u : 0u);
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, BiosTypePath,
    testing::Values(PathCase{"Nt0", tb::Platform::Nt, 0, false, false, "EARLIER"},
                    PathCase{"Nt4", tb::Platform::Nt, 4, false, true, "EARLIER"},
                    PathCase{"Nt2", tb::Platform::Nt, 2, true, true, "TX4410"},
                    PathCase{"Nt3", tb::Platform::Nt, 3, true, true, "TX4410C"},
                    PathCase{"Nt5", tb::Platform::Nt, 5, true, true, "TX4410"},
                    PathCase{"Win9x0", tb::Platform::Win9x, 0, false, false, "EARLIER"},
                    PathCase{"Win9x4", tb::Platform::Win9x, 4, false, true, "EARLIER"},
                    PathCase{"Win9x2", tb::Platform::Win9x, 2, true, true, "TX4410"},
                    PathCase{"Win9x7", tb::Platform::Win9x, 7, true, true, "TX4410C"}),
    [](const testing::TestParamInfo<PathCase>& info) { return info.param.name; });

TEST(DetectMachine, FirmwareTagMustLieWhollyInsideItsWindow) {
  // ROM size code 7: the window starts at 0xFFF80000 and is 0x7FFFF long.
  for (uint32_t offset : {0x7FFF6u, 0x7FFF7u}) {
    MachineBuilder b = NtMachine(0);
    tb::WriteSmbios(b, {}, tb::SmbiosTable({tb::SmbiosBiosInformation(7)}));
    b.Bytes(0xFFF80000u + offset, tb::BytesOf("$ZTEXFIRM"));
    StartWith(b);
    const bool fits = offset + 9 <= 0x7FFFF;
    EXPECT_EQ(Orrivane_Initialize(), fits ? 1u : 0u) << offset;
    EXPECT_EQ(InstallShield_CheckBIOSTag(), fits ? 2u : 0u);
    EXPECT_EQ(Orrivane_CheckBIOSTag(), 0u);
    EXPECT_EQ(MessageTexts(), fits ? std::vector<std::string>{} : std::vector<std::string>{"Unable to detect ZANT BIOS"});
    EXPECT_EQ(MapRequests().back(), std::make_pair(0xFFF80000u, 0x7FFFFu));
    ExpectNothingOutstanding();
  }
}

TEST(DetectMachine, FailedBiosTypeQueryLeavesTheTagToDecide) {
  StartWith(MachineBuilder().Nt());  // the driver refuses the family request
  MachineBios.firmwareTagFound = 1;  // an earlier run's tag is cleared by this one
  EXPECT_EQ(Orrivane_Initialize(), 0u);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Unable to detect ZANT BIOS"});
  EXPECT_EQ(MachineBios.firmwareTagFound, 0u);
}

TEST(DetectMachine, FoundTagOutlivesALaterDetectionOfAFamily) {
  // Only a detection that finds no family looks for the tag and clears it.
  MachineBuilder tagged = NtMachine(0);
  tb::WriteSmbios(tagged, {}, tb::SmbiosTable({tb::SmbiosBiosInformation(7)}));
  tagged.Text(0xFFF80000u, "$ZTEXFIRM");
  StartWith(tagged);
  ASSERT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_EQ(InstallShield_CheckBIOSTag(), 2u);
  tb::Reset(PlainBoard(2));
  ASSERT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_EQ(Orrivane_CheckBIOSTag(), 1u);
  EXPECT_EQ(InstallShield_CheckBIOSTag(), 2u);
}

TEST(DetectMachine, FreeFailureAfterAFullDetection) {
  StartWith(PlainBoard(2).FreeFails());
  EXPECT_EQ(Orrivane_Initialize(), 0u);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Unable to Free DA_VUZ.DLL"});
  EXPECT_STREQ(MachineBios.modelName, "TX4410");
  EXPECT_EQ(MachineBios.flashSize, 0x80000u);
  ExpectNothingOutstanding();
}

TEST(DetectMachine, FailedFSegmentWindowSkipsTheIdentityArea) {
  StartWith(PlainBoard(2).FailMapAt(0xF0000));
  LeaveEarlierValues();
  EXPECT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_STREQ(MachineBios.idString, "earlier id");
  EXPECT_STREQ(MachineBios.modelName, "EARLIER");
  EXPECT_EQ(MachineBios.flashSize, 0x80000u);  // the steps after the window still run
}

struct AreaCase {
  const char* name;
  uint32_t biosType;
  std::string idString, modelTag;
  const char* expectId;
  const char* expectModel;
};

class IdentityArea : public testing::TestWithParam<AreaCase> {};

TEST_P(IdentityArea, IdStringAndModel) {
  const AreaCase& c = GetParam();
  MachineBuilder b = NtMachine(c.biosType);
  tb::WriteIdentityArea(b, c.idString, "X01/02/03-V-" + c.modelTag, c.modelTag);
  StartWith(b);
  EXPECT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_STREQ(MachineBios.idString, c.expectId);
  EXPECT_STREQ(MachineBios.modelName, c.expectModel);
}

const std::string k51(51, 'i'), k52(52, 'i');

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentityArea,
    testing::Values(AreaCase{"IdOf52IsSpoiled", 3, k52, "M", "SPOILED", "M"},
                    AreaCase{"IdOf51IsKept", 3, k51, "M", k51.c_str(), "M"},
                    AreaCase{"AngleBracketsDropped", 3, "id", "<TX4410>", "id", "TX4410"},
                    AreaCase{"BlankEndsTheTag", 3, "id", "TX4410 X", "id", "TX4410"},
                    AreaCase{"EightCharactersAtMost", 3, "id", "ABCDEFGHIJ", "id", "ABCDEFGH"},
                    AreaCase{"BracketsCountAmongTheEight", 3, "id", "<TX4410-E>", "id", "TX4410-"},
                    AreaCase{"OneTrailingCRemoved", 2, "id", "TX4410CC", "id", "TX4410C"},
                    AreaCase{"LoneCRemoved", 5, "id", "C", "id", ""},
                    AreaCase{"LineByteBecomesDash", 5, "id", "TX\xC4" "4410", "id", "TX-4410"},
                    AreaCase{"Type3KeepsCAndLineByte", 3, "id", "TX\xC4" "441C", "id", "TX\xC4" "441C"}),
    [](const testing::TestParamInfo<AreaCase>& info) { return info.param.name; });

TEST(DetectMachine, DecodesBeforeTheModelFixUps) {
  // The date text names the model with its "C": found only because the
  // fix-ups come after the decoding.
  MachineBuilder b = NtMachine(2);
  tb::WriteIdentityArea(b, "id", "X03/15/2009-R2A-TX4410C", "TX4410C");
  StartWith(b);
  EXPECT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_STREQ(MachineBios.versionText, "R2A");
  EXPECT_STREQ(MachineBios.dateText, "03/15/2009");
  EXPECT_EQ(MachineBios.dateCode, 20090315u);
  EXPECT_STREQ(MachineBios.modelName, "TX4410");
}

}  // namespace
