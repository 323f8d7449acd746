// The service library's expansion of a compressed member of a BIOS image:
// an LZH level-1 member as archivers write it (fixtures/lzh_member.h writes
// them).
//
// Layout of a member (little-endian):
//   0   H, the header size: the bytes of the base header after the first two
//   1   checksum: the sum of the H bytes from offset 2, modulo 256
//   2   method, "-lh5-" or "-lh0-"
//   7   P, the packed size: the extended headers plus the compressed data
//   11  original size
//   15  16-bit word (timestamp time); 0 in the system BIOS member
//   17  16-bit word (timestamp date); 0x5000 in the system BIOS member
//   19  attribute 0x20
//   20  header level 1
//   21  name length N, then the name
//   22+N  CRC-16 of the original bytes
//   24+N  OS id
//   25+N  size of the first extended header (0: none), the base header's
//         last two bytes, so H = 25 + N
//   then the extended headers, each: type byte, data, size of the next one
//   then the compressed data
// A member therefore covers H + 2 + P bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/byte_view.h"
#include "orrivane.h"

namespace tb {

constexpr uint32_t kLzhNameOffset = 22;
constexpr uint32_t kLzhFixedHeaderSize = 25;  // H of a member with an empty name
constexpr uint8_t kLzhLevel1 = 1;
constexpr uint32_t kMaxExpandedSize = 0x20000;  // the output block

// CRC-16 as LZH archives use it (polynomial 0xA001, reflected, start 0).
uint16_t LzhCrc16(const uint8_t* bytes, size_t size, uint16_t crc = 0);

// serviceError numbers of the image requests; none of them is a result
// number of the library's own (ORRIVANE_ERR_*).
constexpr uint32_t kExpandOk = 0;
constexpr uint32_t kExpandBadHeader = 401;       // header size, level, name or extended-header chain broken
constexpr uint32_t kExpandBadChecksum = 402;     // header checksum does not match
constexpr uint32_t kExpandUnknownMethod = 403;   // neither "-lh5-" nor "-lh0-"
constexpr uint32_t kExpandTooLarge = 404;        // original size above 128 KiB or the output block
constexpr uint32_t kExpandBeyondBlock = 405;     // the packed data reaches past the member block
constexpr uint32_t kExpandShortStream = 406;     // fewer bytes came out than the original size
constexpr uint32_t kExpandCrcMismatch = 407;     // the expanded bytes fail the header's CRC-16
constexpr uint32_t kExpandNotDone = 408;         // status asked before an accepted expansion
constexpr uint32_t kExpandDecoderFailed = 409;   // the decoder could not be set up
static_assert(kExpandBadHeader > ORRIVANE_ERR_NO_STATUS, "clear of the library's own numbers");

// Expands the member at the start of block into out (resized to the original
// size). Reads only inside block and produces at most maxSize bytes; returns
// one of the numbers above.
uint32_t ExpandMember(orr::ByteView block, uint32_t maxSize, std::vector<uint8_t>& out);

}  // namespace tb
