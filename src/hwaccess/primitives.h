// Hardware access primitives. Each hides the split between the NT family
// (every access a request to the access driver) and the 9x family (port
// instructions and direct reads of the first megabyte).
#pragma once

#include <cstdint>

#include "common/byte_view.h"
#include "hwaccess/contract.h"

namespace orr {

// Both mapping requests give 0, and send nothing, for a window that would
// run past 4 GiB.
uint32_t MapPhysical(uint32_t driver, uint32_t physical, uint32_t length);
void UnmapPhysical(uint32_t driver, uint32_t window);
uint32_t MapPhysicalHigh9x(uint32_t driver, uint32_t physical, uint32_t length);
uint32_t ReadPortDword(uint32_t driver, uint32_t port);
void WritePortDword(uint32_t driver, uint32_t port, uint32_t value);
uint32_t PciConfigAddress(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg);
uint32_t ReadPciConfigDword(uint32_t driver, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg);
uint32_t QueryBiosType(uint32_t driver);
// The driver's answer lands in block; a failed request leaves it as it was.
void ReadPluginBlockA(uint32_t driver, uint8_t (&block)[kPluginBlockSize]);
void ReadPluginBlockB(uint32_t driver, uint8_t (&block)[kPluginBlockSize]);

constexpr uint32_t kFSegmentPhysical = 0xF0000;
constexpr uint32_t kFSegmentMapLength = 0xFFFE;  // offsets 0 to 0xFFFD are readable on NT
constexpr uint32_t kFSegmentSize = 0x10000;

// A physical-memory window taken for one probe step: the address the
// driver (or the 9x linear mapping) gave, and the bytes it makes readable.
struct Window {
  uint32_t address;  // 0: no window
  bool release;      // taken through MapPhysical and released when done
  ByteView bytes;
};

// The F segment: MapPhysical on NT; on 9x the linear address 0xF0000 itself,
// 64 KiB, with no request.
Window OpenFSegment(uint32_t driver);
// A range above 1 MiB: MapPhysical on NT, MapPhysicalHigh9x on 9x (never
// released there).
Window OpenHighWindow(uint32_t driver, uint32_t physical, uint32_t length);
// A window through MapPhysical on both families; CloseWindow releases it on NT.
Window OpenMappedWindow(uint32_t driver, uint32_t physical, uint32_t length);
// Releases what OpenFSegment or OpenHighWindow obtained through MapPhysical.
void CloseWindow(uint32_t driver, Window& window);

}  // namespace orr
