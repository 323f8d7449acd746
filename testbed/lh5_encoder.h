// An LH5 compressor: LZ77 over an 8 KiB window (matches of 3 to 256 bytes)
// with the literals, match lengths and distances Huffman-coded in blocks, in
// the bit layout that LZH archivers read for the method "-lh5-".
#pragma once

#include <cstdint>
#include <vector>

namespace tb {

constexpr uint32_t kLh5DefaultBlockCodes = 0x4000;

// The compressed stream of input. Each block holds at most maxBlockCodes
// literals and matches (1 to 65535).
std::vector<uint8_t> Lh5Encode(const std::vector<uint8_t>& input, uint32_t maxBlockCodes = kLh5DefaultBlockCodes);

}  // namespace tb
