#include "image_builder.h"

#include <cstdio>

namespace tb {

namespace {

std::vector<uint8_t> Ascii(const char* text) {
  std::vector<uint8_t> bytes;
  for (; *text; ++text) bytes.push_back(static_cast<uint8_t>(*text));
  return bytes;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> RomMap(const char* marker, uint32_t gap, uint32_t r1first, uint32_t r1end, uint32_t r2first,
                            uint32_t r2end) {
  std::vector<uint8_t> record = Ascii(marker);
  record.insert(record.end(), gap, 0);
  for (uint32_t v : {r1first, r1end, r2first, r2end}) Put32(record, v);
  return record;
}

}  // namespace

ImageBuilder::ImageBuilder(uint32_t size) : image_(size, 0xFF) {}

uint32_t ImageBuilder::FArea() const { return Size() >= kFAreaSize ? Size() - kFAreaSize : 0; }
uint32_t ImageBuilder::TailArea() const { return Size() >= kTailAreaSize ? Size() - kTailAreaSize : 0; }

ImageBuilder& ImageBuilder::Bytes(uint32_t offset, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size() && offset + i < image_.size(); ++i) image_[offset + i] = bytes[i];
  return *this;
}

ImageBuilder& ImageBuilder::Text(uint32_t offset, const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return Bytes(offset, bytes);
}

ImageBuilder& ImageBuilder::Fill(uint32_t offset, uint32_t length, uint8_t value) {
  return Bytes(offset, std::vector<uint8_t>(length, value));
}

ImageBuilder& ImageBuilder::AmiRecordV1(uint32_t offset, uint16_t modelOff, uint16_t idOff, uint16_t dateOff,
                                        uint16_t versionOff) {
  std::vector<uint8_t> record = Ascii("$ZANTAMI$");
  record.push_back(1);
  for (uint16_t v : {modelOff, idOff, dateOff, versionOff}) Put16(record, v);
  return Bytes(offset, record);
}

ImageBuilder& ImageBuilder::AmiRecord(uint32_t offset, uint8_t version, const std::vector<std::string>& texts) {
  std::vector<uint8_t> record = Ascii("$ZANTAMI$");
  record.push_back(version);
  for (const std::string& text : texts) {
    record.insert(record.end(), text.begin(), text.end());
    record.push_back(0);
  }
  return Bytes(offset, record);
}

ImageBuilder& ImageBuilder::ZantBios(uint32_t offset, uint8_t lengthByte, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> record = Ascii("ZANTBIOS");
  record.push_back(lengthByte);
  record.insert(record.end(), bytes.begin(), bytes.end());
  return Bytes(offset, record);
}

ImageBuilder& ImageBuilder::Meo(uint32_t offset, const std::vector<uint8_t>& modelBytes) {
  std::vector<uint8_t> record = Ascii("*MEO");
  record.insert(record.end(), modelBytes.begin(), modelBytes.end());
  return Bytes(offset, record);
}

ImageBuilder& ImageBuilder::AwardBanner(uint32_t offset) { return Bytes(offset, Ascii("= Award Decompression Bios =")); }

ImageBuilder& ImageBuilder::Bbsn(uint32_t offset) { return Bytes(offset, Ascii("*BBSN*")); }

ImageBuilder& ImageBuilder::Bbss(uint32_t offset, uint16_t regionStart, uint16_t regionSize) {
  std::vector<uint8_t> record = Ascii("*BBSS*");
  record.insert(record.end(), 12, 0);
  Put16(record, regionStart);
  Put16(record, regionSize);
  return Bytes(offset, record);
}

ImageBuilder& ImageBuilder::BRomMap(uint32_t offset, uint32_t r1first, uint32_t r1end, uint32_t r2first,
                                    uint32_t r2end) {
  return Bytes(offset, RomMap("ZANT_BROMMAP", 8, r1first, r1end, r2first, r2end));
}

ImageBuilder& ImageBuilder::NRomMap(uint32_t offset, uint32_t r1first, uint32_t r1end, uint32_t r2first,
                                    uint32_t r2end) {
  return Bytes(offset, RomMap("ZANT_NROMMAP", 4, r1first, r1end, r2first, r2end));
}

ImageBuilder& ImageBuilder::Member(uint32_t offset, const std::vector<uint8_t>& member) {
  std::vector<uint8_t> slot = member;
  slot.push_back(0);
  slot.push_back(0);
  return Bytes(offset, slot);
}

bool ImageBuilder::WriteFile(const std::string& path) const { return WriteImageFile(path, image_); }

bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  // An empty vector's data() may be null, which fwrite must not be given.
  const bool whole = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && whole;
}

std::vector<uint8_t> FirmwareFiller(uint32_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size, 0xFF);
  // A fixed pseudo-random walk over a small vocabulary of instruction-like
  // snippets and table rows, with erased (0xFF) stretches between them.
  static const std::vector<std::vector<uint8_t>> kSnippets = {
      {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x08},  {0x8B, 0xE5, 0x5D, 0xC3},
      {0xE8, 0x00, 0x00, 0x5B, 0x81, 0xEB},  {0xB0, 0x80, 0xE6, 0x70, 0xE4, 0x71},
      {0x66, 0x60, 0x1E, 0x06, 0x0F, 0xA0},  {0x07, 0x1F, 0x66, 0x61, 0xCB},
      {0xBA, 0xF8, 0x0C, 0x66, 0xEF},        {0xBA, 0xFC, 0x0C, 0x66, 0xED},
      {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x74, 0x05, 0xEB, 0xF2, 0x90},
  };
  uint32_t state = seed;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  uint32_t at = 0;
  while (at < size) {
    uint32_t r = next();
    if (r % 11 == 0) {
      at += 16 + next() % 200;  // erased stretch
      continue;
    }
    const auto& s = kSnippets[r % kSnippets.size()];
    for (size_t i = 0; i < s.size() && at < size; ++i) bytes[at++] = s[i];
    if (r % 3 == 0 && at + 2 <= size) {  // an operand that varies
      uint32_t v = next();
      bytes[at++] = static_cast<uint8_t>(v);
      bytes[at++] = static_cast<uint8_t>(v >> 8);
    }
  }
  return bytes;
}

std::vector<uint8_t> SystemBios(uint32_t size, const std::string& idString, const std::string& dateVersionString,
                                const std::string& modelTag) {
  std::vector<uint8_t> bios = FirmwareFiller(size, 0x1234567u ^ size);
  const uint32_t fSeg = size >= kFAreaSize ? size - kFAreaSize : 0;
  auto place = [&](uint32_t offset, const std::string& text) {
    for (size_t i = 0; i <= text.size() && fSeg + offset + i < size; ++i)
      bios[fSeg + offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
  };
  place(kFSegIdString, idString);
  place(kFSegDateVersion, dateVersionString);
  place(kFSegModelTag, modelTag);
  // The reset vector: a far jump to F000:E05B.
  const uint8_t jump[] = {0xEA, 0x5B, 0xE0, 0x00, 0xF0};
  for (size_t i = 0; i < sizeof jump && fSeg + 0xFFF0 + i < size; ++i) bios[fSeg + 0xFFF0 + i] = jump[i];
  return bios;
}

}  // namespace tb
