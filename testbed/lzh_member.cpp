#include "lzh_member.h"

#include <lha_decoder.h>

#include <array>
#include <cstring>

#include "lh5_encoder.h"

namespace tb {

namespace {

constexpr uint32_t kNameOffset = 22;
constexpr uint32_t kFixedHeaderSize = 25;  // H of a member with an empty name
constexpr uint8_t kAttribute = 0x20;
constexpr uint8_t kLevel1 = 1;
constexpr uint8_t kOsMsDos = 'M';
// 2009-11-02 12:00:00 as a DOS timestamp, for members other than the system BIOS.
constexpr uint16_t kPlainTime = 12 << 11;
constexpr uint16_t kPlainDate = (2009 - 1980) << 9 | 11 << 5 | 2;

const orr::Marker kLh5 = orr::MakeMarker("-lh5-");
const orr::Marker kLh0 = orr::MakeMarker("-lh0-");

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Feeds the decoder from the packed data, never past its end.
struct Feed {
  orr::ByteView data;
  uint32_t at = 0;
};

size_t FeedDecoder(void* buf, size_t len, void* user) {
  auto* feed = static_cast<Feed*>(user);
  orr::ByteView rest = feed->data.Sub(feed->at);
  size_t n = len < rest.size() ? len : rest.size();
  if (n) std::memcpy(buf, rest.data(), n);
  feed->at += static_cast<uint32_t>(n);
  return n;
}

// crc receives the decoder's own CRC-16 of what came out, so the bytes need
// no second pass.
uint32_t DecodeLh5(orr::ByteView packed, uint32_t originalSize, std::vector<uint8_t>& out, uint16_t& crc) {
  char name[] = "-lh5-";
  LHADecoderType* type = lha_decoder_for_name(name);
  Feed feed{packed};
  LHADecoder* decoder = type ? lha_decoder_new(type, FeedDecoder, &feed, originalSize) : nullptr;
  if (!decoder) return kExpandDecoderFailed;
  out.assign(originalSize, 0);
  size_t got = 0;
  while (got < originalSize) {
    size_t n = lha_decoder_read(decoder, out.data() + got, originalSize - got);
    if (n == 0) break;
    got += n;
  }
  crc = lha_decoder_get_crc(decoder);
  lha_decoder_free(decoder);
  return got == originalSize ? kExpandOk : kExpandShortStream;
}

}  // namespace

uint16_t LzhCrc16(const uint8_t* bytes, size_t size, uint16_t crc) {
  static const std::array<uint16_t, 256> kTable = [] {
    std::array<uint16_t, 256> table{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
      uint16_t c = static_cast<uint16_t>(byte);
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
      table[byte] = c;
    }
    return table;
  }();
  for (size_t i = 0; i < size; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ bytes[i]) & 0xFF]);
  return crc;
}

