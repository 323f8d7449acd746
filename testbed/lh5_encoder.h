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

// Huffman code lengths for the symbol frequencies, none longer than the 16
// bits LH5 allows; 0 for unused symbols, and all 0 when fewer than two are
// used (the block then uses the single-code form).
std::vector<uint8_t> Lh5CodeLengths(const std::vector<uint32_t>& freq);

}  // namespace tb
