#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "library_state.h"
#include "machine_builder.h"
#include "orrivane.h"
#include "security.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

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

tb::MachineBuilder Nt() { return tb::MachineBuilder().Nt(); }

// --- Orrivane_IsAdministrator -------------------------------------------

// Membership alone counts, not the attributes; only the entries whose
// identifiers lie inside the list are compared, up to the first match. The
// calls come in order; each failure answers 0 and asks nothing the failure
// makes pointless.
TEST(IsAdministrator, AnswersFromMembershipAndStopsAtTheFirstFailedStep) {
  const std::string open = "OpenProcessToken access=0x20008", sid = "AllocateAndInitializeSid S-1-5-32-544",
                    size = "GetTokenInformation class=2 no buffer", free = "FreeSid S-1-5-32-544";
  tb::MachineBuilder member = Nt().TokenGroup(kEveryone, 7).TokenGroup(kAdmins, SE_GROUP_ENABLED);
  StartWith(member);
  const std::string read = "GetTokenInformation class=2 size=" + std::to_string(tb::TokenGroupsSize());
  // fault: a size or count the system states falsely (may be empty); compared: the groups compared with
  // Administrators, in order; calls: when given, every call made.
  const struct {
    const char* name; tb::MachineBuilder machine; std::function<void()> fault; int32_t expected;
    std::vector<std::string> compared, calls;
  } cases[] = {
      // On 9x every user may; a token that cannot be opened shows none is asked for.
      {"On9xEveryoneMay", tb::MachineBuilder().Win9x().TokenOpenFails(), {}, 1, {}},
      {"ReadFails", Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED).TokenReadFails(), {}, 0, {}},
      {"EmptyList", Nt(), {}, 0, {}},
      {"AdministratorsAbsent", Nt().TokenGroup(kEveryone, 7).TokenGroup(kUsers, 7), {}, 0, {kEveryone, kUsers}},
      // Same last sub-authority in a domain, or a longer identifier: not the Administrators alias.
      {"SameRidInADomain", Nt().TokenGroup("S-1-5-21-100-200-300-544", 7), {}, 0, {"S-1-5-21-100-200-300-544"}},
      {"LongerIdentifier", Nt().TokenGroup("S-1-5-32-544-1", 7), {}, 0, {"S-1-5-32-544-1"}},
      {"FirstMatchEndsTheWalk",
          Nt().TokenGroup(kEveryone, 7).TokenGroup(kAdmins, SE_GROUP_ENABLED).TokenGroup(kUsers, 7), {}, 1,
          {kEveryone, kAdmins}},
      {"AdministratorsDenyOnly", Nt().TokenGroup(kAdmins, SE_GROUP_USE_FOR_DENY_ONLY), {}, 1, {kAdmins}},
      {"AdministratorsWithoutAttributes", Nt().TokenGroup(kAdmins, 0), {}, 1, {kAdmins}},
      {"ReportedSizeTooSmallFailsTheRead", Nt().TokenGroup(kAdmins, SE_GROUP_ENABLED),
          [] { tb::ReportTokenGroupsSize(tb::TokenGroupsSize() - 1); }, 0, {}},
      // A count beyond the list's size would walk past the buffer.
      {"OverstatedCountStaysInsideTheList", Nt().TokenGroup(kEveryone, 7).TokenGroup(kUsers, 7),
          [] { tb::OverstateTokenGroupCount(100000); }, 0, {kEveryone, kUsers}},
      {"OverstatedCountStillFindsARealMember", Nt().TokenGroup(kEveryone, 7).TokenGroup(kAdmins, 0),
          [] { tb::OverstateTokenGroupCount(0xFFFFFFFFu - 2); }, 1, {kEveryone, kAdmins}},
      {"Member", member, {}, 1, {kEveryone, kAdmins},
       {open, sid, size, read, "EqualSid S-1-1-0 S-1-5-32-544", "EqualSid S-1-5-32-544 S-1-5-32-544", free}},
      {"OpenFails", Nt().TokenGroup(kAdmins, 0).TokenOpenFails(), {}, 0, {}, {open}},
      {"IdentifierCannotBeBuilt", Nt().TokenGroup(kAdmins, 0).SidBuildFails(), {}, 0, {}, {open, sid}},
      {"ReportedSizeZero", Nt().TokenGroup(kAdmins, 0), [] { tb::ReportTokenGroupsSize(0); }, 0, {},
       {open, sid, size, free}},
      {"AllocationFails", Nt().TokenGroup(kAdmins, 0), [] { tb::FailGlobalAllocAt(1); }, 0, {},
       {open, sid, size, free}},
      {"LockFails", Nt().TokenGroup(kAdmins, 0), [] { tb::FailGlobalLockAt(1); }, 0, {}, {open, sid, size, free}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartWith(c.machine);
    if (c.fault) c.fault();
    EXPECT_EQ(Orrivane_IsAdministrator(), c.expected);
    std::vector<std::string> compared;
    for (const std::string& group : c.compared) compared.push_back("EqualSid " + group + " " + kAdmins);
    EXPECT_THAT(CallsStartingWith("EqualSid"), ElementsAreArray(compared));
    if (!c.calls.empty()) EXPECT_THAT(tb::SecurityCalls(), ElementsAreArray(c.calls));
    ExpectNothingOutstanding();
  }
}

