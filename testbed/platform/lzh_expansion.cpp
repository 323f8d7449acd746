#include "lzh_expansion.h"

#include <lha_decoder.h>

#include <array>
#include <cstring>

namespace tb {
namespace {

const orr::Marker kLh5 = orr::MakeMarker("-lh5-");
const orr::Marker kLh0 = orr::MakeMarker("-lh0-");

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

uint32_t ExpandMember(orr::ByteView block, uint32_t maxSize, std::vector<uint8_t>& out) {
  out.clear();
  uint32_t h = block.U8(0);
  uint32_t nameLength = block.U8(21);
  if (!block.Contains(0, h + 2) || h < kLzhFixedHeaderSize + nameLength || block.U8(20) != kLzhLevel1)
    return kExpandBadHeader;

  uint32_t sum = 0;
  for (uint32_t i = 2; i < h + 2; ++i) sum += block.U8(i);
  if ((sum & 0xFF) != block.U8(1)) return kExpandBadChecksum;

  bool lh5 = block.Matches(2, kLh5);
  if (!lh5 && !block.Matches(2, kLh0)) return kExpandUnknownMethod;

  uint32_t packedSize = block.U32(7);
  uint32_t originalSize = block.U32(11);
  if (originalSize > kMaxExpandedSize || originalSize > maxSize) return kExpandTooLarge;
  uint16_t crc = block.U16(kLzhNameOffset + nameLength);

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
