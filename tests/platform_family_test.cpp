// Which path a detection takes. The family the library acts on is the
// system's real one, whatever the version report says: a 9x compatibility
// mode on NT, or a failed version call, must not send it down the 9x path,
// which faults on NT. The BIOS type then picks the steps.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "detect_helpers.h"
#include "orrivane.h"
#include "security.h"

namespace {

using testing::Contains;
using tb::Platform;

// A board every step finds something on, and a token without the
// Administrators group: NT looks at the token, on 9x everyone may. Every
// path scans the SMBIOS table; family 0 looks for the firmware tag only,
// family 4 skips the identity area and plug-in blocks, only family 5 reads
// the ROM description. NT maps the F segment and reaches ports through the
// driver; 9x uses them in place. The device bits an earlier run left stay.
TEST(PlatformFamily, EachFamilyAndBiosTypeRunsItsSteps) {
  const auto Nt = Platform::Nt, Win9x = Platform::Win9x;
  const struct {
    const char* name; Platform real; std::optional<Platform> reported; bool versionCallFails; uint32_t biosType;
    const char* model;
  } cases[] = {
      {"Nt0", Nt, {}, false, 0, "EARLIER"},     {"Nt4", Nt, {}, false, 4, "EARLIER"},
      {"Nt2", Nt, {}, false, 2, "TX4410"},      {"Nt3", Nt, {}, false, 3, "TX4410C"},
      {"Nt5", Nt, {}, false, 5, "TX4410"},      {"NtReporting9x", Nt, Win9x, false, 2, "TX4410"},  // compatibility mode
      {"NtFailingTheVersionCall", Nt, {}, true, 2, "TX4410"}, {"NtReporting9xAndFailing", Nt, Win9x, true, 2, "TX4410"},
      {"Win9x0", Win9x, {}, false, 0, "EARLIER"}, {"Win9x4", Win9x, {}, false, 4, "EARLIER"},
      {"Win9x2", Win9x, {}, false, 2, "TX4410"},  {"Win9x7", Win9x, {}, false, 7, "TX4410C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool nt = c.real == Nt, area = c.biosType != 0 && c.biosType != 4, flash = c.biosType != 0;
    tb::MachineBuilder b = FullBoard(c.real, c.biosType);
    if (c.reported) b.ReportedPlatform(*c.reported);
    tb::WriteRomDescription(b, 0x4000, 0x4100, "Award board");
    b.Text(0xFFF80000u + 0x100, "$ZTEXFIRM").VersionCallFails(c.versionCallFails);
    StartWith(b.TokenGroup("S-1-1-0", SE_GROUP_ENABLED));
    EXPECT_EQ(Orrivane_IsAdministrator(), nt ? 0 : 1);  // before any detection set the family flag
    EXPECT_EQ(tb::SecurityCalls().empty(), !nt);
    LeaveEarlierValues();
    EXPECT_EQ(Orrivane_Initialize(), 1u);
    EXPECT_EQ(g_isNt, nt ? 1u : 0u);
    EXPECT_EQ(MachineBios.biosType, c.biosType);
    EXPECT_TRUE(tb::MessageBoxes().empty());
    EXPECT_EQ(MachineBios.logoFlags, 5);
    EXPECT_EQ(MachineBios.onboardLan, 1u);
    EXPECT_EQ(MachineBios.onboardDevices, (flash ? 0x101u : 0x100u));  // the NIC, through configuration reads
    const auto& service = tb::ServiceRequests();
    ASSERT_EQ(service.size(), flash ? 3u : 2u);
    EXPECT_EQ(service.front().code, orr::kRequestOpenDriver);
    EXPECT_EQ(service.back().code, orr::kRequestFreeDriver);
    EXPECT_EQ(MachineBios.flashSize, flash ? 0x80000u : 1234u);
    EXPECT_EQ(CountDriverRequests(nt ? orr::kIoctlPluginBlockA : orr::kIoctl9xPluginBlockA), area);
    EXPECT_EQ(CountDriverRequests(nt ? orr::kIoctlPluginBlockB : orr::kIoctl9xPluginBlockB), area);
    EXPECT_EQ(MachineBios.pluginBlockA[4] | MachineBios.pluginBlockB[2] << 8, area ? 0x201 : 0xEE);  // each its own
    EXPECT_STREQ(MachineBios.idString, area ? "ZT-BOARD ID" : "earlier id");
    EXPECT_STREQ(MachineBios.modelName, c.model);
    EXPECT_STREQ(MachineBios.versionText, area ? "R104" : "");
    EXPECT_STREQ(MachineBios.descriptionText, c.biosType == 5 ? "Award board" : "earlier");
    EXPECT_EQ(MachineBios.firmwareTagFound, c.biosType == 0 ? 1u : 0u);
    for (const tb::Request& r : tb::DriverRequests())
      EXPECT_TRUE(tb::KnownDriverCode(r.code, nt)) << "control code " << std::hex << r.code;
    EXPECT_EQ(testing::Value(MapRequests(), Contains(std::make_pair(0xF0000u, 0xFFFEu))), nt);
    if (c.biosType != 0) EXPECT_EQ(tb::PortAccesses().empty(), nt);
    ExpectNothingOutstanding();  // also: no port instruction or low-memory read on NT
  }
}

}  // namespace
