// advapi32 token calls and setupapi device enumeration, answered from the
// simulated machine's token groups and system devices.
#include "security.h"

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>

#include "state.h"

namespace tb {
namespace {

constexpr GUID kSystemDevicesClass = {0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr DWORD kRegMultiSz = 7;
constexpr size_t kSidHeader = 8;  // revision, sub-authority count, six authority bytes
constexpr int kMaxSubAuthorities = 15;

// Handles outlive a Reset only as stale numbers: every call checks the
// state's live sets first, so a stale entry here is never consulted.
std::map<uintptr_t, DWORD> g_tokenAccess;
std::map<uintptr_t, bool> g_setIsSystemClass;
std::map<uintptr_t, std::vector<uint8_t>> g_sidBytes;
uintptr_t g_nextToken = 0x7A00;
uintptr_t g_nextSet = 0x5E700000;

void Log(const std::string& line) { S().securityCalls.push_back(line); }

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string GuidText(const GUID& g) {
  char text[48];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

size_t SidSize(const uint8_t* sid) { return kSidHeader + 4u * sid[1]; }

std::vector<uint8_t> GroupSid(const std::string& text) {
  std::vector<uint8_t> bytes;
  if (!ParseSid(text, bytes)) ParseSid("S-1-0-0", bytes);
  return bytes;
}

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

// Entries first, then each SID on a 4-byte boundary, as the system lays it out.
std::vector<uint8_t> GroupList(const Machine& m, uint32_t overstated) {
  const size_t entries = offsetof(TOKEN_GROUPS, Groups);
  size_t at = entries + m.tokenGroups.size() * sizeof(SID_AND_ATTRIBUTES);
  std::vector<std::vector<uint8_t>> sids;
  size_t size = at;
  for (const TokenGroup& g : m.tokenGroups) {
    sids.push_back(GroupSid(g.sid));
    size = Align4(size) + sids.back().size();
  }
  std::vector<uint8_t> list(size, 0);
  const DWORD count = static_cast<DWORD>(m.tokenGroups.size() + overstated);
  std::memcpy(list.data(), &count, sizeof count);
  for (size_t i = 0; i < sids.size(); ++i) {
    at = Align4(at);
    SID_AND_ATTRIBUTES entry{};
    entry.Attributes = m.tokenGroups[i].attributes;
    std::memcpy(list.data() + entries + i * sizeof entry, &entry, sizeof entry);
    std::memcpy(list.data() + at, sids[i].data(), sids[i].size());
    at += sids[i].size();
  }
  return list;
}

// The entries point into the caller's buffer once the list is copied there.
void PointEntriesAt(uint8_t* buffer, size_t groups) {
  const size_t entries = offsetof(TOKEN_GROUPS, Groups);
  size_t at = entries + groups * sizeof(SID_AND_ATTRIBUTES);
  for (size_t i = 0; i < groups; ++i) {
    at = Align4(at);
    auto* entry = reinterpret_cast<SID_AND_ATTRIBUTES*>(buffer + entries + i * sizeof(SID_AND_ATTRIBUTES));
    entry->Sid = buffer + at;
    at += SidSize(buffer + at);
  }
}

bool ParseNumber(const std::string& text, int base, uint64_t max, uint64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * base + digit;
    if (value > max) return false;
  }
  return true;
}

// The device behind an enumerated record of a live set, or null.
const SystemDevice* DeviceOf(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD* index) {
  const auto handle = reinterpret_cast<uintptr_t>(set);
  if (!S().deviceSets.count(handle) || !g_setIsSystemClass[handle]) return nullptr;
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved == 0) return nullptr;
  const auto& devices = S().machine.systemDevices;
  if (data->Reserved > devices.size()) return nullptr;
  *index = static_cast<DWORD>(data->Reserved - 1);
  return &devices[*index];
}

}  // namespace

const std::vector<std::string>& SecurityCalls() { return S().securityCalls; }
void ReportTokenGroupsSize(uint32_t bytes) { S().groupsSizeReported = bytes; }
void OverstateTokenGroupCount(uint32_t extra) { S().groupCountOverstated = extra; }
uint32_t TokenGroupsSize() { return static_cast<uint32_t>(GroupList(S().machine, 0).size()); }

bool ParseSid(const std::string& text, std::vector<uint8_t>& bytes) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t dash = text.find('-', start);
    parts.push_back(text.substr(start, dash == std::string::npos ? std::string::npos : dash - start));
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  if (parts.size() < 3 || parts.size() > 3 + kMaxSubAuthorities || parts[0] != "S") return false;
  uint64_t revision, authority;
  if (!ParseNumber(parts[1], 10, 255, revision) || revision != 1) return false;
  const std::string& a = parts[2];
  const bool hex = a.size() > 2 && a[0] == '0' && (a[1] == 'x' || a[1] == 'X');
  if (hex ? !ParseNumber(a.substr(2), 16, 0xFFFFFFFFFFFFull, authority) : !ParseNumber(a, 10, 0xFFFFFFFFull, authority))
    return false;
  bytes.assign(kSidHeader, 0);
  bytes[0] = 1;
  bytes[1] = static_cast<uint8_t>(parts.size() - 3);
  for (int i = 0; i < 6; ++i) bytes[2 + i] = static_cast<uint8_t>(authority >> (8 * (5 - i)));
  for (size_t i = 3; i < parts.size(); ++i) {
    uint64_t sub;
    if (!ParseNumber(parts[i], 10, 0xFFFFFFFFull, sub)) return false;
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<uint8_t>(sub >> (8 * b)));
  }
  return true;
}