std::vector<uint8_t> LzhMember(const std::string& name, const std::vector<uint8_t>& original, LzhMethod method,
                               bool systemBios, const std::vector<LzhExtHeader>& extHeaders) {
  std::vector<uint8_t> packed = method == LzhMethod::Lh5 ? Lh5Encode(original) : original;
  // A name longer than the header size byte allows is cut.
  size_t nameLength = name.size() < 255 - kFixedHeaderSize ? name.size() : 255 - kFixedHeaderSize;

  std::vector<uint8_t> ext;
  for (size_t i = 0; i < extHeaders.size(); ++i) {
    ext.push_back(extHeaders[i].type);
    ext.insert(ext.end(), extHeaders[i].data.begin(), extHeaders[i].data.end());
    Put16(ext, i + 1 < extHeaders.size() ? static_cast<uint16_t>(extHeaders[i + 1].data.size() + 3) : 0);
  }

  std::vector<uint8_t> m;
  m.reserve(kFixedHeaderSize + 2 + nameLength + ext.size() + packed.size());
  m.push_back(0);  // header size and checksum, filled in below
  m.push_back(0);
  const char* id = method == LzhMethod::Lh5 ? "-lh5-" : "-lh0-";
  m.insert(m.end(), id, id + 5);
  Put32(m, static_cast<uint32_t>(ext.size() + packed.size()));
  Put32(m, static_cast<uint32_t>(original.size()));
  Put16(m, systemBios ? kSystemBiosWord15 : kPlainTime);
  Put16(m, systemBios ? kSystemBiosWord17 : kPlainDate);
  m.push_back(kAttribute);
  m.push_back(kLevel1);
  m.push_back(static_cast<uint8_t>(nameLength));
  m.insert(m.end(), name.begin(), name.begin() + nameLength);
  Put16(m, LzhCrc16(original.data(), original.size()));
  m.push_back(kOsMsDos);
  Put16(m, extHeaders.empty() ? 0 : static_cast<uint16_t>(extHeaders[0].data.size() + 3));

  m[0] = static_cast<uint8_t>(m.size() - 2);
  uint32_t sum = 0;
  for (size_t i = 2; i < m.size(); ++i) sum += m[i];
  m[1] = static_cast<uint8_t>(sum);

  m.insert(m.end(), ext.begin(), ext.end());
  m.insert(m.end(), packed.begin(), packed.end());
  return m;
}

uint32_t MemberSlot(const std::vector<uint8_t>& member) {
  orr::ByteView v(member.data(), static_cast<uint32_t>(member.size()));
  return v.U8(0) + v.U32(7) + 4;
}

std::vector<uint8_t> LzhArchive(const std::vector<std::vector<uint8_t>>& members) {
  std::vector<uint8_t> archive;
  for (const auto& m : members) archive.insert(archive.end(), m.begin(), m.end());
  archive.push_back(0);
  return archive;
}

uint32_t ExpandMember(orr::ByteView block, uint32_t maxSize, std::vector<uint8_t>& out) {
  out.clear();
  uint32_t h = block.U8(0);
  uint32_t nameLength = block.U8(21);
  if (!block.Contains(0, h + 2) || h < kFixedHeaderSize + nameLength || block.U8(20) != kLevel1)
    return kExpandBadHeader;

  uint32_t sum = 0;
  for (uint32_t i = 2; i < h + 2; ++i) sum += block.U8(i);
  if ((sum & 0xFF) != block.U8(1)) return kExpandBadChecksum;

  bool lh5 = block.Matches(2, kLh5);
  if (!lh5 && !block.Matches(2, kLh0)) return kExpandUnknownMethod;

  uint32_t packedSize = block.U32(7);
  uint32_t originalSize = block.U32(11);
  if (originalSize > kMaxExpandedSize || originalSize > maxSize) return kExpandTooLarge;
  uint16_t crc = block.U16(kNameOffset + nameLength);

  // The extended headers count towards P; each names the size of the next.
  uint32_t at = h + 2;
  uint32_t extTotal = 0;
  for (uint32_t next = block.U16(h); next != 0; next = block.U16(at - 2)) {
    if (next < 3) return kExpandBadHeader;
    if (next > packedSize - extTotal) return kExpandBadHeader;
    if (!block.Contains(at, next)) return kExpandBeyondBlock;
    at += next;
    extTotal += next;
  }

  uint32_t dataSize = packedSize - extTotal;
  if (!block.Contains(at, dataSize)) return kExpandBeyondBlock;
  orr::ByteView packed = block.Sub(at, dataSize);

  uint32_t result = kExpandOk;
  uint16_t outCrc = 0;
  if (lh5) {
    result = DecodeLh5(packed, originalSize, out, outCrc);
  } else if (dataSize != originalSize) {
    result = kExpandShortStream;
  } else {
    out.assign(packed.data(), packed.data() + dataSize);
    outCrc = LzhCrc16(out.data(), out.size());
  }
  if (result == kExpandOk && outCrc != crc) result = kExpandCrcMismatch;
  if (result != kExpandOk) out.clear();
  return result;
}

}  // namespace tb
