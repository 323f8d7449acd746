#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library_state.h"
#include "machine_builder.h"
#include "orrivane.h"
#include "security.h"

namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Not;
using testing::StartsWith;

constexpr char kAdmins[] = "S-1-5-32-544";
constexpr char kEveryone[] = "S-1-1-0";
constexpr char kUsers[] = "S-1-5-32-545";
constexpr char kAmplifierFound[] = "[Tolvar] Amplifier Found !!";

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& call : tb::SecurityCalls())
    if (call.rfind(prefix, 0) == 0) out.push_back(call);
  return out;
}

// --- Orrivane_IsAdministrator -------------------------------------------

TEST(IsAdministrator, On9xAnswersYesWithoutOpeningAToken) {
  StartWith(tb::MachineBuilder().Win9x().TokenOpenFails());
  EXPECT_EQ(Orrivane_IsAdministrator(), 1);
  EXPECT_THAT(tb::SecurityCalls(), IsEmpty());
  ExpectNothingOutstanding();
}

struct TokenCase {
  const char* name;
  tb::MachineBuilder machine;
  int32_t expected;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.name; }

class IsAdministratorOnNt : public testing::TestWithParam<TokenCase> {};

TEST_P(IsAdministratorOnNt, AnswersFromMembershipAndReleasesEverything) {
  StartWith(GetParam().machine);
  EXPECT_EQ(Orrivane_IsAdministrator(), GetParam().expected);
  ExpectNothingOutstanding();
}

tb::MachineBuilder Nt() { return tb::MachineBuilder().Nt(); }

INSTANTIATE_TEST_SUITE_P(
    Cases, IsAdministratorOnNt,
    testing::Values(
        TokenCase{"OpenFails", Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED).TokenOpenFails(), 0},
        TokenCase{"IdentifierCannotBeBuilt", Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED).SidBuildFails(), 0},
        TokenCase{"ReadFails", Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED).TokenReadFails(), 0},
        TokenCase{"EmptyList", Nt(), 0},
        TokenCase{"AdministratorsAbsent", Nt().TokenGroup(kEveryone, SE_GROUP_ENABLED).TokenGroup(kUsers, 7), 0},
        // Same last sub-authority, other domain or authority: not the Administrators alias.
        TokenCase{"SameRidInADomain", Nt().TokenGroup("S-1-5-21-100-200-300-544", SE_GROUP_ENABLED), 0},
        TokenCase{"SameRidsOtherAuthority", Nt().TokenGroup("S-1-1-32-544", SE_GROUP_ENABLED), 0},
        TokenCase{"LongerIdentifier", Nt().TokenGroup("S-1-5-32-544-1", SE_GROUP_ENABLED), 0},
        TokenCase{"ShorterIdentifier", Nt().TokenGroup("S-1-5-32", SE_GROUP_ENABLED), 0},
        TokenCase{"AdministratorsEnabled", Nt().TokenGroup(kEveryone, 7).TokenGroup(kAdmins, SE_GROUP_ENABLED), 1},
        TokenCase{"AdministratorsDenyOnly", Nt().TokenGroup(kAdmins, SE_GROUP_USE_FOR_DENY_ONLY), 1},
        TokenCase{"AdministratorsWithoutAttributes", Nt().TokenGroup(kAdmins, 0), 1},
        TokenCase{"AdministratorsLastOfMany",
                  Nt().TokenGroup(kEveryone, 7).TokenGroup(kUsers, 7).TokenGroup("S-1-5-11", 7).TokenGroup(kAdmins, 0),
                  1}),
    [](const testing::TestParamInfo<TokenCase>& info) { return info.param.name; });

TEST(IsAdministrator, FailedOpenBuildsNoIdentifier) {
  StartWith(Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED).TokenOpenFails());
  EXPECT_EQ(Orrivane_IsAdministrator(), 0);
  EXPECT_THAT(tb::SecurityCalls(), ElementsAre("OpenProcessToken access=0x20008"));
}

TEST(IsAdministrator, FailedIdentifierReadsNoGroups) {
  StartWith(Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED).SidBuildFails());
  EXPECT_EQ(Orrivane_IsAdministrator(), 0);
  EXPECT_THAT(tb::SecurityCalls(),
              ElementsAre("OpenProcessToken access=0x20008", "AllocateAndInitializeSid S-1-5-32-544"));
  ExpectNothingOutstanding();
}

