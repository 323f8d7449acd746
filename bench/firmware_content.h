// Bytes that stand for a flash part's content in the benchmarks, and the
// memchr pass that is every search's floor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

// A byte value the content never holds, so that the floor's memchr pass for
// it reads every byte in one call.
constexpr uint8_t kAbsentByte = 0xA5;

// Three 64 KiB blocks in four hold bytes as evenly spread as compressed
// modules; every fourth holds code, tables and erased stretches. Every other
// byte value occurs, so a marker's first byte turns up about every 256 bytes,
// as it does in real images.
std::vector<uint8_t> FirmwareBody(uint32_t size, uint32_t seed);

// The byte value that occurs least often in the bytes (kAbsentByte in the
// content above): a memchr pass for it reads them all with the fewest restarts.
uint8_t RarestByte(const uint8_t* bytes, size_t size);

// One memchr pass over the bytes for value; returns how often it occurs.
size_t MemchrPass(const uint8_t* bytes, size_t size, uint8_t value);

}  // namespace bench
