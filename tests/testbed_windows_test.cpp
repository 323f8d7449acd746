// The testbed's Windows fails as Windows fails: what the stand-ins write on
// failure, the sizes they report, and the misuses they record. The DLL run
// under an emulator binds its imports to these same stand-ins.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <functional>
#include <optional>
#include <vector>

#include "detect_helpers.h"
#include "security.h"

namespace {

using tb::Platform;

constexpr uint8_t kUntouched = 0xAA;
constexpr GUID kSystemDevices = {0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

HANDLE DriverOn(const tb::MachineBuilder& machine) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(OpenDriverOn(machine)));
}

const std::vector<uint8_t> kTopWindow = {0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00};  // 0xFFFFFF00, 256

// The driver's byte count on success, nothing written when a request fails;
// a request without a byte-count pointer is a broken contract.
TEST(DriverRequest, ReportsTheDriversCountAndWritesNothingWhenItFails) {
  const struct {
    const char* name; uint32_t code; std::vector<uint8_t> input; DWORD outSize; std::optional<uint32_t> biosType;
    DWORD count;  // the driver's byte count; 0 with a failure
    DWORD error;  // ERROR_SUCCESS: the request succeeds
  } cases[] = {
      {"FamilyIntoALargerBuffer", orr::kIoctlBiosType, {}, 32, 4, 4, ERROR_SUCCESS},
      {"FamilyIntoTooSmallABuffer", orr::kIoctlBiosType, {}, 3, 4, 0, ERROR_INSUFFICIENT_BUFFER},
      {"FamilyRefused", orr::kIoctlBiosType, {}, 32, std::nullopt, 0, ERROR_GEN_FAILURE},
      {"PluginBlock", orr::kIoctlPluginBlockA, {}, 32, 4, orr::kPluginBlockSize, ERROR_SUCCESS},
      {"PortWriteAnswersNoBytes", orr::kIoctlWritePort, {0xF8, 0x0C, 0, 0, 0, 0, 0, 0x80}, 0, 4, 0, ERROR_SUCCESS},
      {"MappingWithoutRoomForTheAddress", orr::kIoctlMapPhysical, kTopWindow, 2, 4, 0, ERROR_INSUFFICIENT_BUFFER},
      {"CodeOfTheOtherFamily", orr::kIoctl9xBiosType, {}, 32, 4, 0, ERROR_INVALID_FUNCTION}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tb::MachineBuilder machine;
    machine.PluginBlockA({1, 2, 3});
    if (c.biosType) machine.BiosType(*c.biosType);
    HANDLE driver = DriverOn(machine);
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
  // Real Windows writes the count through the pointer and faults without it.
  HANDLE driver = DriverOn(tb::MachineBuilder().BiosType(4));
  uint32_t type = 0;
  EXPECT_FALSE(DeviceIoControl(driver, orr::kIoctlBiosType, nullptr, 0, &type, sizeof type, nullptr, nullptr));
  EXPECT_EQ(type, 0u);
  EXPECT_NONFATAL_FAILURE(ExpectNothingOutstanding(), "DeviceIoControl without a byte-count pointer");
}

TEST(SetupApi, AnUnavailableSetIsTheInvalidHandleNeverNull) {
  StartWith(tb::MachineBuilder().SystemDevicesUnavailable());
  EXPECT_EQ(SetupDiGetClassDevsA(&kSystemDevices, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
  EXPECT_EQ(tb::OutstandingDeviceSets(), 0u);
}

HGLOBAL FreedBlock() {
  HGLOBAL block = GlobalAlloc(GHND, 16);
  EXPECT_EQ(GlobalFree(block), nullptr);
  return block;
}

// Each misuse fails as Windows fails it, with its error, and is recorded so
// that the check for nothing outstanding catches it.
TEST(ReleaseMisuse, FailsAndIsCaughtByTheOutstandingCheck) {
  const struct {
    const char* name;
    std::function<bool()> misuse;  // true when the failing call answered as Windows does
    DWORD error;
  } cases[] = {
      {"GlobalFreeTwice", [] { HGLOBAL b = FreedBlock(); return GlobalFree(b) == b; }, ERROR_INVALID_HANDLE},
      {"GlobalLockAfterFree", [] { return GlobalLock(FreedBlock()) == nullptr; }, ERROR_INVALID_HANDLE},
      // TRUE while a lock is left; FALSE with no error once none is; then refused.
      {"GlobalUnlockMoreOftenThanLocked",
       [] {
         HGLOBAL b = GlobalAlloc(GHND, 16);
         GlobalLock(b), GlobalLock(b);
         const bool balanced = GlobalUnlock(b) == TRUE && GlobalUnlock(b) == FALSE &&
                               GetLastError() == static_cast<DWORD>(NO_ERROR) && tb::ContractViolations().empty();
         const bool refused = GlobalUnlock(b) == FALSE;
         GlobalFree(b);
         return balanced && refused;
       },
       ERROR_NOT_LOCKED},
      {"TokenClosedTwice", [] { HANDLE token = nullptr; OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
                                return CloseHandle(token) == TRUE && CloseHandle(token) == FALSE; },
       ERROR_INVALID_HANDLE},
      {"DeviceSetDestroyedTwice",
       [] { HDEVINFO set = SetupDiGetClassDevsA(&kSystemDevices, nullptr, nullptr, DIGCF_PRESENT);
            return SetupDiDestroyDeviceInfoList(set) == TRUE && SetupDiDestroyDeviceInfoList(set) == FALSE; },
       ERROR_INVALID_HANDLE},
      // FreeSid answers a failure with the identifier and sets no error.
      {"IdentifierFreedTwice", [] { SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY; PSID sid = nullptr;
                                    AllocateAndInitializeSid(&nt, 1, 32, 0, 0, 0, 0, 0, 0, 0, &sid);
                                    return FreeSid(sid) == nullptr && FreeSid(sid) == sid; },
       ERROR_SUCCESS}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartWith(tb::MachineBuilder().SystemDevice({"ACPI\\PNP0C14"}));
    SetLastError(ERROR_SUCCESS);
    EXPECT_TRUE(c.misuse());
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(tb::ContractViolations().size(), 1u);
    EXPECT_NONFATAL_FAILURE(ExpectNothingOutstanding(), "contract broken");
  }
}

// What GetVersionExA answers on each family (a compatibility mode or a fault
// may change it), and ntdll.dll, mapped on NT only, exports RtlGetVersion.
TEST(FamilyAnswers, VersionReportAndNtdll) {
  const struct {
    const char* name; Platform real; std::optional<Platform> reported; bool versionCallFails;
    DWORD platformId;  // 0: the version call fails
  } cases[] = {{"Nt", Platform::Nt, {}, false, VER_PLATFORM_WIN32_NT},
               {"NtReporting9x", Platform::Nt, Platform::Win9x, false, VER_PLATFORM_WIN32_WINDOWS},
               {"NtFailingTheVersionCall", Platform::Nt, {}, true, 0},
               {"Win9x", Platform::Win9x, {}, false, VER_PLATFORM_WIN32_WINDOWS}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tb::MachineBuilder machine = MachineOn(c.real);
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
    EXPECT_EQ(ntdll ? GetProcAddress(ntdll, "RtlGetVersion") != nullptr : false, c.real == Platform::Nt);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA("kernel32"), "RtlGetVersion"), nullptr);
  }
}

}  // namespace