TEST(IsAdministrator, AsksSizeThenReadsThenComparesInOrderUntilTheFirstMatch) {
  StartWith(Nt().TokenGroup(kEveryone, 7).TokenGroup(kAdmins, SE_GROUP_ENABLED).TokenGroup(kAdmins, 0));
  const std::string size = std::to_string(tb::TokenGroupsSize());
  EXPECT_EQ(Orrivane_IsAdministrator(), 1);
  EXPECT_THAT(tb::SecurityCalls(),
              ElementsAre("OpenProcessToken access=0x20008", "AllocateAndInitializeSid S-1-5-32-544",
                          "GetTokenInformation class=2 no buffer", "GetTokenInformation class=2 size=" + size,
                          "EqualSid S-1-1-0 S-1-5-32-544", "EqualSid S-1-5-32-544 S-1-5-32-544",
                          "FreeSid S-1-5-32-544"));
}

// The size query and the list it sizes are not trusted blindly.
TEST(IsAdministrator, ReportedSizeZeroIsNotReadAsAList) {
  StartWith(Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED));
  tb::ReportTokenGroupsSize(0);
  EXPECT_EQ(Orrivane_IsAdministrator(), 0);
  EXPECT_THAT(CallsStartingWith("GetTokenInformation"), ElementsAre("GetTokenInformation class=2 no buffer"));
  EXPECT_THAT(CallsStartingWith("EqualSid"), IsEmpty());
  ExpectNothingOutstanding();
}

TEST(IsAdministrator, ReportedSizeTooSmallFailsTheRead) {
  StartWith(Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED));
  tb::ReportTokenGroupsSize(tb::TokenGroupsSize() - 1);
  EXPECT_EQ(Orrivane_IsAdministrator(), 0);
  EXPECT_THAT(CallsStartingWith("EqualSid"), IsEmpty());
  ExpectNothingOutstanding();
}

TEST(IsAdministrator, FailedAllocationReadsNothing) {
  StartWith(Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED));
  tb::FailGlobalAllocAt(1);
  EXPECT_EQ(Orrivane_IsAdministrator(), 0);
  EXPECT_THAT(CallsStartingWith("GetTokenInformation"), ElementsAre("GetTokenInformation class=2 no buffer"));
  ExpectNothingOutstanding();
}

TEST(IsAdministrator, FailedLockReadsNothingAndFreesTheBlock) {
  StartWith(Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED));
  tb::FailGlobalLockAt(1);
  EXPECT_EQ(Orrivane_IsAdministrator(), 0);
  EXPECT_THAT(CallsStartingWith("GetTokenInformation"), ElementsAre("GetTokenInformation class=2 no buffer"));
  ExpectNothingOutstanding();
}

// A count beyond the list's size would walk past the buffer; only the
// entries whose identifiers lie inside the list are compared.
TEST(IsAdministrator, OverstatedGroupCountStaysInsideTheList) {
  StartWith(Nt().TokenGroup(kEveryone, 7).TokenGroup(kUsers, 7));
  tb::OverstateTokenGroupCount(100000);
  EXPECT_EQ(Orrivane_IsAdministrator(), 0);
  EXPECT_THAT(CallsStartingWith("EqualSid"),
              ElementsAre("EqualSid S-1-1-0 S-1-5-32-544", "EqualSid S-1-5-32-545 S-1-5-32-544"));
  ExpectNothingOutstanding();
}

TEST(IsAdministrator, OverstatedGroupCountStillFindsARealMember) {
  StartWith(Nt().TokenGroup(kEveryone, 7).TokenGroup(kAdmins, 0));
  tb::OverstateTokenGroupCount(0xFFFFFFFFu - 2);
  EXPECT_EQ(Orrivane_IsAdministrator(), 1);
  ExpectNothingOutstanding();
}

// --- InstallShield_CheckACPI ----------------------------------------------

TEST(CheckACPI, NullTextAsksForNoDevices) {
  StartWith(tb::MachineBuilder().SystemDevice({"ACPI\\PNP0C14"}));
  EXPECT_EQ(InstallShield_CheckACPI(nullptr), 0);
  EXPECT_THAT(tb::SecurityCalls(), IsEmpty());
  EXPECT_THAT(tb::DebugLines(), IsEmpty());
}