// --- InstallShield_CheckACPI ----------------------------------------------

tb::MachineBuilder Devices(const std::vector<std::vector<std::string>>& ids) {
  tb::MachineBuilder machine;
  for (const auto& device : ids) machine.SystemDevice(device);
  return machine;
}

const std::string kLongId = "ACPI\\" + std::string(501, 'x') + "TAIL";  // 510 characters

// The first id of each device, upper-cased (a to z only), holds the text as
// given; the empty text is found in every id that could be read.
TEST(CheckACPI, SearchesTheUpperCasedFirstIdForTheTextAsGiven) {
  const struct { const char* name; tb::MachineBuilder machine; const char* text; int32_t expected; } cases[] = {
      {"NullTextAsksForNoDevices", Devices({{"ACPI\\PNP0C14"}}), nullptr, 0},
      {"UnavailableSet", Devices({{"ACPI\\PNP0C14"}}).SystemDevicesUnavailable(), "", 0},
      {"NoDevices", Devices({}), "", 0},
      {"EmptyTextMatchesTheFirstPresentDevice", Devices({{"ACPI\\PNP0A03"}, {"ACPI\\PNP0C14"}}), "", 1},
      {"LowerCaseFragmentOfAllLowerIdNeverMatches", Devices({{"acpi\\pnp0c14"}}), "pnp0c14", 0},
      {"FragmentLongerThanTheId", Devices({{"ACPI\\PNP"}}), "ACPI\\PNP0", 0},
      {"FragmentOnlyInALaterId", Devices({{"ACPI\\TOS6205", "*PNP0C14"}}), "PNP0C14", 0},
      {"HighByteIsNotFolded", Devices({{"ACPI\\\xE4" "BC"}}), "\xC4" "BC", 0},
      {"UpperCaseFragmentOfMixedId", Devices({{"AcPi\\PnP0c14", "*pnp0c14"}}), "ACPI\\PNP0C14", 1},
      {"OtherBytesKeptAsTheyAre", Devices({{"PCI\\ven_8086&dev_1234"}}), "VEN_8086&DEV_1234", 1},
      {"HighByteMatchesItself", Devices({{"ACPI\\\xE4" "bc"}}), "\xE4" "BC", 1},
      {"MatchInALaterDevice", Devices({{"ACPI\\PNP0A03"}, {"ACPI\\PNP0C0A"}, {"ACPI\\TOS6205"}}), "TOS62", 1},
      {"ListOfExactly512Bytes", Devices({{kLongId}}), "TAIL", 1},
      // A list longer than the buffer, or one that cannot be read, leaves
      // nothing of the device's in the buffer: not even the empty text matches.
      {"ListLongerThanTheBufferNeverMatches", Devices({{kLongId + "X"}}), "", 0},
      {"UnreadableDeviceNeverMatches", tb::MachineBuilder().SystemDevice({"ACPI\\PNP0C14"}, true), "", 0},
      {"UnreadableDevicesAreSkippedForALaterMatch",
       tb::MachineBuilder().SystemDevice({"ACPI\\PNP0C14"}, true).SystemDevice({"ACPI\\PNP0A03"}), "", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartWith(c.machine);
    EXPECT_EQ(InstallShield_CheckACPI(c.text), c.expected);
    if (c.expected)
      EXPECT_THAT(tb::DebugLines(), ElementsAre(kAmplifierFound));
    else
      EXPECT_THAT(tb::DebugLines(), IsEmpty());
    if (!c.text) EXPECT_THAT(tb::SecurityCalls(), IsEmpty());
    ExpectNothingOutstanding();
  }
}

// Without a match every device is asked for in order; a match stops the walk.
TEST(CheckACPI, WalksTheDevicesInOrderUntilAMatch) {
  StartWith(Devices({{"ACPI\\PNP0A03"}, {"ACPI\\PNP0C14"}}));
  EXPECT_EQ(InstallShield_CheckACPI("TOS6205"), 0);
  EXPECT_THAT(tb::SecurityCalls(),
              ElementsAre("SetupDiGetClassDevsA {4D36E97D-E325-11CE-BFC1-08002BE10318} flags=0x2",
                          "SetupDiEnumDeviceInfo index=0",
                          "SetupDiGetDeviceRegistryPropertyA index=0 property=1 size=512",
                          "SetupDiEnumDeviceInfo index=1",
                          "SetupDiGetDeviceRegistryPropertyA index=1 property=1 size=512",
                          "SetupDiEnumDeviceInfo index=2", "SetupDiDestroyDeviceInfoList"));
  StartWith(Devices({{"ACPI\\PNP0C14"}, {"ACPI\\PNP0C14"}}));
  EXPECT_EQ(InstallShield_CheckACPI("PNP0C14"), 1);
  EXPECT_THAT(CallsStartingWith("SetupDiEnumDeviceInfo"), ElementsAre("SetupDiEnumDeviceInfo index=0"));
  EXPECT_THAT(tb::DebugLines(), ElementsAre(kAmplifierFound));
}

}  // namespace
