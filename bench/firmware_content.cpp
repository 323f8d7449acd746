#include "firmware_content.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image_builder.h"

namespace bench {

std::vector<uint8_t> FirmwareBody(uint32_t size, uint32_t seed) {
  constexpr uint32_t kBlock = 0x10000;
  std::vector<uint8_t> body = tb::FirmwareFiller(size, seed);
  uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
  for (uint32_t block = 0; block < size; block += kBlock) {
    if ((block / kBlock) % 4 == 3) continue;
    const uint32_t end = std::min(size, block + kBlock);
    for (uint32_t at = block; at < end; at += 8) {
      // xorshift64: spread enough for a stand-in of compressed data.
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      std::memcpy(body.data() + at, &state, std::min<uint32_t>(8, end - at));
    }
  }
  std::replace(body.begin(), body.end(), kAbsentByte, static_cast<uint8_t>(kAbsentByte + 1));
  return body;
}

uint8_t RarestByte(const uint8_t* bytes, size_t size) {
  std::array<size_t, 256> count{};
  for (size_t i = 0; i < size; ++i) ++count[bytes[i]];
  return static_cast<uint8_t>(std::min_element(count.begin(), count.end()) - count.begin());
}

size_t MemchrPass(const uint8_t* bytes, size_t size, uint8_t value) {
  size_t hits = 0;
  const uint8_t* at = bytes;
  const uint8_t* end = bytes + size;
  while (at < end) {
    const void* hit = std::memchr(at, value, static_cast<size_t>(end - at));
    if (!hit) break;
    ++hits;
    at = static_cast<const uint8_t*>(hit) + 1;
  }
  return hits;
}

}  // namespace bench
