// onboardDevices: network and multimedia functions of the devices that the
// PCI IRQ routing tables list as onboard (slot number 0).
#include "detect/onboard_devices.h"

#include "hwaccess/primitives.h"
#include "state/module_state.h"

namespace orr {
namespace {

constexpr Marker kSignature = MakeMarker("$PIR");
constexpr uint32_t kLastSignature = 0xFFFE;
constexpr uint32_t kTableSize = 0x06;
constexpr uint32_t kFirstEntry = 32;
constexpr uint32_t kEntrySize = 16;
constexpr uint32_t kEntryBus = 0;
constexpr uint32_t kEntryDeviceFunction = 1;
constexpr uint32_t kEntrySlot = 14;
constexpr uint32_t kEntryReadBytes = kEntrySlot + 1;  // the rest of the entry is never read

constexpr uint8_t kRegisterIds = 0;
constexpr uint8_t kRegisterClass = 2;
constexpr uint32_t kNoFunction = 0xFFFFFFFF;

constexpr uint32_t kNetwork = 0x01;
constexpr uint32_t kOtherMultimedia = 0x02;
constexpr uint32_t kChipsetAudio = 0x04;
constexpr uint32_t kChipsetHdAudio = 0x08;

constexpr uint16_t kChipsetVendors[] = {0x8086, 0x1106, 0x1039, 0x1002, 0x10DE, 0x10B9, 0x1131};
constexpr uint16_t kNvidia = 0x10DE;
// Network controllers of these chipsets report themselves as "other bridge".
constexpr uint16_t kBridgeNetworkDevices[] = {0x0057, 0x0269, 0x0373};
constexpr uint16_t kClassOtherBridge = 0x0680;

bool IsChipsetVendor(uint16_t vendor) {
  for (uint16_t v : kChipsetVendors)
    if (v == vendor) return true;
  return false;
}

bool IsBridgeNetworkDevice(uint32_t ids) {
  if ((ids & 0xFFFF) != kNvidia) return false;
  for (uint16_t d : kBridgeNetworkDevices)
    if (d == ids >> 16) return true;
  return false;
}

// The bits one onboard device adds, probing its functions in order until
// one of them settles the entry.
uint32_t ProbeDevice(uint32_t driver, uint8_t bus, uint8_t device) {
  for (uint8_t function = 0; function < 8; ++function) {
    uint32_t classRegister = ReadPciConfigDword(driver, bus, device, function, kRegisterClass);
    if (classRegister == kNoFunction) continue;
    const uint16_t classWord = static_cast<uint16_t>(classRegister >> 16);
    const auto baseClass = static_cast<uint8_t>(classWord >> 8), subclass = static_cast<uint8_t>(classWord & 0xFF);
    if (baseClass == 0x04) {
      uint32_t ids = ReadPciConfigDword(driver, bus, device, function, kRegisterIds);
      if (!IsChipsetVendor(ids & 0xFFFF)) return kOtherMultimedia;
      if (subclass == 0x01) return kChipsetAudio;
      if (subclass == 0x03) return kChipsetHdAudio;
      return 0;
    }
    if (baseClass == 0x02) return kNetwork;
    if (classWord == kClassOtherBridge &&
        IsBridgeNetworkDevice(ReadPciConfigDword(driver, bus, device, function, kRegisterIds)))
      return kNetwork;
  }
  return 0;
}

}  // namespace

void ProbeRoutingTable(ByteView fsegment, uint32_t at, uint32_t driver, RoutingScan& scan) {
  const uint64_t end = static_cast<uint64_t>(at) + fsegment.U16(at + kTableSize);
  // Entries lie 16 bytes apart from the signature; an earlier table in the
  // same lane has read every entry below scan.nextEntry, so overlapping
  // tables read each entry once. Counted in 64 bits, so no offset wraps.
  // An entry is probed when the bytes read of it (0, 1 and 14) lie in the
  // window; the first one the window's end cuts ends the table.
  uint32_t& next = scan.nextEntry[at % kEntrySize];
  uint64_t entry = at + kFirstEntry > next ? at + kFirstEntry : next;
  for (; entry < end && fsegment.Contains(static_cast<uint32_t>(entry), kEntryReadBytes); entry += kEntrySize) {
    const uint32_t e = static_cast<uint32_t>(entry);
    if (fsegment.U8(e + kEntrySlot) != 0) continue;
    const uint8_t bus = fsegment.U8(e + kEntryBus);
    const uint8_t device = fsegment.U8(e + kEntryDeviceFunction) >> 3;
    // The same device answers the same again: probed once per scan.
    const uint32_t key = bus * 32u + device;
    const uint8_t bit = static_cast<uint8_t>(1u << (key % 8));
    if (scan.probed[key / 8] & bit) continue;
    scan.probed[key / 8] |= bit;
    MachineBios.onboardDevices |= ProbeDevice(driver, bus, device);
  }
  if (entry > next) next = static_cast<uint32_t>(entry);
}

void ScanOnboardDevices(uint32_t driver) {
  Window fsegment = OpenFSegment(driver);
  const ByteView f = fsegment.bytes;
  // Nothing tells a table from the same four bytes in other data, so every
  // occurrence is probed, in ascending order as the entry lanes require.
  RoutingScan scan = {};
  f.ForEachMatch(kSignature, 0, 1, kLastSignature, [&](uint32_t at) {
    ProbeRoutingTable(f, at, driver, scan);
    return true;
  });
  CloseWindow(driver, fsegment);
}

}  // namespace orr
