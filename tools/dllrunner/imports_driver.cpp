// The service library (ZANTBIOS.dll, ordinal 1) and the access driver
// (DeviceIoControl), bound to the testbed, and the physical memory the guest
// reads directly: the first megabyte in place, and each window the driver
// maps at the 32-bit address the driver hands out, until it is released.
// Port instructions reach the testbed's ports (Emulator::SetPorts), which on
// NT record the breach and answer as the host build's do.
#include <windows.h>

#include <cstring>
#include <vector>

#include "dll_runner.h"
#include "hex_text.h"
#include "hwaccess/contract.h"
#include "hwaccess/platform_io.h"
#include "hwaccess/service.h"
#include "imports.h"
#include "testbed.h"

namespace dllrun {
namespace {

constexpr uint32_t kLowMemoryEnd = 0x100000;

// A guest copy of at least size bytes (never a null pointer), so the testbed
// sees a buffer wherever the guest passed one.
std::vector<uint8_t> CopyIn(ImportCall& c, uint32_t address, uint32_t size) {
  std::vector<uint8_t> bytes = c.Read(address, size);
  if (bytes.empty()) bytes.resize(1);
  return bytes;
}

uint32_t Word(const std::vector<uint8_t>& bytes, uint32_t size, uint32_t index) {
  uint32_t value = 0;
  if (size >= 4 * (index + 1)) std::memcpy(&value, bytes.data() + size_t{4} * index, 4);
  return value;
}

void Unshow(DllRunner& r, uint32_t window) {
  auto it = r.State().windows.find(window);
  if (it == r.State().windows.end()) return;
  r.Memory().Unmap(window & ~(kPage - 1));
  r.State().windows.erase(it);
}

// The window's bytes at the address the driver gave, read-only.
void Show(ImportCall& c, uint32_t window, uint32_t length) {
  DllRunner& r = c.Runner();
  Unshow(r, window);  // a released address the driver hands out again
  const uint8_t* bytes = orr::WindowPointer(window);
  if (!bytes) c.Fail("the driver reported window " + std::to_string(window) + " but the testbed shows nothing there");
  const uint32_t lead = window % kPage;
  std::string error;
  uint8_t* guest = r.Memory().Map(window - lead, lead + length, kRead, "driver window " + Hex(window, 8), error);
  if (!guest) c.Fail("cannot show the driver's window: " + error);
  std::memcpy(guest + lead, bytes, length);
  r.State().windows[window] = length;
}

void DeviceIoControl_(ImportCall& c) {
  const uint32_t device = c.Arg(0), code = c.Arg(1), in = c.Arg(2), inSize = c.Arg(3);
  const uint32_t out = c.Arg(4), outSize = c.Arg(5), returnedAt = c.Arg(6), overlapped = c.Arg(7);
  if (overlapped) c.Fail("overlapped requests are not emulated");
  std::vector<uint8_t> input = in ? CopyIn(c, in, inSize) : std::vector<uint8_t>();
  std::vector<uint8_t> output = out ? CopyIn(c, out, outSize) : std::vector<uint8_t>();
  DWORD returned = returnedAt ? c.U32(returnedAt) : 0;
  const BOOL ok = DeviceIoControl(HostHandle(device), code, in ? input.data() : nullptr, inSize,
                                  out ? output.data() : nullptr, outSize, returnedAt ? &returned : nullptr, nullptr);
  if (out) c.Write(out, output.data(), outSize);
  if (returnedAt) c.PutU32(returnedAt, returned);
  if (ok && (code == orr::kIoctlMapPhysical || code == orr::kIoctl9xMapHigh) && inSize >= 8 && outSize >= 4) {
    const uint32_t window = Word(output, outSize, 0), length = Word(input, inSize, 1);
    if (window) Show(c, window, length);
  }
  if (ok && code == orr::kIoctlUnmapPhysical) Unshow(c.Runner(), Word(input, inSize, 0));
  c.Return(ok);
}

// The blocks the request names travel by handle; the guest's copies of
// locked blocks are the blocks while the service library works on them.
void BiosServiceCall_(ImportCall& c) {
  const uint32_t request = c.Arg(0), block = c.Arg(1), size = c.Arg(2), errorAt = c.Arg(5);
  std::vector<uint8_t> bytes = block ? CopyIn(c, block, size) : std::vector<uint8_t>();
  uint32_t serviceError = errorAt ? c.U32(errorAt) : 0;
  SyncBlocksToHost(c.Runner());
  const BOOL ok = BiosServiceCall(request, block ? bytes.data() : nullptr, size, c.Arg(3), c.Arg(4),
                                  errorAt ? &serviceError : nullptr);
  SyncBlocksToGuest(c.Runner());
  if (block) c.Write(block, bytes.data(), size);
  if (errorAt) c.PutU32(errorAt, serviceError);
  c.Return(ok);
}

}  // namespace

bool LowMemoryFaults(uint32_t address) {
  return address >= kPage && address < kLowMemoryEnd && tb::CurrentMachine().platform == tb::Platform::Nt;
}

// Only 9x shows the first megabyte at its linear addresses; on NT a direct
// read there is an access violation, so nothing is mapped there. (Unmapping
// rather than protecting: the emulator keeps serving pages it has read
// through after their protection changes.)
void RefreshMachineViews(DllRunner& r) {
  const bool shown = !LowMemoryFaults(kPage);
  uint8_t* guest = r.Memory().Span(kPage, kLowMemoryEnd - kPage, 0);
  if (guest && !shown) r.Memory().Unmap(kPage);
  std::string why;
  if (!guest && shown && !(guest = r.Memory().Map(kPage, kLowMemoryEnd - kPage, kRead, "low memory", why)))
    throw Fault("cannot show the first megabyte: " + why);
  for (uint32_t page = kPage; shown && page < kLowMemoryEnd; page += kPage)
    if (const uint8_t* low = orr::WindowPointer(page)) std::memcpy(guest + page - kPage, low, kPage);
  std::vector<uint32_t> gone;
  for (const auto& [window, length] : r.State().windows)
    if (!orr::WindowPointer(window)) gone.push_back(window);
  for (uint32_t window : gone) Unshow(r, window);
}

void AddDriverImports(ImportTable& t) {
  t.insert(t.end(), {
      Stdcall("KERNEL32.dll", "DeviceIoControl", 8, DeviceIoControl_),
      StdcallOrdinal("ZANTBIOS.dll", 1, 6, BiosServiceCall_),
  });
}

}  // namespace dllrun
