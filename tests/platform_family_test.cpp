// The family the library acts on is the system's real one, whatever the
// version report says: a 9x compatibility mode on NT, or a failed version
// call, must not send it down the 9x path, which faults on NT.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "detect_helpers.h"
#include "orrivane.h"
#include "security.h"

namespace {

using testing::Contains;
using testing::Not;
using tb::Platform;

struct FamilyCase {
  const char* name;
  Platform real;
  std::optional<Platform> reported;  // empty: the real family
  bool versionCallFails;
};

void PrintTo(const FamilyCase& c, std::ostream* os) { *os << c.name; }

// A board every step of the detection finds something on, and a token
// without the Administrators group.
tb::MachineBuilder Board(const FamilyCase& c) {
  tb::MachineBuilder b;
  if (c.real == Platform::Nt) b.Nt(); else b.Win9x();
  if (c.reported) b.ReportedPlatform(*c.reported);
  b.VersionCallFails(c.versionCallFails).BiosType(2).FlashSize(0x80000).PluginBlockA({0, 1});
  tb::WriteIdentityArea(b, "ZT-BOARD ID", "X12/31/09-R104-TX4410C-00", "<TX4410C>");
  tb::WriteSmbios(b, {}, tb::SmbiosTable({tb::SmbiosBiosInformation(7), tb::SmbiosChassis(0x0D)}));
  tb::WritePirTable(b, 0xF400, {{1, 25, 0}});
  b.Pci(1, 25, 0, 0x8086, 0x10BD, 0x020000);
  b.TokenGroup("S-1-1-0", SE_GROUP_ENABLED);
  return b;
}

class PlatformFamily : public testing::TestWithParam<FamilyCase> {};

TEST_P(PlatformFamily, DetectionTakesThePathOfTheRealFamily) {
  const bool nt = GetParam().real == Platform::Nt;
  StartWith(Board(GetParam()));
  EXPECT_EQ(Orrivane_Initialize(), 1u);
  EXPECT_EQ(g_isNt, nt ? 1u : 0u);
  EXPECT_STREQ(MachineBios.idString, "ZT-BOARD ID");
  EXPECT_STREQ(MachineBios.modelName, "TX4410");
  EXPECT_EQ(MachineBios.pluginBlockA[1], 1);
  EXPECT_EQ(MachineBios.logoFlags, 5);
  EXPECT_EQ(MachineBios.onboardDevices, 1u);  // the network controller, through configuration reads
  for (const tb::Request& r : tb::DriverRequests())
    EXPECT_TRUE(tb::KnownDriverCode(r.code, nt)) << "control code " << std::hex << r.code;
  // NT maps the F segment and reaches ports through the driver; 9x reads
  // and uses them in place.
  if (nt) {
    EXPECT_THAT(MapRequests(), Contains(std::make_pair(0xF0000u, 0xFFFEu)));
    EXPECT_TRUE(tb::PortAccesses().empty());
  } else {
    EXPECT_THAT(MapRequests(), Not(Contains(std::make_pair(0xF0000u, 0xFFFEu))));
    EXPECT_FALSE(tb::PortAccesses().empty());
  }
  ExpectNothingOutstanding();  // also: no port instruction or low-memory read on NT
}

TEST_P(PlatformFamily, AdministratorCheckTakesThePathOfTheRealFamily) {
  const bool nt = GetParam().real == Platform::Nt;
  StartWith(Board(GetParam()));
  // NT looks at the token, which lacks the group; on 9x everyone may.
  EXPECT_EQ(Orrivane_IsAdministrator(), nt ? 0 : 1);
  EXPECT_EQ(tb::SecurityCalls().empty(), !nt);
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlatformFamily,
    testing::Values(FamilyCase{"Nt", Platform::Nt, {}, false},
                    FamilyCase{"NtReporting9x", Platform::Nt, Platform::Win9x, false},  // a 9x compatibility mode
                    FamilyCase{"NtFailingTheVersionCall", Platform::Nt, {}, true},
                    FamilyCase{"NtReporting9xAndFailing", Platform::Nt, Platform::Win9x, true},
                    FamilyCase{"Win9x", Platform::Win9x, {}, false}),
    [](const testing::TestParamInfo<FamilyCase>& info) { return info.param.name; });

}  // namespace
