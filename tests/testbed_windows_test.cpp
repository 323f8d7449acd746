// The testbed's Windows fails as Windows fails: what the stand-ins write on
// failure, the sizes they report, and the misuses they record. The DLL run
// under an emulator binds its imports to these same stand-ins.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "library_state.h"
#include "machine_builder.h"
#include "security.h"

namespace {

using tb::Platform;

constexpr uint8_t kUntouched = 0xAA;
constexpr GUID kSystemDevices = {0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

HANDLE OpenDriver() {
  orr::DriverBlock block{};
  std::strcpy(block.name, orr::kDriverName);
  uint32_t serviceError = 0;
  EXPECT_TRUE(BiosServiceCall(orr::kRequestOpenDriver, &block, sizeof block, 0, 0, &serviceError));
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(block.handle));
}

struct IoCase {
  const char* name;
  uint32_t code;
  std::vector<uint8_t> input;
  DWORD outSize;
  std::optional<uint32_t> biosType;
  DWORD count;  // the driver's byte count; 0 with a failure
  DWORD error;  // ERROR_SUCCESS: the request succeeds
};

void PrintTo(const IoCase& c, std::ostream* os) { *os << c.name; }

class DriverRequest : public testing::TestWithParam<IoCase> {};

TEST_P(DriverRequest, ReportsTheDriversCountAndWritesNothingWhenItFails) {
  const IoCase& c = GetParam();
  tb::MachineBuilder machine;
  machine.PluginBlockA({1, 2, 3});
  if (c.biosType) machine.BiosType(*c.biosType);
  StartWith(machine);
  HANDLE driver = OpenDriver();
  std::vector<uint8_t> in = c.input, out(32, kUntouched);
  DWORD returned = 0x55;
  EXPECT_EQ(DeviceIoControl(driver, c.code, in.empty() ? nullptr : in.data(), static_cast<DWORD>(in.size()),
                            out.data(), c.outSize, &returned, nullptr),
            c.error == ERROR_SUCCESS ? TRUE : FALSE);
  EXPECT_EQ(returned, c.count);
  for (size_t i = c.count; i < out.size(); ++i) ASSERT_EQ(out[i], kUntouched) << "byte " << i;
  if (c.error != ERROR_SUCCESS) EXPECT_EQ(GetLastError(), c.error);
  EXPECT_EQ(tb::OutstandingMappedWindows(), 0u) << "a refused mapping still mapped";
  EXPECT_TRUE(tb::ContractViolations().empty());
}

const std::vector<uint8_t> kTopWindow = {0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00};  // 0xFFFFFF00, 256

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverRequest,
    testing::Values(
        IoCase{"FamilyIntoALargerBuffer", orr::kIoctlBiosType, {}, 32, 4, 4, ERROR_SUCCESS},
        IoCase{"FamilyIntoTooSmallABuffer", orr::kIoctlBiosType, {}, 3, 4, 0, ERROR_INSUFFICIENT_BUFFER},
        IoCase{"FamilyRefused", orr::kIoctlBiosType, {}, 32, std::nullopt, 0, ERROR_GEN_FAILURE},
        IoCase{"PluginBlock", orr::kIoctlPluginBlockA, {}, 32, 4, orr::kPluginBlockSize, ERROR_SUCCESS},
        IoCase{"PluginBlockIntoTooSmallABuffer", orr::kIoctlPluginBlockA, {}, 20, 4, 0, ERROR_INSUFFICIENT_BUFFER},
        IoCase{"PortWriteAnswersNoBytes", orr::kIoctlWritePort, {0xF8, 0x0C, 0, 0, 0, 0, 0, 0x80}, 0, 4, 0,
               ERROR_SUCCESS},
        IoCase{"MappingWithoutRoomForTheAddress", orr::kIoctlMapPhysical, kTopWindow, 2, 4, 0,
               ERROR_INSUFFICIENT_BUFFER},
        IoCase{"CodeOfTheOtherFamily", orr::kIoctl9xBiosType, {}, 32, 4, 0, ERROR_INVALID_FUNCTION}),
    [](const testing::TestParamInfo<IoCase>& info) { return info.param.name; });

