// kernel32 functions that only the MinGW start-up code and static runtime
// call: the runner answers them itself for its one process with one thread.
// Critical sections, TLS slots and semaphores work as on Windows for a
// single thread; a wait that only another thread could end stops the run.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "dll_runner.h"
#include "imports.h"

namespace dllrun {
namespace {

constexpr uint32_t kErrorInvalidHandle = 6, kErrorInvalidParameter = 87, kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorTooManyPosts = 298, kErrorBadLength = 24;
constexpr uint32_t kTlsOutOfIndexes = 0xFFFFFFFF;
constexpr uint32_t kWaitObject0 = 0, kWaitTimeout = 0x102, kInfinite = 0xFFFFFFFF;
constexpr uint32_t kCriticalSectionSize = 24;
constexpr uint32_t kMemoryInfoSize = 28;
constexpr uint32_t kMemCommit = 0x1000, kMemFree = 0x10000, kMemImage = 0x1000000, kMemPrivate = 0x20000;
constexpr uint32_t kCpAcp = 0, kCp1252 = 1252;

// The thread's one last error is the testbed's, which the library's calls set too.
void SetLastError(ImportCall&, uint32_t error) { ::SetLastError(error); }

void GetCurrentThreadId_(ImportCall& c) { c.Return(kThreadId); }
void Sleep_(ImportCall&) {}  // one thread: nothing else can happen meanwhile

// CRITICAL_SECTION: DebugInfo, LockCount, RecursionCount, OwningThread, LockSemaphore, SpinCount.
struct CriticalSection {
  uint32_t debugInfo;
  int32_t lockCount;
  int32_t recursion;
  uint32_t owner;
  uint32_t semaphore;
  uint32_t spinCount;
};
static_assert(sizeof(CriticalSection) == kCriticalSectionSize);

CriticalSection ReadSection(ImportCall& c, uint32_t at) {
  CriticalSection cs;
  std::memcpy(&cs, c.Read(at, sizeof cs).data(), sizeof cs);
  return cs;
}

void InitializeCriticalSection_(ImportCall& c) {
  const CriticalSection cs{0, -1, 0, 0, 0, 0};
  c.Write(c.Arg(0), &cs, sizeof cs);
}

void EnterCriticalSection_(ImportCall& c) {
  CriticalSection cs = ReadSection(c, c.Arg(0));
  if (cs.owner != 0 && cs.owner != kThreadId) c.Fail("the critical section is held by a thread that does not exist");
  ++cs.recursion;
  ++cs.lockCount;
  cs.owner = kThreadId;
  c.Write(c.Arg(0), &cs, sizeof cs);
}

void LeaveCriticalSection_(ImportCall& c) {
  CriticalSection cs = ReadSection(c, c.Arg(0));
  if (cs.owner != kThreadId || cs.recursion <= 0) c.Fail("leaves a critical section the thread does not hold");
  --cs.lockCount;
  if (--cs.recursion == 0) cs.owner = 0;
  c.Write(c.Arg(0), &cs, sizeof cs);
}

void DeleteCriticalSection_(ImportCall& c) {
  const CriticalSection cs{};
  c.Write(c.Arg(0), &cs, sizeof cs);
}

uint32_t SlotAddress(ImportCall& c, uint32_t index) { return c.Runner().Cpu().Teb() + kTebTlsSlots + 4 * index; }

void TlsAlloc_(ImportCall& c) {
  auto& used = c.Runner().State().tlsIndexes;
  for (uint32_t i = 0; i < kTlsSlotCount; ++i) {
    if (used.count(i)) continue;
    used.insert(i);
    c.PutU32(SlotAddress(c, i), 0);
    return c.Return(i);
  }
  c.Return(kTlsOutOfIndexes);
}

void TlsFree_(ImportCall& c) {
  if (c.Runner().State().tlsIndexes.erase(c.Arg(0))) return c.Return(1);
  SetLastError(c, kErrorInvalidParameter);
  c.Return(0);
}

void TlsGetValue_(ImportCall& c) {
  const uint32_t index = c.Arg(0);
  if (index >= kTlsSlotCount) {
    SetLastError(c, kErrorInvalidParameter);
    return c.Return(0);
  }
  SetLastError(c, 0);
  c.Return(c.U32(SlotAddress(c, index)));
}

void TlsSetValue_(ImportCall& c) {
  const uint32_t index = c.Arg(0);
  if (index >= kTlsSlotCount) {
    SetLastError(c, kErrorInvalidParameter);
    return c.Return(0);
  }
  c.PutU32(SlotAddress(c, index), c.Arg(1));
  c.Return(1);
}

void CreateSemaphoreW_(ImportCall& c) {
  const auto initial = c.SignedArg(1), maximum = c.SignedArg(2);
  if (c.Arg(3)) c.Fail("named semaphores are not emulated");
  if (maximum <= 0 || initial < 0 || initial > maximum) {
    SetLastError(c, kErrorInvalidParameter);
    return c.Return(0);
  }
  RuntimeState& s = c.Runner().State();
  const uint32_t handle = s.nextHandle;
  s.nextHandle += 4;
  s.semaphores[handle] = Semaphore{initial, maximum};
  c.Return(handle);
}

void ReleaseSemaphore_(ImportCall& c) {
  auto& semaphores = c.Runner().State().semaphores;
  auto it = semaphores.find(c.Arg(0));
  if (it == semaphores.end()) {
    SetLastError(c, kErrorInvalidHandle);
    return c.Return(0);
  }
  const int32_t add = c.SignedArg(1);
  if (add <= 0 || add > it->second.maximum - it->second.count) {
    SetLastError(c, kErrorTooManyPosts);
    return c.Return(0);
  }
  if (c.Arg(2)) c.PutU32(c.Arg(2), static_cast<uint32_t>(it->second.count));
  it->second.count += add;
  c.Return(1);
}

void WaitForSingleObject_(ImportCall& c) {
  auto& semaphores = c.Runner().State().semaphores;
  auto it = semaphores.find(c.Arg(0));
  if (it == semaphores.end()) c.Fail("waits on a handle that is not one of the runner's semaphores");
  if (it->second.count > 0) {
    --it->second.count;
    return c.Return(kWaitObject0);
  }
  if (c.Arg(1) == kInfinite) c.Fail("waits forever on a semaphore that no other thread exists to release");
  c.Return(kWaitTimeout);
}

// PAGE_* values and the emulator's protection bits.
uint32_t PageProtection(uint32_t prot) {
  if (prot == 0) return 0x01;  // PAGE_NOACCESS
  if (prot & kExec) return prot & kWrite ? 0x40 : 0x20;
  return prot & kWrite ? 0x04 : 0x02;
}

bool FromPageProtection(uint32_t page, uint32_t& prot) {
  switch (page & 0xFF) {
    case 0x01: prot = 0; return true;
    case 0x02: prot = kRead; return true;
    case 0x04: case 0x08: prot = kRead | kWrite; return true;
    case 0x10: prot = kExec; return true;
    case 0x20: prot = kRead | kExec; return true;
    case 0x40: case 0x80: prot = kRead | kWrite | kExec; return true;
  }
  return false;
}

// MEMORY_BASIC_INFORMATION for the run of pages with the same protection.
void VirtualQuery_(ImportCall& c) {
  const uint32_t address = c.Arg(0), out = c.Arg(1), length = c.Arg(2);
  if (length < kMemoryInfoSize) {
    SetLastError(c, kErrorBadLength);
    return c.Return(0);
  }
  GuestMemory& memory = c.Memory();
  const uint32_t page = address & ~(kPage - 1);
  uint32_t info[7] = {page, 0, 0, 0, kMemFree, 0x01, 0};
  if (const GuestMemory::Mapping* m = memory.Find(page)) {
    const uint32_t prot = memory.ProtectionAt(page);
    uint32_t end = page;
    while (end - m->start < m->size && memory.ProtectionAt(end) == prot) end += kPage;
    const bool image = c.Runner().Base() == m->start;
    info[1] = m->start;
    info[2] = image ? 0x80 : 0x04;  // PAGE_EXECUTE_WRITECOPY for an image, PAGE_READWRITE otherwise
    info[3] = end - page;
    info[4] = kMemCommit;
    info[5] = PageProtection(prot);
    info[6] = image ? kMemImage : kMemPrivate;
  } else {
    uint32_t end = page;
    while (end != 0 && !memory.Find(end)) end += kPage;
    info[3] = end - page;
  }
  c.Write(out, info, sizeof info);
  c.Return(kMemoryInfoSize);
}

void VirtualProtect_(ImportCall& c) {
  const uint32_t address = c.Arg(0), size = c.Arg(1), page = c.Arg(2), oldAt = c.Arg(3);
  uint32_t prot = 0;
  if (!FromPageProtection(page, prot)) c.Fail("protection " + std::to_string(page) + " is not emulated");
  const uint32_t first = address & ~(kPage - 1);
  const uint32_t old = PageProtection(c.Memory().ProtectionAt(first));
  if (size == 0 || !c.Memory().Protect(first, address - first + size, prot)) {
    SetLastError(c, kErrorInvalidParameter);
    return c.Return(0);
  }
  if (oldAt) c.PutU32(oldAt, old);
  c.Return(1);
}

// The ANSI code page is 1252; bytes 0x80 to 0x9F are its own, the rest Latin-1.
constexpr uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint16_t WideOf(uint8_t byte) { return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte; }

int ByteOf(uint16_t wide) {
  if (wide < 0x80 || (wide >= 0xA0 && wide <= 0xFF)) return wide;
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == wide) return 0x80 + i;
  return -1;
}

void CheckCodePage(ImportCall& c, uint32_t cp) {
  if (cp != kCpAcp && cp != kCp1252)
    c.Fail("code page " + std::to_string(cp) + " is not emulated (only 1252, the ANSI one)");
}

void MultiByteToWideChar_(ImportCall& c) {
  CheckCodePage(c, c.Arg(0));
  const uint32_t src = c.Arg(2), dst = c.Arg(4), room = c.Arg(5);
  const int32_t length = c.SignedArg(3);
  std::string bytes = length < 0 ? c.Text(src) + std::string(1, '\0') : [&] {
    const std::vector<uint8_t> raw = c.Read(src, static_cast<uint32_t>(length));
    return std::string(raw.begin(), raw.end());
  }();
  if (bytes.empty()) {
    SetLastError(c, kErrorInvalidParameter);
    return c.Return(0);
  }
  const auto count = static_cast<uint32_t>(bytes.size());
  if (room == 0) return c.Return(count);
  if (room < count) {
    SetLastError(c, kErrorInsufficientBuffer);
    return c.Return(0);
  }
  std::vector<uint8_t> out;
  for (unsigned char b : bytes) {
    const uint16_t w = WideOf(b);
    out.push_back(static_cast<uint8_t>(w));
    out.push_back(static_cast<uint8_t>(w >> 8));
  }
  c.Write(dst, out.data(), static_cast<uint32_t>(out.size()));
  c.Return(count);
}

void WideCharToMultiByte_(ImportCall& c) {
  CheckCodePage(c, c.Arg(0));
  const uint32_t src = c.Arg(2), dst = c.Arg(4), room = c.Arg(5), defaultAt = c.Arg(6), usedAt = c.Arg(7);
  const int32_t length = c.SignedArg(3);
  std::vector<uint16_t> wide;
  for (uint32_t at = src;; at += 2) {
    if (length >= 0 && wide.size() == static_cast<size_t>(length)) break;
    const std::vector<uint8_t> unit = c.Read(at, 2);
    wide.push_back(static_cast<uint16_t>(unit[0] | unit[1] << 8));
    if (length < 0 && wide.back() == 0) break;
    if (wide.size() > 0x100000) c.Fail("wide text has no end");
  }
  if (wide.empty()) {
    SetLastError(c, kErrorInvalidParameter);
    return c.Return(0);
  }
  const char fallback = defaultAt ? static_cast<char>(c.Read(defaultAt, 1)[0]) : '?';
  std::string out;
  bool usedDefault = false;
  for (uint16_t w : wide) {
    const int b = ByteOf(w);
    usedDefault = usedDefault || b < 0;
    out.push_back(b < 0 ? fallback : static_cast<char>(b));
  }
  if (usedAt) c.PutU32(usedAt, usedDefault ? 1 : 0);
  if (room == 0) return c.Return(static_cast<uint32_t>(out.size()));
  if (room < out.size()) {
    SetLastError(c, kErrorInsufficientBuffer);
    return c.Return(0);
  }
  c.Write(dst, out.data(), static_cast<uint32_t>(out.size()));
  c.Return(static_cast<uint32_t>(out.size()));
}

void IsDBCSLeadByteEx_(ImportCall& c) {
  CheckCodePage(c, c.Arg(0));
  c.Return(0);  // 1252 is a single-byte code page
}

}  // namespace

