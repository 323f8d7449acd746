// Firmware structures for simulated machines: the SMBIOS entry point and
// table, the PCI IRQ routing table, the AMI identity record, the F-segment
// identity area and the ROM description marker. Each builds the bytes, and
// the Write functions place them into a MachineBuilder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "machine_builder.h"

namespace tb {

struct SmbiosStructure {
  uint8_t type = 0;
  uint16_t handle = 0;
  std::vector<uint8_t> formatted;    // the formatted area behind the 4-byte header
  std::vector<std::string> strings;  // none: the set is the two NULs of an empty set
};

// Type 0 with the ROM size code at offset 9 and the three usual strings.
SmbiosStructure SmbiosBiosInformation(uint8_t romSizeCode, const std::string& vendor = "Zant Firmware",
                                      const std::string& version = "1.04", const std::string& date = "03/15/2009");
// Type 3 in the SMBIOS 2.3 layout, oemByte at offset 13.
SmbiosStructure SmbiosChassis(uint8_t oemByte, const std::string& maker = "Zant");
// Any other structure: type, a formatted area of the given length, strings.
SmbiosStructure SmbiosOther(uint8_t type, uint8_t formattedLength, std::vector<std::string> strings = {});

std::vector<uint8_t> SmbiosBytes(const SmbiosStructure& structure);
// The structures back to back, ended by an end-of-table structure (type 127)
// unless endMarker is false.
std::vector<uint8_t> SmbiosTable(const std::vector<SmbiosStructure>& structures, bool endMarker = true);

struct SmbiosEntry {
  uint32_t fsegmentOffset = 0xF800;  // the search looks at 16-byte steps only
  uint8_t major = 2;
  uint8_t minor = 4;
  uint8_t bcdRevision = 0x24;
  uint32_t tableAddress = 0x000E8000;
  std::optional<uint16_t> tableLength;  // empty: the table's own size
};

// The 31-byte entry point with valid checksums.
std::vector<uint8_t> SmbiosEntryPoint(const SmbiosEntry& entry, uint16_t tableLength, uint16_t structureCount);
// Writes the entry point into the F segment and the table at its address.
MachineBuilder& WriteSmbios(MachineBuilder& b, const SmbiosEntry& entry, const std::vector<uint8_t>& table);

struct PirSlot {
  uint8_t bus = 0;
  uint8_t device = 0;  // device number; the table holds it shifted left by 3
  uint8_t slot = 0;    // 0: onboard
};

// Header of 32 bytes, then 16 bytes per slot; the size field says so
// unless tableSize is given.
std::vector<uint8_t> PirTable(const std::vector<PirSlot>& slots, std::optional<uint16_t> tableSize = {});
MachineBuilder& WritePirTable(MachineBuilder& b, uint32_t fsegmentOffset, const std::vector<PirSlot>& slots,
                              std::optional<uint16_t> tableSize = {});

struct AmiTexts {
  std::string model;
  std::string idString;
  std::string date;  // mm/dd/yyyy
  std::string version;
  std::string edition;      // version 3 and later
  std::string description;  // version 4 and later
  std::string build;        // version 5 and later
};

// Tag, version 1 and the four 16-bit text offsets.
std::vector<uint8_t> AmiRecordVersion1(uint16_t model, uint16_t idString, uint16_t date, uint16_t version);
// Tag, version byte and the texts that version carries (at least the four
// of version 2), each with its NUL.
std::vector<uint8_t> AmiRecordStrings(uint8_t version, const AmiTexts& texts);

// A version-1 record at an F-segment offset with its four texts right behind it.
MachineBuilder& WriteAmiRecordVersion1(MachineBuilder& b, uint32_t fsegmentOffset, const AmiTexts& texts);
// A record of a later version at an offset of the flash part that ends at 4 GiB.
MachineBuilder& WriteAmiRecordInFlash(MachineBuilder& b, uint32_t flashSize, uint32_t flashOffset, uint8_t version,
                                      const AmiTexts& texts);

// The identification text at 0xE0C1, the date-and-version text at 0xEC70
// and the model tag at 0xECE0, each with its NUL.
MachineBuilder& WriteIdentityArea(MachineBuilder& b, const std::string& idString, const std::string& dateVersion,
                                  const std::string& modelTag);
// "$ZANTAWARD" at markerOffset with the 16-bit text pointer at +18, and the
// text (with its NUL) at textOffset.
MachineBuilder& WriteRomDescription(MachineBuilder& b, uint32_t markerOffset, uint16_t textOffset,
                                    const std::string& text);

}  // namespace tb
