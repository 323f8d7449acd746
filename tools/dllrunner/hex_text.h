// Numbers in the runner's messages and names: "0x1A2B", or padded with
// zeros to a number of digits ("0x00001A2B").
#pragma once

#include <cstdint>
#include <string>

namespace dllrun {

inline std::string Hex(uint32_t value, size_t digits = 1) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0 || text.size() < digits);
  return "0x" + text;
}

}  // namespace dllrun