void AddProcessImports(ImportTable& t) {
  t.insert(t.end(), {
      Stdcall("KERNEL32.dll", "GetCurrentThreadId", 0, GetCurrentThreadId_),
      Stdcall("KERNEL32.dll", "Sleep", 1, Sleep_),
      Stdcall("KERNEL32.dll", "InitializeCriticalSection", 1, InitializeCriticalSection_),
      Stdcall("KERNEL32.dll", "EnterCriticalSection", 1, EnterCriticalSection_),
      Stdcall("KERNEL32.dll", "LeaveCriticalSection", 1, LeaveCriticalSection_),
      Stdcall("KERNEL32.dll", "DeleteCriticalSection", 1, DeleteCriticalSection_),
      Stdcall("KERNEL32.dll", "TlsAlloc", 0, TlsAlloc_),
      Stdcall("KERNEL32.dll", "TlsFree", 1, TlsFree_),
      Stdcall("KERNEL32.dll", "TlsGetValue", 1, TlsGetValue_),
      Stdcall("KERNEL32.dll", "TlsSetValue", 2, TlsSetValue_),
      Stdcall("KERNEL32.dll", "CreateSemaphoreW", 4, CreateSemaphoreW_),
      Stdcall("KERNEL32.dll", "ReleaseSemaphore", 3, ReleaseSemaphore_),
      Stdcall("KERNEL32.dll", "WaitForSingleObject", 2, WaitForSingleObject_),
      Stdcall("KERNEL32.dll", "VirtualQuery", 3, VirtualQuery_),
      Stdcall("KERNEL32.dll", "VirtualProtect", 4, VirtualProtect_),
      Stdcall("KERNEL32.dll", "MultiByteToWideChar", 6, MultiByteToWideChar_),
      Stdcall("KERNEL32.dll", "WideCharToMultiByte", 8, WideCharToMultiByte_),
      Stdcall("KERNEL32.dll", "IsDBCSLeadByteEx", 2, IsDBCSLeadByteEx_),
  });
}

}  // namespace dllrun
