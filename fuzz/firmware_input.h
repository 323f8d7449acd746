// The machine-detection fuzzer's input: a header that picks the family, the
// platform and the service answers, then the firmware in sections that land
// where the probes look for them.
//
//   0   family: BiosType 0, 2, 4, 5, 3, 1, the header's other type, or a
//       failing BiosType request (value % 8); bit 7 picks the 9x family
//   1   flags: bit 0 flash size valid, bit 1 the free request fails,
//       bits 2-4 a window whose mapping fails (1 F segment, 2 flash window,
//       3 top window, 4 ROM id window, 5 SMBIOS table), bit 5 the version
//       call reports 9x, bit 6 it fails (NT only: a 9x system always answers)
//   2   flash size: below 64 taken as bytes, else times 16
//   4   the other BiosType
//   8   F-segment offset of the F bytes
//   10  F-segment offset of the "$PIR" area
//   12  lengths of the SMBIOS table, "$PIR" area, flash, top window, ROM id
//       window and PCI answers (16 bits each), then those sections in that
//       order; the rest of the input is the F bytes
//
// The SMBIOS table lands where the first entry point of the F segment says;
// the flash at the start of the flash window, the ROM id section so that it
// ends at 4 GiB (the candidates lie in the window's last 4 KiB), the top
// section at 0xFFFFFF00. PCI answers are 10-byte records: bus, device,
// function, vendor id, device id, 24-bit class code.
#pragma once

#include <cstdint>
#include <vector>

#include "testbed.h"

namespace fz {

struct FirmwareSections {
  uint8_t family = 2;
  uint8_t flags = 1;
  uint16_t flashSize = 0x8000;  // 512 KiB
  uint32_t otherType = 7;
  uint16_t fBase = 0;
  uint16_t pirOffset = 0;
  std::vector<uint8_t> smbiosTable, pirArea, flash, top, romId, pci, fsegment;
};

constexpr uint32_t kFirmwareHeaderSize = 24;
constexpr uint32_t kPciRecordSize = 10;

std::vector<uint8_t> EncodeFirmware(const FirmwareSections& sections);
FirmwareSections DecodeFirmware(const uint8_t* data, size_t size);
// Puts the sections into a machine that starts out as tb::Machine() does.
void BuildMachine(const FirmwareSections& sections, tb::Machine& machine);
tb::Machine MachineOf(const FirmwareSections& sections);

}  // namespace fz
