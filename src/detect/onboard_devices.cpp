// onboardDevices: network and multimedia functions of the devices that the
// PCI IRQ routing tables list as onboard (slot number 0).
#include "detect/probes.h"
#include "hwaccess/primitives.h"
#include "interface/records.h"

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
    const uint8_t baseClass = classWord >> 8, subclass = classWord & 0xFF;
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

void ProbeRoutingTable(ByteView table, uint32_t driver, ProbedDevices& probed) {
  const uint32_t size = table.U16(kTableSize);
  // Counted in 32 bits: a 16-bit entry offset would wrap to 0 below a size
  // above 0xFFF0 and never end. Entries cut by the window's end are not read.
  for (uint32_t entry = kFirstEntry; entry < size && table.Contains(entry, kEntrySize); entry += kEntrySize) {
    if (table.U8(entry + kEntrySlot) != 0) continue;
    const uint8_t bus = table.U8(entry + kEntryBus);
    const uint8_t device = table.U8(entry + kEntryDeviceFunction) >> 3;
    // The same device answers the same again: probing it once keeps a
    // segment full of overlapping tables from multiplying the reads.
    const uint32_t key = bus * 32u + device;
    const uint8_t bit = static_cast<uint8_t>(1u << (key % 8));
    if (probed.bits[key / 8] & bit) continue;
    probed.bits[key / 8] |= bit;
    MachineBios.onboardDevices |= ProbeDevice(driver, bus, device);
  }
}

void ScanOnboardDevices(uint32_t driver) {
  Window fsegment = OpenFSegment(driver);
  const ByteView f = fsegment.bytes;
  // Nothing tells a table from the same four bytes in other data, so every
  // occurrence is probed.
  ProbedDevices probed = {};
  f.ForEachMatch(kSignature, 0, 1, kLastSignature, [&](uint32_t at) {
    ProbeRoutingTable(f.Sub(at), driver, probed);
    return true;
  });
  CloseWindow(driver, fsegment);
}

}  // namespace orr