std::string SidText(const void* sid) {
  if (!sid) return "(null)";
  const auto* p = static_cast<const uint8_t*>(sid);
  uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = authority << 8 | p[2 + i];
  char number[24];
  if (authority > 0xFFFFFFFFull)
    std::snprintf(number, sizeof number, "0x%012llX", static_cast<unsigned long long>(authority));
  else
    std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(authority));
  std::string text = "S-" + std::to_string(p[0]) + "-" + number;
  for (int i = 0; i < p[1]; ++i) {
    uint32_t sub = 0;
    std::memcpy(&sub, p + kSidHeader + 4 * i, 4);
    text += "-" + std::to_string(sub);
  }
  return text;
}

}  // namespace tb

using tb::S;

extern "C" {

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  tb::Log("OpenProcessToken access=" + tb::Hex(access));
  if (process != GetCurrentProcess() || !token || S().machine.tokenOpenFails) return FALSE;
  const uintptr_t handle = tb::g_nextToken;
  tb::g_nextToken += 4;
  S().tokens.insert(handle);
  tb::g_tokenAccess[handle] = access;
  *token = reinterpret_cast<HANDLE>(handle);
  return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1, DWORD s2,
                                     DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* sid) {
  if (!authority || !sid || count == 0 || count > 8) {
    tb::Log("AllocateAndInitializeSid refused");
    return FALSE;
  }
  const DWORD subs[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  std::vector<uint8_t> bytes(tb::kSidHeader + 4u * count, 0);
  bytes[0] = 1;
  bytes[1] = count;
  std::memcpy(bytes.data() + 2, authority->Value, 6);
  std::memcpy(bytes.data() + tb::kSidHeader, subs, 4u * count);
  tb::Log("AllocateAndInitializeSid " + tb::SidText(bytes.data()));
  if (S().machine.sidBuildFails) return FALSE;
  const auto key = reinterpret_cast<uintptr_t>(bytes.data());
  *sid = bytes.data();
  tb::g_sidBytes[key] = std::move(bytes);  // the vector's storage moves with it
  S().sids.insert(key);
  return TRUE;
}

// Success gives null, failure the identifier back.
PSID WINAPI FreeSid(PSID sid) {
  const auto key = reinterpret_cast<uintptr_t>(sid);
  if (!S().sids.count(key)) {
    tb::Log("FreeSid unknown");
    tb::Violation("FreeSid of an identifier AllocateAndInitializeSid did not give or that was freed");
    return sid;
  }
  tb::Log("FreeSid " + tb::SidText(sid));
  S().sids.erase(key);
  tb::g_sidBytes.erase(key);
  return nullptr;
}

BOOL WINAPI EqualSid(PSID a, PSID b) {
  tb::Log("EqualSid " + tb::SidText(a) + " " + tb::SidText(b));
  if (!a || !b) return FALSE;
  const auto* pa = static_cast<const uint8_t*>(a);
  const auto* pb = static_cast<const uint8_t*>(b);
  return tb::SidSize(pa) == tb::SidSize(pb) && std::memcmp(pa, pb, tb::SidSize(pa)) == 0;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID info, DWORD size,
                                PDWORD returned) {
  tb::Log("GetTokenInformation class=" + std::to_string(cls) +
          (info ? " size=" + std::to_string(size) : std::string(" no buffer")));
  const auto handle = reinterpret_cast<uintptr_t>(token);
  if (!S().tokens.count(handle)) return tb::Fail(ERROR_INVALID_HANDLE);
  if (!(tb::g_tokenAccess[handle] & TOKEN_QUERY)) return tb::Fail(ERROR_ACCESS_DENIED);
  if (cls != TokenGroups) return tb::Fail(ERROR_INVALID_PARAMETER);
  if (!returned) return tb::Fail(ERROR_NOACCESS);
  std::vector<uint8_t> list = tb::GroupList(S().machine, S().groupCountOverstated);
  const auto needed = static_cast<DWORD>(list.size());
  // Too small a buffer gets nothing written, only the size it needs.
  if (!info || size < needed) {
    *returned = info ? needed : S().groupsSizeReported.value_or(needed);
    return tb::Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (S().machine.tokenReadFails) return tb::Fail(ERROR_ACCESS_DENIED);
  std::memcpy(info, list.data(), list.size());
  tb::PointEntriesAt(static_cast<uint8_t*>(info), S().machine.tokenGroups.size());
  *returned = needed;
  return TRUE;
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* cls, LPCSTR enumerator, HWND, DWORD flags) {
  tb::Log("SetupDiGetClassDevsA " + (cls ? tb::GuidText(*cls) : std::string("(null)")) + " flags=" + tb::Hex(flags) +
          (enumerator ? std::string(" enumerator=") + enumerator : std::string()));
  // Windows answers a failure with INVALID_HANDLE_VALUE, never null.
  if (S().machine.systemDevicesUnavailable) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const uintptr_t handle = tb::g_nextSet;
  tb::g_nextSet += 0x10;
  S().deviceSets.insert(handle);
  tb::g_setIsSystemClass[handle] = cls && !enumerator && std::memcmp(cls, &tb::kSystemDevicesClass, sizeof(GUID)) == 0;
  return reinterpret_cast<HDEVINFO>(handle);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
  tb::Log("SetupDiEnumDeviceInfo index=" + std::to_string(index));
  const auto handle = reinterpret_cast<uintptr_t>(set);
  if (!S().deviceSets.count(handle)) return tb::Fail(ERROR_INVALID_HANDLE);
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) return tb::Fail(ERROR_INVALID_USER_BUFFER);
  const size_t devices = tb::g_setIsSystemClass[handle] ? S().machine.systemDevices.size() : 0;
  if (index >= devices) return tb::Fail(ERROR_NO_MORE_ITEMS);
  data->ClassGuid = tb::kSystemDevicesClass;
  data->DevInst = 0x100 + index;
  data->Reserved = index + 1;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD size, PDWORD required) {
  DWORD index = 0;
  const tb::SystemDevice* device = tb::DeviceOf(set, data, &index);
  tb::Log("SetupDiGetDeviceRegistryPropertyA index=" + (device ? std::to_string(index) : std::string("?")) +
          " property=" + std::to_string(property) + " size=" + std::to_string(size));
  if (!device) return tb::Fail(ERROR_INVALID_PARAMETER);
  if (property != SPDRP_HARDWAREID || device->readFails || device->hardwareIds.empty())
    return tb::Fail(ERROR_INVALID_DATA);
  std::vector<uint8_t> list;
  for (const std::string& id : device->hardwareIds) {
    list.insert(list.end(), id.begin(), id.end());
    list.push_back(0);
  }
  list.push_back(0);
  if (required) *required = static_cast<DWORD>(list.size());
  if (type) *type = tb::kRegMultiSz;
  // Too small a buffer gets nothing written, only the size it needs.
  if (!buffer || size < list.size()) return tb::Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, list.data(), list.size());
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  tb::Log("SetupDiDestroyDeviceInfoList");
  if (S().deviceSets.erase(reinterpret_cast<uintptr_t>(set))) return TRUE;
  tb::Violation("SetupDiDestroyDeviceInfoList of a set that is not open");
  return tb::Fail(ERROR_INVALID_HANDLE);
}

}  // extern "C"