// Real Windows writes the count through the pointer and faults without it.
TEST(DriverRequest, WithoutAByteCountIsRecordedAsABrokenContract) {
  StartWith(tb::MachineBuilder().BiosType(4));
  HANDLE driver = OpenDriver();
  uint32_t type = 0;
  EXPECT_FALSE(DeviceIoControl(driver, orr::kIoctlBiosType, nullptr, 0, &type, sizeof type, nullptr, nullptr));
  EXPECT_EQ(type, 0u);
  EXPECT_NONFATAL_FAILURE(ExpectNothingOutstanding(), "DeviceIoControl without a byte-count pointer");
}

// Both size queries: no buffer, then one byte short (nothing written), then
// the size asked for.
struct SizedRead {
  const char* name;
  std::function<BOOL(BYTE* buffer, DWORD size, DWORD* required)> read;
};

void PrintTo(const SizedRead& c, std::ostream* os) { *os << c.name; }

class SizeQuery : public testing::TestWithParam<SizedRead> {};

TEST_P(SizeQuery, FailsWithTheSizeItNeedsAndWritesNothingIntoTooSmallABuffer) {
  StartWith(tb::MachineBuilder().TokenGroup("S-1-5-32-544", 0).TokenGroup("S-1-1-0", 0).SystemDevice(
      {"ACPI\\PNP0C14", "*PNP0C14"}));
  DWORD needed = 0;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(GetParam().read(nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(needed, 1u);

  std::vector<BYTE> buffer(needed, kUntouched);
  DWORD required = 0;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(GetParam().read(buffer.data(), needed - 1, &required));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, needed);
  EXPECT_EQ(buffer, std::vector<BYTE>(needed, kUntouched));

  EXPECT_TRUE(GetParam().read(buffer.data(), needed, &required));
  EXPECT_NE(buffer, std::vector<BYTE>(needed, kUntouched));
}

BOOL ReadGroups(BYTE* buffer, DWORD size, DWORD* required) {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BOOL read = GetTokenInformation(token, TokenGroups, buffer, size, required);
  const DWORD error = GetLastError();
  CloseHandle(token);
  SetLastError(error);
  return read;
}

BOOL ReadHardwareIds(BYTE* buffer, DWORD size, DWORD* required) {
  HDEVINFO set = SetupDiGetClassDevsA(&kSystemDevices, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &device));
  BOOL read = SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, buffer, size, required);
  const DWORD error = GetLastError();
  SetupDiDestroyDeviceInfoList(set);
  SetLastError(error);
  return read;
}

INSTANTIATE_TEST_SUITE_P(Cases, SizeQuery,
                         testing::Values(SizedRead{"TokenGroups", ReadGroups},
                                         SizedRead{"HardwareIds", ReadHardwareIds}),
                         [](const testing::TestParamInfo<SizedRead>& info) { return info.param.name; });

TEST(SetupApi, AnUnavailableSetIsTheInvalidHandleNeverNull) {
  StartWith(tb::MachineBuilder().SystemDevicesUnavailable());
  EXPECT_EQ(SetupDiGetClassDevsA(&kSystemDevices, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
  EXPECT_EQ(tb::OutstandingDeviceSets(), 0u);
}

// Each misuse fails as Windows fails it, with its error, and is recorded so
// that the check for nothing outstanding catches it.
struct Misuse {
  const char* name;
  std::function<bool()> misuse;  // true when the failing call answered as Windows does
  DWORD error;
};

void PrintTo(const Misuse& c, std::ostream* os) { *os << c.name; }

class ReleaseMisuse : public testing::TestWithParam<Misuse> {};

TEST_P(ReleaseMisuse, FailsAndIsCaughtByTheOutstandingCheck) {
  StartWith(tb::MachineBuilder().SystemDevice({"ACPI\\PNP0C14"}));
  EXPECT_TRUE(GetParam().misuse());
  EXPECT_EQ(GetLastError(), GetParam().error);
  EXPECT_EQ(tb::ContractViolations().size(), 1u);
  EXPECT_NONFATAL_FAILURE(ExpectNothingOutstanding(), "contract broken");
}

HGLOBAL FreedBlock() {
  HGLOBAL block = GlobalAlloc(GHND, 16);
  EXPECT_EQ(GlobalFree(block), nullptr);
  return block;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReleaseMisuse,
    testing::Values(
        Misuse{"GlobalFreeTwice", [] { HGLOBAL b = FreedBlock(); return GlobalFree(b) == b; }, ERROR_INVALID_HANDLE},
        Misuse{"GlobalLockAfterFree", [] { return GlobalLock(FreedBlock()) == nullptr; }, ERROR_INVALID_HANDLE},
        Misuse{"GlobalUnlockMoreOftenThanLocked",
               [] {
                 HGLOBAL b = GlobalAlloc(GHND, 16);
                 GlobalLock(b);
                 GlobalLock(b);
                 // TRUE while a lock is left; FALSE with no error once none is.
                 const bool balanced = GlobalUnlock(b) == TRUE && GlobalUnlock(b) == FALSE &&
                                       GetLastError() == static_cast<DWORD>(NO_ERROR) &&
                                       tb::ContractViolations().empty();
                 const bool refused = GlobalUnlock(b) == FALSE;
                 GlobalFree(b);
                 return balanced && refused;
               },
               ERROR_NOT_LOCKED},
        Misuse{"TokenClosedTwice",
               [] {
                 HANDLE token = nullptr;
                 OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
                 return CloseHandle(token) == TRUE && CloseHandle(token) == FALSE;
               },
               ERROR_INVALID_HANDLE},
        Misuse{"DeviceSetDestroyedTwice",
               [] {
                 HDEVINFO set = SetupDiGetClassDevsA(&kSystemDevices, nullptr, nullptr, DIGCF_PRESENT);
                 return SetupDiDestroyDeviceInfoList(set) == TRUE && SetupDiDestroyDeviceInfoList(set) == FALSE;
               },
               ERROR_INVALID_HANDLE}),
    [](const testing::TestParamInfo<Misuse>& info) { return info.param.name; });

TEST(ReleaseMisuse, IdentifierFreedTwice) {
  StartWith(tb::MachineBuilder());
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID sid = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, 32, 0, 0, 0, 0, 0, 0, 0, &sid));
  EXPECT_EQ(FreeSid(sid), nullptr);
  EXPECT_EQ(FreeSid(sid), sid);
  EXPECT_NONFATAL_FAILURE(ExpectNothingOutstanding(), "FreeSid");
}

