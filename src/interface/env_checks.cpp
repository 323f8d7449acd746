// The two installer environment checks: may this process do administrative
// work, and is a system device present whose first hardware id holds a text.
// Neither touches the BIOS, the access driver or the identity records.
#include "orrivane.h"

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>

#include "common/byte_view.h"
#include "hwaccess/platform_family.h"

namespace {

constexpr DWORD kTokenReadAccess = READ_CONTROL | TOKEN_QUERY;  // 0x20008
static_assert(kTokenReadAccess == 0x20008);

constexpr GUID kSystemDevicesClass = {0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr DWORD kHardwareIdBufferSize = 512;
constexpr char kAmplifierFound[] = "[Tolvar] Amplifier Found !!";

#ifdef _WIN32
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
#endif

// A SID: revision, sub-authority count, six authority bytes, then four bytes
// per sub-authority.
constexpr uintptr_t kSidHeaderSize = 8;

// The system writes each group's identifier into the list behind the entries;
// one that points elsewhere or runs past the list is not handed on to EqualSid.
bool SidInsideList(const uint8_t* list, DWORD size, PSID sid) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(list);
  const uintptr_t at = reinterpret_cast<uintptr_t>(sid);
  if (size < kSidHeaderSize || at < start || at - start > size - kSidHeaderSize) return false;
  const uintptr_t rest = size - (at - start);
  const uint8_t subAuthorities = static_cast<const uint8_t*>(sid)[1];
  return kSidHeaderSize + uintptr_t{4} * subAuthorities <= rest;
}

// Membership alone counts: the attributes (enabled, deny-only) are not read.
bool ListHolds(const uint8_t* list, DWORD size, PSID wanted) {
  constexpr DWORD kEntries = offsetof(TOKEN_GROUPS, Groups);
  if (size < kEntries) return false;
  const DWORD fit = static_cast<DWORD>((size - kEntries) / sizeof(SID_AND_ATTRIBUTES));
  const DWORD stated = reinterpret_cast<const TOKEN_GROUPS*>(list)->GroupCount;
  const DWORD count = stated < fit ? stated : fit;
  const auto* groups = reinterpret_cast<const SID_AND_ATTRIBUTES*>(list + kEntries);
  for (DWORD i = 0; i < count; ++i) {
    if (SidInsideList(list, size, groups[i].Sid) && EqualSid(groups[i].Sid, wanted)) return true;
  }
  return false;
}

bool TokenListsGroup(HANDLE token, PSID wanted) {
  // Fails by design: without a buffer it only reports the size it needs.
  DWORD needed = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &needed);
  if (needed == 0) return false;

  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, needed);
  if (!block) return false;
  bool found = false;
  if (auto* list = static_cast<uint8_t*>(GlobalLock(block))) {
    DWORD written = 0;
    if (GetTokenInformation(token, TokenGroups, list, needed, &written))
      found = ListHolds(list, written < needed ? written : needed, wanted);
    GlobalUnlock(block);
  }
  GlobalFree(block);
  return found;
}

// The first string of the hardware-id list, upper-cased (a to z only) in
// place; the view never reaches past what the read delivered.
orr::ByteView FirstHardwareId(BYTE* ids, DWORD delivered) {
  const DWORD size = delivered < kHardwareIdBufferSize ? delivered : kHardwareIdBufferSize;
  const uint32_t length = orr::ByteView(ids, size).TextLength(0);
  for (uint32_t i = 0; i < length; ++i) {
    if (ids[i] >= 'a' && ids[i] <= 'z') ids[i] = static_cast<BYTE>(ids[i] - 'a' + 'A');
  }
  return orr::ByteView(ids, length);
}

// The caller's text is taken as it stands, so lower-case letters never match;
// the empty text is found in every string.
bool Holds(orr::ByteView id, const char* text) {
  const auto length = static_cast<uint32_t>(std::strlen(text));
  return length == 0 || id.FindFirst(orr::Marker{text, length}) != orr::kNotFound;
}

}  // namespace

extern "C" {

int32_t ORRIVANE_CALL Orrivane_IsAdministrator(void) {
  // On the 9x family every user may do administrative work.
  if (!orr::RunningOnNtFamily()) return 1;

  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), kTokenReadAccess, &token)) return 0;

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                0, &administrators)) {
    CloseHandle(token);
    return 0;
  }

  const int32_t result = TokenListsGroup(token, administrators) ? 1 : 0;
  FreeSid(administrators);
  CloseHandle(token);
  return result;
}

int32_t ORRIVANE_CALL InstallShield_CheckACPI(const char* hardwareIdPart) {
  if (!hardwareIdPart) return 0;
  HDEVINFO devices = SetupDiGetClassDevsA(&kSystemDevicesClass, nullptr, nullptr, DIGCF_PRESENT);
  // The system answers a failure with INVALID_HANDLE_VALUE; null is refused too.
  if (!devices || devices == INVALID_HANDLE_VALUE) return 0;

  int32_t found = 0;
  BYTE ids[kHardwareIdBufferSize];
  for (DWORD index = 0; !found; ++index) {
    SP_DEVINFO_DATA device;
    std::memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInfo(devices, index, &device)) break;

    // An unreadable id (or a list longer than the buffer) does not match; the
    // previous device's text left in the buffer is never searched again.
    DWORD delivered = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, nullptr, ids, sizeof ids,
                                           &delivered))
      continue;
    if (Holds(FirstHardwareId(ids, delivered), hardwareIdPart)) {
      OutputDebugStringA(kAmplifierFound);
      found = 1;
    }
  }
  SetupDiDestroyDeviceInfoList(devices);
  return found;
}

}  // extern "C"
