// advapi32's token and SID functions and setupapi's device enumeration,
// bound to the testbed. The records that hold pointers or pointer-sized
// fields differ between the 32-bit guest and the 64-bit host, so they are
// converted on the way: TOKEN_GROUPS and SP_DEVINFO_DATA. As under WOW64,
// sizes the guest passes and is told are the host's: the 32-bit list is
// never larger than the 64-bit one, so a buffer the size query asked for
// holds it.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "dll_runner.h"
#include "imports.h"

namespace dllrun {
namespace {

constexpr uint32_t kSidHeader = 8;  // revision, sub-authority count, six authority bytes
constexpr uint32_t kGuestGroupEntry = 8;  // SID pointer and attributes
constexpr uint32_t kGuestDevInfoSize = 28;
constexpr uint32_t kGuidSize = 16;
static_assert(sizeof(GUID) == kGuidSize);

uint32_t Align4(uint32_t n) { return (n + 3) & ~3u; }

// The testbed's SID for a guest one: a SID this runner handed out, or a copy
// of the guest's bytes (kept alive in keep).
PSID HostSid(ImportCall& c, uint32_t sid, std::vector<uint8_t>& keep) {
  if (!sid) return nullptr;
  auto it = c.Runner().State().sids.find(sid);
  if (it != c.Runner().State().sids.end()) return it->second;
  keep = c.Read(sid, kSidHeader);
  const std::vector<uint8_t> subs = c.Read(sid + kSidHeader, 4u * keep[1]);
  keep.insert(keep.end(), subs.begin(), subs.end());
  return keep.data();
}

void OpenProcessToken_(ImportCall& c) {
  const uint32_t tokenAt = c.Arg(2);
  HANDLE token = nullptr;
  const BOOL ok = OpenProcessToken(HostHandle(c.Arg(0)), c.Arg(1), tokenAt ? &token : nullptr);
  if (ok && tokenAt) c.PutU32(tokenAt, GuestHandle(c, token));
  c.Return(ok);
}

void AllocateAndInitializeSid_(ImportCall& c) {
  const uint32_t authorityAt = c.Arg(0), sidAt = c.Arg(10);
  SID_IDENTIFIER_AUTHORITY authority{};
  if (authorityAt) std::memcpy(authority.Value, c.Read(authorityAt, 6).data(), 6);
  PSID sid = nullptr;
  const BOOL ok = AllocateAndInitializeSid(authorityAt ? &authority : nullptr, static_cast<BYTE>(c.Arg(1)), c.Arg(2),
                                           c.Arg(3), c.Arg(4), c.Arg(5), c.Arg(6), c.Arg(7), c.Arg(8), c.Arg(9),
                                           sidAt ? &sid : nullptr);
  if (ok && sidAt) {
    const auto* bytes = static_cast<const uint8_t*>(sid);
    const uint32_t size = kSidHeader + 4u * bytes[1];
    const uint32_t guest = c.Runner().Heap().Allocate(size);
    if (!guest) c.Fail("no guest memory for the SID");
    c.Write(guest, bytes, size);
    c.Runner().State().sids[guest] = sid;
    c.PutU32(sidAt, guest);
  }
  c.Return(ok);
}

void FreeSid_(ImportCall& c) {
  const uint32_t sid = c.Arg(0);
  auto& sids = c.Runner().State().sids;
  auto it = sids.find(sid);
  if (it == sids.end()) {
    static const uint8_t kUnknown = 0;  // a SID the testbed never handed out
    FreeSid(const_cast<uint8_t*>(&kUnknown));
    return c.Return(sid);
  }
  if (FreeSid(it->second)) return c.Return(sid);
  sids.erase(it);
  c.Runner().Heap().Free(sid);
  c.Return(0);
}

void EqualSid_(ImportCall& c) {
  std::vector<uint8_t> a, b;
  PSID hostA = HostSid(c, c.Arg(0), a);
  PSID hostB = HostSid(c, c.Arg(1), b);
  c.Return(EqualSid(hostA, hostB));
}

// The host's TOKEN_GROUPS in the guest's layout: the count, 8-byte entries,
// then each SID on a 4-byte boundary. Entries are taken while their SID lies
// inside the list, as a count that states more groups than the list holds
// leaves the rest unusable on both sides.
std::vector<uint8_t> GuestGroups(const uint8_t* list, uint32_t size, uint32_t guestAddress) {
  const uint32_t entries = offsetof(TOKEN_GROUPS, Groups);
  uint32_t stated = 0;
  std::memcpy(&stated, list, 4);
  std::vector<std::pair<const uint8_t*, DWORD>> groups;
  for (uint32_t i = 0; i < stated && entries + (i + 1) * sizeof(SID_AND_ATTRIBUTES) <= size; ++i) {
    SID_AND_ATTRIBUTES g;
    std::memcpy(&g, list + entries + size_t{i} * sizeof g, sizeof g);
    const auto* sid = static_cast<const uint8_t*>(g.Sid);
    if (sid < list || sid + kSidHeader > list + size || sid + kSidHeader + size_t{4} * sid[1] > list + size) break;
    groups.emplace_back(sid, g.Attributes);
  }
  std::vector<uint8_t> out(4 + kGuestGroupEntry * groups.size(), 0);
  std::memcpy(out.data(), &stated, 4);
  for (size_t i = 0; i < groups.size(); ++i) {
    const uint32_t sidSize = kSidHeader + 4u * groups[i].first[1];
    out.resize(Align4(static_cast<uint32_t>(out.size())));
    const uint32_t at = guestAddress + static_cast<uint32_t>(out.size());
    out.insert(out.end(), groups[i].first, groups[i].first + sidSize);
    std::memcpy(out.data() + 4 + kGuestGroupEntry * i, &at, 4);
    std::memcpy(out.data() + 8 + kGuestGroupEntry * i, &groups[i].second, 4);
  }
  return out;
}

void GetTokenInformation_(ImportCall& c) {
  const uint32_t cls = c.Arg(1), info = c.Arg(2), size = c.Arg(3), returnedAt = c.Arg(4);
  std::vector<uint8_t> host(info ? (size ? size : 1) : 0);
  DWORD returned = returnedAt ? c.U32(returnedAt) : 0;
  const BOOL ok = GetTokenInformation(HostHandle(c.Arg(0)), static_cast<TOKEN_INFORMATION_CLASS>(cls),
                                      info ? host.data() : nullptr, size, returnedAt ? &returned : nullptr);
  if (ok && info) {
    if (cls != TokenGroups) c.Fail("token information class " + std::to_string(cls) + " is not converted");
    const std::vector<uint8_t> guest = GuestGroups(host.data(), std::min<uint32_t>(returned, size), info);
    if (guest.size() > size) c.Fail("the 32-bit group list does not fit the buffer");
    c.Write(info, guest.data(), static_cast<uint32_t>(guest.size()));
    returned = static_cast<DWORD>(guest.size());
  }
  if (returnedAt) c.PutU32(returnedAt, returned);
  c.Return(ok);
}

// SP_DEVINFO_DATA: 28 bytes on the guest (cbSize 28), 32 on the host.
struct DevInfo {
  SP_DEVINFO_DATA host{};
  uint32_t guestSize = 0;
};

DevInfo DevInfoIn(ImportCall& c, uint32_t at) {
  DevInfo d;
  const std::vector<uint8_t> g = c.Read(at, kGuestDevInfoSize);
  std::memcpy(&d.guestSize, g.data(), 4);
  d.host.cbSize = d.guestSize == kGuestDevInfoSize ? sizeof(SP_DEVINFO_DATA) : 0;
  std::memcpy(&d.host.ClassGuid, g.data() + 4, kGuidSize);
  std::memcpy(&d.host.DevInst, g.data() + 20, 4);
  uint32_t reserved;
  std::memcpy(&reserved, g.data() + 24, 4);
  d.host.Reserved = reserved;
  return d;
}

void DevInfoOut(ImportCall& c, uint32_t at, const DevInfo& d) {
  uint8_t g[kGuestDevInfoSize];
  if (d.host.Reserved > 0xFFFFFFFFu) c.Fail("the device record's reserved field does not fit in 32 bits");
  const auto reserved = static_cast<uint32_t>(d.host.Reserved);
  std::memcpy(g, &d.guestSize, 4);
  std::memcpy(g + 4, &d.host.ClassGuid, kGuidSize);
  std::memcpy(g + 20, &d.host.DevInst, 4);
  std::memcpy(g + 24, &reserved, 4);
  c.Write(at, g, sizeof g);
}

void SetupDiGetClassDevsA_(ImportCall& c) {
  const uint32_t classAt = c.Arg(0), enumeratorAt = c.Arg(1);
  GUID cls{};
  if (classAt) std::memcpy(&cls, c.Read(classAt, kGuidSize).data(), kGuidSize);
  std::string enumerator;
  if (enumeratorAt) enumerator = c.Text(enumeratorAt);
  HDEVINFO set = SetupDiGetClassDevsA(classAt ? &cls : nullptr, enumeratorAt ? enumerator.c_str() : nullptr,
                                      HostHandle(c.Arg(2)), c.Arg(3));
  c.Return(GuestHandle(c, set));
}

void SetupDiEnumDeviceInfo_(ImportCall& c) {
  const uint32_t at = c.Arg(2);
  DevInfo d;
  if (at) d = DevInfoIn(c, at);
  const BOOL ok = SetupDiEnumDeviceInfo(HostHandle(c.Arg(0)), c.Arg(1), at ? &d.host : nullptr);
  if (at) DevInfoOut(c, at, d);
  c.Return(ok);
}

void SetupDiGetDeviceRegistryPropertyA_(ImportCall& c) {
  const uint32_t dataAt = c.Arg(1), typeAt = c.Arg(3), bufferAt = c.Arg(4), size = c.Arg(5), requiredAt = c.Arg(6);
  DevInfo d;
  if (dataAt) d = DevInfoIn(c, dataAt);
  std::vector<uint8_t> buffer = bufferAt ? c.Read(bufferAt, size) : std::vector<uint8_t>();
  if (bufferAt && buffer.empty()) buffer.resize(1);
  DWORD type = typeAt ? c.U32(typeAt) : 0, required = requiredAt ? c.U32(requiredAt) : 0;
  const BOOL ok = SetupDiGetDeviceRegistryPropertyA(HostHandle(c.Arg(0)), dataAt ? &d.host : nullptr, c.Arg(2),
                                                    typeAt ? &type : nullptr, bufferAt ? buffer.data() : nullptr,
                                                    size, requiredAt ? &required : nullptr);
  if (bufferAt) c.Write(bufferAt, buffer.data(), size);
  if (typeAt) c.PutU32(typeAt, type);
  if (requiredAt) c.PutU32(requiredAt, required);
  c.Return(ok);
}

void SetupDiDestroyDeviceInfoList_(ImportCall& c) { c.Return(SetupDiDestroyDeviceInfoList(HostHandle(c.Arg(0)))); }

}  // namespace

void AddSecurityImports(ImportTable& t) {
  t.insert(t.end(), {
      Stdcall("ADVAPI32.dll", "OpenProcessToken", 3, OpenProcessToken_),
      Stdcall("ADVAPI32.dll", "AllocateAndInitializeSid", 11, AllocateAndInitializeSid_),
      Stdcall("ADVAPI32.dll", "FreeSid", 1, FreeSid_),
      Stdcall("ADVAPI32.dll", "EqualSid", 2, EqualSid_),
      Stdcall("ADVAPI32.dll", "GetTokenInformation", 5, GetTokenInformation_),
      Stdcall("SETUPAPI.dll", "SetupDiGetClassDevsA", 4, SetupDiGetClassDevsA_),
      Stdcall("SETUPAPI.dll", "SetupDiEnumDeviceInfo", 3, SetupDiEnumDeviceInfo_),
      Stdcall("SETUPAPI.dll", "SetupDiGetDeviceRegistryPropertyA", 7, SetupDiGetDeviceRegistryPropertyA_),
      Stdcall("SETUPAPI.dll", "SetupDiDestroyDeviceInfoList", 1, SetupDiDestroyDeviceInfoList_),
  });
}

}  // namespace dllrun