// What each family answers about itself: the version report (which a
// compatibility mode or a fault may change) and ntdll.dll (which neither does).
struct FamilyCase {
  const char* name;
  Platform real;
  std::optional<Platform> reported;
  bool versionCallFails;
  DWORD platformId;  // 0: the version call fails
};

void PrintTo(const FamilyCase& c, std::ostream* os) { *os << c.name; }

class FamilyAnswers : public testing::TestWithParam<FamilyCase> {};

TEST_P(FamilyAnswers, VersionReportAndNtdll) {
  const FamilyCase& c = GetParam();
  tb::MachineBuilder machine;
  if (c.real == Platform::Nt) machine.Nt(); else machine.Win9x();
  if (c.reported) machine.ReportedPlatform(*c.reported);
  StartWith(machine.VersionCallFails(c.versionCallFails));

  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  EXPECT_EQ(GetVersionExA(&version), c.platformId ? TRUE : FALSE);
  EXPECT_EQ(version.dwPlatformId, c.platformId);
  version.dwOSVersionInfoSize = sizeof version - 1;
  EXPECT_FALSE(GetVersionExA(&version));

  HMODULE ntdll = GetModuleHandleA("NTDLL.DLL");
  EXPECT_EQ(ntdll != nullptr, c.real == Platform::Nt);
  EXPECT_EQ(GetProcAddress(GetModuleHandleA("kernel32"), "RtlGetVersion"), nullptr);
  if (!ntdll) return;
  EXPECT_EQ(GetModuleHandleA("ntdll"), ntdll);
  struct {
    DWORD size, major, minor, build, platformId;
    uint16_t servicePack[128];
  } real{};
  real.size = sizeof real;
  auto rtlGetVersion = reinterpret_cast<LONG(WINAPI*)(void*)>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  ASSERT_NE(rtlGetVersion, nullptr);
  EXPECT_EQ(rtlGetVersion(&real), 0);
  EXPECT_EQ(real.platformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FamilyAnswers,
    testing::Values(FamilyCase{"Nt", Platform::Nt, {}, false, VER_PLATFORM_WIN32_NT},
                    FamilyCase{"NtReporting9x", Platform::Nt, Platform::Win9x, false, VER_PLATFORM_WIN32_WINDOWS},
                    FamilyCase{"NtFailingTheVersionCall", Platform::Nt, {}, true, 0},
                    FamilyCase{"Win9x", Platform::Win9x, {}, false, VER_PLATFORM_WIN32_WINDOWS}),
    [](const testing::TestParamInfo<FamilyCase>& info) { return info.param.name; });

}  // namespace
