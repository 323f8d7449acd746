// The access driver behind DeviceIoControl, the processor's port
// instructions, and the pointers behind window addresses.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "hwaccess/contract.h"
#include "hwaccess/platform_io.h"
#include "state.h"

namespace tb {
namespace {

constexpr uint32_t kMaxWindow = 64u << 20;  // a real driver refuses absurd lengths too

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

uint32_t In32(const void* in, uint32_t inSize, uint32_t index) {
  uint32_t value = 0;
  if (in && inSize >= (index + 1) * 4) std::memcpy(&value, static_cast<const uint8_t*>(in) + index * 4, 4);
  return value;
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

// At user level on NT a port instruction is a privileged-instruction fault:
// it is recorded, and the port is neither read nor written.
uint32_t PortIn32(uint16_t port) {
  if (tb::OnNt()) tb::Violation("port input instruction on NT, port " + tb::Hex(port));
  uint32_t value = tb::OnNt() ? 0xFFFFFFFF : tb::PortRead(port);
  tb::S().portAccesses.push_back(tb::PortAccess{false, port, value});
  return value;
}

void PortOut32(uint16_t port, uint32_t value) {
  if (tb::OnNt()) tb::Violation("port output instruction on NT, port " + tb::Hex(port));
  tb::S().portAccesses.push_back(tb::PortAccess{true, port, value});
  if (!tb::OnNt()) tb::PortWrite(port, value);
}

const uint8_t* WindowPointer(uint32_t address) {
  tb::State& s = tb::S();
  if (address != 0 && address < 0x100000) {
    // Only 9x shows the first megabyte at its linear addresses; on NT the
    // read is an access violation.
    if (!tb::OnNt()) return s.machine.memory.LowMemory() + address;
    tb::Violation("direct read of low memory on NT at " + tb::Hex(address));
    return nullptr;
  }
  auto it = s.windows.find(address);
  if (it == s.windows.end() || it->second.released) return nullptr;
  return it->second.view ? it->second.view : it->second.bytes.data();
}

}  // namespace orr

namespace tb {
namespace {

// One request as the driver serves it: the bytes it answers go to `answer`
// and their count to `length`; the result is the error a refusal reports
// (ERROR_SUCCESS when served). Output room is checked before anything
// changes, so a refused request leaves no trace.
DWORD Serve(uint32_t code, const void* in, uint32_t inSize, uint32_t outSize, uint8_t* answer, uint32_t& length) {
  using namespace orr;
  State& s = S();
  auto answer32 = [&](uint32_t value) -> DWORD {
    if (outSize < 4) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(answer, &value, 4);
    length = 4;
    return ERROR_SUCCESS;
  };
  switch (code) {
    case kIoctlMapPhysical:
    case kIoctl9xMapHigh: {
      if (inSize < 8) return ERROR_INVALID_PARAMETER;
      if (outSize < 4) return ERROR_INSUFFICIENT_BUFFER;
      const uint32_t window = MapWindow(In32(in, inSize, 0), In32(in, inSize, 1), code == kIoctlMapPhysical);
      return window ? answer32(window) : ERROR_GEN_FAILURE;
    }
    case kIoctlUnmapPhysical: {
      auto it = s.windows.find(In32(in, inSize, 0));
      if (it == s.windows.end() || it->second.released) return ERROR_INVALID_PARAMETER;
      it->second.released = true;
      if (it->second.view) s.machine.memory.Retire(it->second.view);
      it->second.view = nullptr;
      it->second.bytes = std::vector<uint8_t>();
      return ERROR_SUCCESS;
    }
    case kIoctlReadPort:
      if (inSize < 4) return ERROR_INVALID_PARAMETER;
      return answer32(PortRead(static_cast<uint16_t>(In32(in, inSize, 0))));
    case kIoctlWritePort:
      if (inSize < 8) return ERROR_INVALID_PARAMETER;
      PortWrite(static_cast<uint16_t>(In32(in, inSize, 0)), In32(in, inSize, 1));
      return ERROR_SUCCESS;
    case kIoctlPluginBlockA:
    case kIoctl9xPluginBlockA:
    case kIoctlPluginBlockB:
    case kIoctl9xPluginBlockB: {
      const bool a = code == kIoctlPluginBlockA || code == kIoctl9xPluginBlockA;
      if (outSize < kPluginBlockSize) return ERROR_INSUFFICIENT_BUFFER;
      std::memcpy(answer, (a ? s.machine.pluginBlockA : s.machine.pluginBlockB).data(), kPluginBlockSize);
      length = kPluginBlockSize;
      return ERROR_SUCCESS;
    }
    case kIoctlBiosType:
    case kIoctl9xBiosType:
      return s.machine.biosType ? answer32(*s.machine.biosType) : ERROR_GEN_FAILURE;
  }
  return ERROR_INVALID_FUNCTION;
}

}  // namespace
}  // namespace tb

// Buffered requests, as the driver's codes are: the driver's answer reaches
// the output only when the request succeeds, and the byte count says how
// much of it is valid.
extern "C" BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                       LPDWORD returned, LPOVERLAPPED overlapped) {
  tb::State& s = tb::S();
  const uint8_t* input = static_cast<const uint8_t*>(in);
  s.driverRequests.push_back(tb::Request{code, input && inSize ? std::vector<uint8_t>(input, input + inSize)
                                                               : std::vector<uint8_t>()});
  // Windows writes the count through this pointer: without it (and without
  // an overlapped structure) the caller's process faults.
  if (!returned && !overlapped) {
    tb::Violation("DeviceIoControl without a byte-count pointer");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (returned) *returned = 0;
  if (reinterpret_cast<uintptr_t>(device) != tb::kDriverHandle || !s.driverOpen) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((!in && inSize) || (!out && outSize)) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  uint8_t answer[orr::kPluginBlockSize];
  uint32_t length = 0;
  const DWORD error = tb::KnownDriverCode(code, tb::OnNt()) ? tb::Serve(code, in, inSize, outSize, answer, length)
                                                            : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  // Serve answers no more than the output holds, so a null output (size 0)
  // never receives bytes.
  if (length > outSize || (length && !out)) {
    tb::Violation("the driver answered more than the output holds");
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (length) std::memcpy(out, answer, length);
  if (returned) *returned = length;
  return TRUE;
}