TEST(CheckACPI, UnavailableSetAnswersNo) {
  StartWith(tb::MachineBuilder().SystemDevice({"ACPI\\PNP0C14"}).SystemDevicesUnavailable());
  EXPECT_EQ(InstallShield_CheckACPI(""), 0);
  EXPECT_THAT(tb::SecurityCalls(), ElementsAre(StartsWith("SetupDiGetClassDevsA")));
  EXPECT_THAT(tb::DebugLines(), IsEmpty());
  ExpectNothingOutstanding();
}

TEST(CheckACPI, NoDevicesAnswersNoAndDestroysTheSet) {
  StartWith(tb::MachineBuilder());
  EXPECT_EQ(InstallShield_CheckACPI(""), 0);
  EXPECT_THAT(tb::SecurityCalls(),
              ElementsAre("SetupDiGetClassDevsA {4D36E97D-E325-11CE-BFC1-08002BE10318} flags=0x2",
                          "SetupDiEnumDeviceInfo index=0", "SetupDiDestroyDeviceInfoList"));
  EXPECT_THAT(tb::DebugLines(), IsEmpty());
  ExpectNothingOutstanding();
}

TEST(CheckACPI, EmptyTextMatchesTheFirstPresentDevice) {
  StartWith(tb::MachineBuilder().SystemDevice({"ACPI\\PNP0A03"}).SystemDevice({"ACPI\\PNP0C14"}));
  EXPECT_EQ(InstallShield_CheckACPI(""), 1);
  EXPECT_THAT(tb::DebugLines(), ElementsAre(kAmplifierFound));
  EXPECT_THAT(tb::SecurityCalls(),
              ElementsAre("SetupDiGetClassDevsA {4D36E97D-E325-11CE-BFC1-08002BE10318} flags=0x2",
                          "SetupDiEnumDeviceInfo index=0",
                          "SetupDiGetDeviceRegistryPropertyA index=0 property=1 size=512",
                          "SetupDiDestroyDeviceInfoList"));
  ExpectNothingOutstanding();
}

TEST(CheckACPI, WalksEveryDeviceInOrderWhenNothingMatches) {
  StartWith(tb::MachineBuilder().SystemDevice({"ACPI\\PNP0A03"}).SystemDevice({"ACPI\\PNP0C14"}));
  EXPECT_EQ(InstallShield_CheckACPI("TOS6205"), 0);
  EXPECT_THAT(tb::SecurityCalls(),
              ElementsAre(StartsWith("SetupDiGetClassDevsA"), "SetupDiEnumDeviceInfo index=0",
                          "SetupDiGetDeviceRegistryPropertyA index=0 property=1 size=512",
                          "SetupDiEnumDeviceInfo index=1",
                          "SetupDiGetDeviceRegistryPropertyA index=1 property=1 size=512",
                          "SetupDiEnumDeviceInfo index=2", "SetupDiDestroyDeviceInfoList"));
  EXPECT_THAT(tb::DebugLines(), IsEmpty());
  ExpectNothingOutstanding();
}

struct AcpiCase {
  const char* name;
  std::vector<std::vector<std::string>> devices;  // each device's hardware ids
  std::string text;
  int32_t expected;
};

void PrintTo(const AcpiCase& c, std::ostream* os) { *os << c.name; }

class CheckACPIMatch : public testing::TestWithParam<AcpiCase> {};

TEST_P(CheckACPIMatch, SearchesTheUpperCasedFirstIdForTheTextAsGiven) {
  tb::MachineBuilder machine;
  for (const auto& ids : GetParam().devices) machine.SystemDevice(ids);
  StartWith(machine);
  EXPECT_EQ(InstallShield_CheckACPI(GetParam().text.c_str()), GetParam().expected);
  if (GetParam().expected)
    EXPECT_THAT(tb::DebugLines(), ElementsAre(kAmplifierFound));
  else
    EXPECT_THAT(tb::DebugLines(), IsEmpty());
  ExpectNothingOutstanding();
}

