// Writes synthetic BIOS image files for tests and for the sample image: the
// identity records, the Award banner and its records, the ROM maps and
// compressed members, each placed at an offset of the caller's choosing.
//
// Offsets are image offsets unless a name says otherwise. A write that runs
// past the image's end is cut there, so tests can build records that stick
// out of the image on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lzh_member.h"

namespace tb {

constexpr uint32_t kFAreaSize = 0x10000;     // the last 64 KiB of an image
constexpr uint32_t kTailAreaSize = 0x20000;  // the last 128 KiB

// Where the system BIOS keeps its three identity texts, as offsets of its F
// segment (the upper 64 KiB of the expanded system BIOS).
constexpr uint32_t kFSegIdString = 0xE0C1;
constexpr uint32_t kFSegDateVersion = 0xEC70;
constexpr uint32_t kFSegModelTag = 0xECE0;

class ImageBuilder {
 public:
  explicit ImageBuilder(uint32_t size);  // every byte 0xFF, as erased flash reads

  uint32_t Size() const { return static_cast<uint32_t>(image_.size()); }
  // Start of the F area and of the tail area; 0 when the image is shorter.
  uint32_t FArea() const;
  uint32_t TailArea() const;
  // The flash address of an image offset: the image's last byte sits at
  // 0xFFFFFFFF.
  uint32_t FlashAddress(uint32_t offset) const { return offset - Size(); }

  ImageBuilder& Bytes(uint32_t offset, const std::vector<uint8_t>& bytes);
  ImageBuilder& Text(uint32_t offset, const std::string& text);  // the characters, then a NUL
  ImageBuilder& Fill(uint32_t offset, uint32_t length, uint8_t value);

  // "$ZANTAMI$", version 1 and the four text offsets, which count from the
  // F area. The texts themselves are placed with Text.
  ImageBuilder& AmiRecordV1(uint32_t offset, uint16_t modelOff, uint16_t idOff, uint16_t dateOff,
                            uint16_t versionOff);
  // "$ZANTAMI$", the version byte and the texts back to back, each with its
  // NUL: model, id, date, version, then edition (3), description (4) and
  // build version text (5) as the version carries them.
  ImageBuilder& AmiRecord(uint32_t offset, uint8_t version, const std::vector<std::string>& texts);
  // "ZANTBIOS", the length byte as given, then the bytes.
  ImageBuilder& ZantBios(uint32_t offset, uint8_t lengthByte, const std::vector<uint8_t>& bytes);
  ImageBuilder& Meo(uint32_t offset, const std::vector<uint8_t>& modelBytes);  // "*MEO" and the model bytes

  ImageBuilder& AwardBanner(uint32_t offset);  // "= Award Decompression Bios ="
  ImageBuilder& Bbsn(uint32_t offset);         // "*BBSN*"
  // "*BBSS*", 12 zero bytes, then the 16-bit region start and size.
  ImageBuilder& Bbss(uint32_t offset, uint16_t regionStart, uint16_t regionSize);

  // "ZANT_BROMMAP", 8 zero bytes, then the two regions as flash addresses.
  ImageBuilder& BRomMap(uint32_t offset, uint32_t r1first, uint32_t r1end, uint32_t r2first, uint32_t r2end);
  // "ZANT_NROMMAP", 4 zero bytes, then the two regions as flash addresses.
  ImageBuilder& NRomMap(uint32_t offset, uint32_t r1first, uint32_t r1end, uint32_t r2first, uint32_t r2end);

  // A member in its slot: the member's bytes, then two zero bytes, so the
  // next slot starts MemberSlot(member) bytes further on (see lzh_member.h).
  ImageBuilder& Member(uint32_t offset, const std::vector<uint8_t>& member);

  std::vector<uint8_t> Build() const { return image_; }
  // Returns false when the file cannot be written whole.
  bool WriteFile(const std::string& path) const;

 private:
  std::vector<uint8_t> image_;
};

// Writes bytes to path; false when the file cannot be written whole.
bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes);

// size bytes that resemble code and tables, the same for the same seed.
std::vector<uint8_t> FirmwareFiller(uint32_t size, uint32_t seed);

// An expanded system BIOS of size bytes (0x10000 or 0x20000) whose upper
// 64 KiB, the F segment, holds the three identity texts at their offsets.
// The rest is FirmwareFiller, so that compressing it finds matches of many
// lengths and distances, as real firmware does.
std::vector<uint8_t> SystemBios(uint32_t size, const std::string& idString, const std::string& dateVersionString,
                                const std::string& modelTag);

}  // namespace tb
