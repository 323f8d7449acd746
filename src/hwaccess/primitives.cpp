#include "hwaccess/primitives.h"

#include <windows.h>

#include "hwaccess/contract.h"
#include "hwaccess/platform_io.h"
#include "state/module_state.h"

namespace orr {
namespace {

HANDLE AsHandle(uint32_t driver) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(driver)); }

// A window that runs past the end of the 32-bit physical address space has
// no defined answer from a driver, so none is asked for; it may end at
// 4 GiB exactly.
bool EndsBelow4GiB(uint32_t physical, uint32_t length) {
  return static_cast<uint64_t>(physical) + length <= (uint64_t{1} << 32);
}

BOOL Request(uint32_t driver, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize) {
  DWORD returned = 0;
  return DeviceIoControl(AsHandle(driver), code, in, inSize, out, outSize, &returned, nullptr);
}

}  // namespace

uint32_t MapPhysical(uint32_t driver, uint32_t physical, uint32_t length) {
  if (driver == kInvalidDriverHandle || !EndsBelow4GiB(physical, length)) return 0;
  uint32_t in[2] = {physical, length};
  uint32_t window = 0;
  if (!Request(driver, kIoctlMapPhysical, in, sizeof in, &window, sizeof window)) return 0;
  return window;
}

void UnmapPhysical(uint32_t driver, uint32_t window) {
  if (window == 0) return;
  Request(driver, kIoctlUnmapPhysical, &window, sizeof window, nullptr, 0);
}

uint32_t MapPhysicalHigh9x(uint32_t driver, uint32_t physical, uint32_t length) {
  if (!EndsBelow4GiB(physical, length)) return 0;
  uint32_t in[2] = {physical, length};
  uint32_t linear = 0;
  Request(driver, kIoctl9xMapHigh, in, sizeof in, &linear, sizeof linear);
  return linear;
}

uint32_t ReadPortDword(uint32_t driver, uint32_t port) {
  if (!g_isNt) return PortIn32(static_cast<uint16_t>(port));
  if (driver == kInvalidDriverHandle) return 0;
  uint32_t value = 0;
  if (!Request(driver, kIoctlReadPort, &port, sizeof port, &value, sizeof value)) return 0;
  return value;
}

void WritePortDword(uint32_t driver, uint32_t port, uint32_t value) {
  if (!g_isNt) {
    PortOut32(static_cast<uint16_t>(port), value);
    return;
  }
  if (driver == kInvalidDriverHandle) return;
  uint32_t in[2] = {port, value};
  Request(driver, kIoctlWritePort, in, sizeof in, nullptr, 0);
}

uint32_t PciConfigAddress(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg) {
  return 0x80000000u | static_cast<uint32_t>(bus) << 16 | static_cast<uint32_t>(device & 0x1F) << 11 |
         static_cast<uint32_t>(function & 0x07) << 8 | static_cast<uint32_t>(reg & 0x3F) << 2;
}

uint32_t ReadPciConfigDword(uint32_t driver, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg) {
  WritePortDword(driver, 0xCF8, PciConfigAddress(bus, device, function, reg));
  return ReadPortDword(driver, 0xCFC);
}

uint32_t QueryBiosType(uint32_t driver) {
  uint32_t type = 0;
  if (!Request(driver, g_isNt ? kIoctlBiosType : kIoctl9xBiosType, nullptr, 0, &type, sizeof type)) return 0;
  return type;
}

void ReadPluginBlockA(uint32_t driver, uint8_t (&block)[kPluginBlockSize]) {
  Request(driver, g_isNt ? kIoctlPluginBlockA : kIoctl9xPluginBlockA, nullptr, 0, block, kPluginBlockSize);
}

void ReadPluginBlockB(uint32_t driver, uint8_t (&block)[kPluginBlockSize]) {
  Request(driver, g_isNt ? kIoctlPluginBlockB : kIoctl9xPluginBlockB, nullptr, 0, block, kPluginBlockSize);
}

namespace {

Window MakeWindow(uint32_t address, bool release, uint32_t length) {
  return Window{address, release, address ? ByteView(WindowPointer(address), length) : ByteView()};
}

}  // namespace

Window OpenFSegment(uint32_t driver) {
  if (!g_isNt) return MakeWindow(kFSegmentPhysical, false, kFSegmentSize);
  return MakeWindow(MapPhysical(driver, kFSegmentPhysical, kFSegmentMapLength), true, kFSegmentMapLength);
}

Window OpenHighWindow(uint32_t driver, uint32_t physical, uint32_t length) {
  if (!g_isNt) return MakeWindow(MapPhysicalHigh9x(driver, physical, length), false, length);
  return MakeWindow(MapPhysical(driver, physical, length), true, length);
}

Window OpenMappedWindow(uint32_t driver, uint32_t physical, uint32_t length) {
  return MakeWindow(MapPhysical(driver, physical, length), g_isNt != 0, length);
}

void CloseWindow(uint32_t driver, Window& window) {
  if (window.release) UnmapPhysical(driver, window.address);
  window = Window{0, false, ByteView()};
}

}  // namespace orr