const std::string kLongId = "ACPI\\" + std::string(501, 'x') + "TAIL";  // 510 characters

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckACPIMatch,
    testing::Values(
        AcpiCase{"LowerCaseFragmentNeverMatches", {{"ACPI\\PNP0C14"}}, "pnp0c14", 0},
        AcpiCase{"MixedCaseFragmentNeverMatches", {{"ACPI\\PNP0C14"}}, "PNP0c14", 0},
        AcpiCase{"LowerCaseFragmentOfAllLowerIdNeverMatches", {{"acpi\\pnp0c14"}}, "pnp0c14", 0},
        AcpiCase{"FragmentLongerThanTheId", {{"ACPI\\PNP"}}, "ACPI\\PNP0", 0},
        AcpiCase{"FragmentOnlyInALaterId", {{"ACPI\\TOS6205", "*PNP0C14"}}, "PNP0C14", 0},
        AcpiCase{"FragmentSpanningTwoIds", {{"ACPI\\AB", "CD"}}, "ABCD", 0},
        // Only a to z are upper-cased: a byte above 0x7F keeps its value.
        AcpiCase{"HighByteIsNotFolded", {{"ACPI\\\xE4" "BC"}}, "\xC4" "BC", 0},
        AcpiCase{"UpperCaseFragmentOfUpperId", {{"ACPI\\PNP0C14"}}, "PNP0C14", 1},
        AcpiCase{"UpperCaseFragmentOfLowerId", {{"acpi\\pnp0c14"}}, "PNP0C14", 1},
        AcpiCase{"UpperCaseFragmentOfMixedId", {{"AcPi\\PnP0c14", "*pnp0c14"}}, "ACPI\\PNP0C14", 1},
        AcpiCase{"OtherBytesKeptAsTheyAre", {{"PCI\\ven_8086&dev_1234"}}, "VEN_8086&DEV_1234", 1},
        AcpiCase{"HighByteMatchesItself", {{"ACPI\\\xE4" "bc"}}, "\xE4" "BC", 1},
        AcpiCase{"MatchInALaterDevice", {{"ACPI\\PNP0A03"}, {"ACPI\\PNP0C0A"}, {"ACPI\\TOS6205"}}, "TOS62", 1},
        AcpiCase{"ListOfExactly512Bytes", {{kLongId}}, "TAIL", 1}),
    [](const testing::TestParamInfo<AcpiCase>& info) { return info.param.name; });

TEST(CheckACPI, MatchStopsTheEnumeration) {
  StartWith(tb::MachineBuilder().SystemDevice({"ACPI\\PNP0C14"}).SystemDevice({"ACPI\\PNP0C14"}));
  EXPECT_EQ(InstallShield_CheckACPI("PNP0C14"), 1);
  EXPECT_THAT(tb::SecurityCalls(), Not(Contains("SetupDiEnumDeviceInfo index=1")));
  EXPECT_THAT(tb::DebugLines(), ElementsAre(kAmplifierFound));
}

// A device whose ids cannot be read does not match, not even the empty text:
// the buffer then holds nothing of that device's.
TEST(CheckACPI, UnreadableDeviceNeverMatches) {
  StartWith(tb::MachineBuilder().SystemDevice({"ACPI\\PNP0C14"}, true));
  EXPECT_EQ(InstallShield_CheckACPI(""), 0);
  EXPECT_THAT(tb::DebugLines(), IsEmpty());
  ExpectNothingOutstanding();
}

TEST(CheckACPI, ListLongerThanTheBufferNeverMatches) {
  StartWith(tb::MachineBuilder().SystemDevice({kLongId + "X"}));
  EXPECT_EQ(InstallShield_CheckACPI("TAIL"), 0);
  EXPECT_EQ(InstallShield_CheckACPI(""), 0);
  EXPECT_THAT(tb::DebugLines(), IsEmpty());
  ExpectNothingOutstanding();
}

TEST(CheckACPI, UnreadableDevicesAreSkippedForALaterMatch) {
  StartWith(tb::MachineBuilder()
                .SystemDevice({"ACPI\\PNP0C14"}, true)
                .SystemDevice({"ACPI\\TOS6205"}, true)
                .SystemDevice({"ACPI\\PNP0A03"}));
  EXPECT_EQ(InstallShield_CheckACPI(""), 1);
  EXPECT_THAT(CallsStartingWith("SetupDiGetDeviceRegistryPropertyA"),
              ElementsAre(StartsWith("SetupDiGetDeviceRegistryPropertyA index=0"),
                          StartsWith("SetupDiGetDeviceRegistryPropertyA index=1"),
                          StartsWith("SetupDiGetDeviceRegistryPropertyA index=2")));
  EXPECT_THAT(tb::DebugLines(), ElementsAre(kAmplifierFound));
  ExpectNothingOutstanding();
}

}  // namespace
