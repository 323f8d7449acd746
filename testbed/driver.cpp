// The access driver behind DeviceIoControl, the processor's port
// instructions, and the pointers behind window addresses.
#include <windows.h>

#include <cstring>

#include "hwaccess/contract.h"
#include "hwaccess/platform_io.h"
#include "state.h"

namespace tb {
namespace {

constexpr uint32_t kMaxWindow = 64u << 20;  // a real driver refuses absurd lengths too

uint32_t In32(const void* in, uint32_t inSize, uint32_t index) {
  uint32_t value = 0;
  if (in && inSize >= (index + 1) * 4) std::memcpy(&value, static_cast<const uint8_t*>(in) + index * 4, 4);
  return value;
}

bool Out32(void* out, uint32_t outSize, uint32_t value) {
  if (!out || outSize < 4) return false;
  std::memcpy(out, &value, 4);
  return true;
}

// Lays windows out in a part of the 32-bit space that no probe reads
// directly, 64 KiB apart, so a window address never names two windows.
uint32_t MapWindow(uint32_t physical, uint32_t length, bool viaNtCode) {
  State& s = S();
  if (length == 0 || length > kMaxWindow || s.machine.failMapAt.count(physical)) return 0;
  uint32_t span = (length + 0xFFFFu) & ~0xFFFFu;
  if (s.nextWindow > 0xE0000000u - span) s.nextWindow = 0x20000000;
  uint32_t address = s.nextWindow;
  s.nextWindow += span + 0x10000;
  MappedWindow& w = s.windows[address];
  // Windows above the first megabyte are shown in place, as a driver maps
  // them; the others are copied.
  const uint8_t* view = s.machine.memory.View(physical, length);
  w = MappedWindow{physical, view, view ? std::vector<uint8_t>() : s.machine.memory.Read(physical, length), viaNtCode,
                   false};
  return address;
}


}  // namespace

bool KnownDriverCode(uint32_t code, bool nt) {
  using namespace orr;
  // The mapping and its release go through the NT codes on both families.
  if (code == kIoctlMapPhysical || code == kIoctlUnmapPhysical) return true;
  if (nt)
    return code == kIoctlReadPort || code == kIoctlWritePort || code == kIoctlPluginBlockA ||
           code == kIoctlPluginBlockB || code == kIoctlBiosType;
  return code == kIoctl9xMapHigh || code == kIoctl9xPluginBlockA || code == kIoctl9xPluginBlockB ||
         code == kIoctl9xBiosType;
}

uint32_t PortRead(uint16_t port) {
  State& s = S();
  if (port != 0xCFC) return 0xFFFFFFFF;
  if (!(s.pciAddress & 0x80000000u)) return 0xFFFFFFFF;
  uint8_t bus = (s.pciAddress >> 16) & 0xFF, device = (s.pciAddress >> 11) & 0x1F;
  uint8_t function = (s.pciAddress >> 8) & 0x07, reg = (s.pciAddress >> 2) & 0x3F;
  for (const PciFunction& f : s.machine.pci) {
    if (f.bus != bus || f.device != device || f.function != function) continue;
    if (reg == 0) return f.vendorId | static_cast<uint32_t>(f.deviceId) << 16;
    if (reg == 2) return f.classCode << 8;  // revision 0
    return 0;
  }
  return 0xFFFFFFFF;
}

void PortWrite(uint16_t port, uint32_t value) {
  if (port == 0xCF8) S().pciAddress = value;
}

}  // namespace tb

namespace orr {

uint32_t PortIn32(uint16_t port) {
  uint32_t value = tb::PortRead(port);
  tb::S().portAccesses.push_back(tb::PortAccess{false, port, value});
  return value;
}

void PortOut32(uint16_t port, uint32_t value) {
  tb::S().portAccesses.push_back(tb::PortAccess{true, port, value});
  tb::PortWrite(port, value);
}

const uint8_t* WindowPointer(uint32_t address) {
  tb::State& s = tb::S();
  if (address != 0 && address < 0x100000) return s.machine.memory.LowMemory() + address;
  auto it = s.windows.find(address);
  if (it == s.windows.end() || it->second.released) return nullptr;
  return it->second.view ? it->second.view : it->second.bytes.data();
}

}  // namespace orr

extern "C" BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                       LPDWORD returned, LPOVERLAPPED) {
  using namespace orr;
  tb::State& s = tb::S();
  const uint8_t* input = static_cast<const uint8_t*>(in);
  s.driverRequests.push_back(tb::Request{code, input && inSize ? std::vector<uint8_t>(input, input + inSize)
                                                               : std::vector<uint8_t>()});
  if (returned) *returned = 0;
  bool nt = s.machine.platform == tb::Platform::Nt;
  if (reinterpret_cast<uintptr_t>(device) != tb::kDriverHandle || !s.driverOpen || !tb::KnownDriverCode(code, nt))
    return FALSE;

  switch (code) {
    case kIoctlMapPhysical:
    case kIoctl9xMapHigh: {
      if (inSize < 8) return FALSE;
      uint32_t window = tb::MapWindow(tb::In32(in, inSize, 0), tb::In32(in, inSize, 1), code == kIoctlMapPhysical);
      if (!window || !tb::Out32(out, outSize, window)) return FALSE;
      return TRUE;
    }
    case kIoctlUnmapPhysical: {
      auto it = s.windows.find(tb::In32(in, inSize, 0));
      if (it == s.windows.end() || it->second.released) return FALSE;
      it->second.released = true;
      if (it->second.view) s.machine.memory.Retire(it->second.view);
      it->second.view = nullptr;
      it->second.bytes = std::vector<uint8_t>();
      return TRUE;
    }
    case kIoctlReadPort:
      return tb::Out32(out, outSize, tb::PortRead(static_cast<uint16_t>(tb::In32(in, inSize, 0))));
    case kIoctlWritePort:
      if (inSize < 8) return FALSE;
      tb::PortWrite(static_cast<uint16_t>(tb::In32(in, inSize, 0)), tb::In32(in, inSize, 1));
      return TRUE;
    case kIoctlPluginBlockA:
    case kIoctl9xPluginBlockA:
    case kIoctlPluginBlockB:
    case kIoctl9xPluginBlockB: {
      bool a = code == kIoctlPluginBlockA || code == kIoctl9xPluginBlockA;
      if (!out || outSize < kPluginBlockSize) return FALSE;
      std::memcpy(out, (a ? s.machine.pluginBlockA : s.machine.pluginBlockB).data(), kPluginBlockSize);
      return TRUE;
    }
    case kIoctlBiosType:
    case kIoctl9xBiosType:
      if (!s.machine.biosType) return FALSE;
      return tb::Out32(out, outSize, *s.machine.biosType);
  }
  return FALSE;
}
