// The whole detection: its messages, the firmware tag and the identity
// area. The steps each family runs: platform_family_test.cpp.
#include <gtest/gtest.h>

#include "detect/detect_machine.h"
#include "detect_helpers.h"
#include "orrivane.h"

namespace {

using tb::MachineBuilder;
using Texts = std::vector<std::string>;

MachineBuilder Board(uint32_t biosType) { return FullBoard(tb::Platform::Nt, biosType); }

TEST(DetectMachine, OpenErrorShowsItsMessageAndChangesNothingElse) {
  const std::string longDirectory = "C:\\" + std::string(130, 'd'), directory124 = "C:\\" + std::string(121, 'd');
  const struct { uint32_t error; std::string directory, message; } cases[] = {
      {104, "C:\\", "Unable to open DA_VUZ.DLL driver (service error 104)"},  // unlisted
      {107, longDirectory, "Unable to find driver DA_VUZ.DLL under the current directory"},
      {107, directory124, ("Unable to find driver DA_VUZ.DLL under " + directory124).substr(0, 127)},
      {100, "C:\\", "Unable to open NT SCM DataBase for DA_VUZ.DLL"},
      {101, "C:\\", "Unable to create NT driver service for DA_VUZ.DLL"},
      {103, "C:\\", "Unable to open DA_VUZ.DLL driver"},
      {106, "C:\\", "NT service registry error! Please reboot NT and run again"},
      {107, "D:\\tools", "Unable to find driver DA_VUZ.DLL under D:\\tools"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    StartWith(Board(2).OpenError(c.error).CurrentDirectory(c.directory));
    LeaveEarlierValues();
    EXPECT_EQ(Orrivane_Initialize(), 0u);
    ASSERT_EQ(tb::MessageBoxes().size(), 1u);
    const tb::MessageBox& box = tb::MessageBoxes()[0];
    EXPECT_EQ(box.text, c.message);
    EXPECT_TRUE(box.title == "ZANT ORRIVANE.DLL" && box.style == 0x30u && box.owner == nullptr);
    EXPECT_EQ(tb::ServiceRequests().size(), 1u) << "no free request after a failed open";
    EXPECT_TRUE(tb::DriverRequests().empty());
    EXPECT_EQ(MachineBios.biosType, 0u);
    EXPECT_STREQ(MachineBios.modelName, "EARLIER");
    EXPECT_EQ(MachineBios.flashSize, 1234u);
  }
}

// The tag must lie wholly inside its window (ROM size code 7: 0x7FFFF bytes
// from 0xFFF80000). Only a detection that finds no family looks for it and
// clears an earlier run's tag; a later detection of a family keeps it.
TEST(DetectMachine, OnlyADetectionWithoutAFamilyDecidesTheTagFoundWhollyInsideItsWindow) {
  for (uint32_t offset : {0x7FFF7u, 0x7FFF6u}) {
    MachineBuilder b = NtMachine(0);
    StartWith(WithSmbios(b).Bytes(0xFFF80000u + offset, tb::BytesOf("$ZTEXFIRM")));
    MachineBios.firmwareTagFound = 1;
    const bool fits = offset + 9 <= 0x7FFFF;
    EXPECT_EQ(Orrivane_Initialize(), fits ? 1u : 0u) << offset;
    EXPECT_EQ(InstallShield_CheckBIOSTag(), fits ? 2u : 0u);
    EXPECT_EQ(Orrivane_CheckBIOSTag(), 0u);
    EXPECT_EQ(MessageTexts(), fits ? Texts{} : Texts{"Unable to detect ZANT BIOS"});
    EXPECT_EQ(MapRequests().back(), std::make_pair(0xFFF80000u, 0x7FFFFu));
    ExpectNothingOutstanding();
  }
  tb::Reset(Board(2));
  ASSERT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_EQ(Orrivane_CheckBIOSTag(), 1u);
  EXPECT_EQ(InstallShield_CheckBIOSTag(), 2u);
}

// A failed F segment window skips the identity area, a failed release fails
// the detection; the other steps still run.
TEST(DetectMachine, FailedFSegmentWindowOrReleaseKeepsTheOtherSteps) {
  for (bool freeFails : {false, true}) {
    StartWith(freeFails ? Board(2).FreeFails() : Board(2).FailMapAt(0xF0000));
    LeaveEarlierValues();
    EXPECT_EQ(Orrivane_Initialize(), freeFails ? 0u : 1u);
    EXPECT_EQ(MessageTexts(), freeFails ? Texts{"Unable to Free DA_VUZ.DLL"} : Texts{});
    EXPECT_EQ(std::string(MachineBios.idString) + "|" + MachineBios.modelName,
              freeFails ? "ZT-BOARD ID|TX4410" : "earlier id|EARLIER");
    EXPECT_EQ(MachineBios.flashSize, 0x80000u);
    ExpectNothingOutstanding();
  }
}

// The identity text is spoiled from 52 characters without a NUL; the model
// tag gives at most 8 characters, brackets dropped; families 2 and 5 drop
// one trailing "C" and turn the line byte into a dash. The decoding comes
// before those fix-ups, so a date text naming the model with its "C" ends
// the version there.
TEST(IdentityArea, IdStringAndModel) {
  const std::string k51(51, 'i'), k52(52, 'i');
  const struct { uint32_t biosType; std::string idString, modelTag, expectId, expectModel; } cases[] = {
      {3, k52, "M", "SPOILED", "M"},          {3, k51, "M", k51, "M"},
      {3, "id", "<TX4410>", "id", "TX4410"},  {3, "id", "TX4410 X", "id", "TX4410"},  // a blank ends the tag
      {3, "id", "ABCDEFGHIJ", "id", "ABCDEFGH"}, {3, "id", "<TX4410-E>", "id", "TX4410-"},  // brackets count
      {2, "id", "TX4410CC", "id", "TX4410C"}, {5, "id", "C", "id", ""},
      {5, "id", "TX\xC4" "4410", "id", "TX-4410"}, {3, "id", "TX\xC4" "441C", "id", "TX\xC4" "441C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "family " << c.biosType << " tag " << c.modelTag);
    MachineBuilder b = NtMachine(c.biosType);
    StartWith(tb::WriteIdentityArea(b, c.idString, "X01/02/03-V-" + c.modelTag, c.modelTag));
    EXPECT_EQ(Orrivane_Initialize(), 1u);
    EXPECT_EQ(MachineBios.idString, c.expectId);
    EXPECT_EQ(MachineBios.modelName, c.expectModel);
  }
  MachineBuilder b = NtMachine(2);
  StartWith(tb::WriteIdentityArea(b, "id", "X03/15/2009-R2A-TX4410C", "TX4410C"));
  EXPECT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_EQ(std::string(MachineBios.versionText) + " " + MachineBios.dateText, "R2A 03/15/2009");
  EXPECT_EQ(MachineBios.dateCode, 20090315u);
  EXPECT_STREQ(MachineBios.modelName, "TX4410");
}

}  // namespace
