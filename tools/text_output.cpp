#include "text_output.h"

#include <iomanip>
#include <sstream>

std::string HexDigits(uint32_t value, int width) {
  std::ostringstream out;
  out << std::uppercase << std::hex << std::setw(width) << std::setfill('0') << value;
  return out.str();
}

std::string PaddedDecimal(uint32_t value, int width) {
  std::ostringstream out;
  out << std::setw(width) << std::setfill('0') << value;
  return out.str();
}

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      out += "\\x" + HexDigits(c, 2);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Quoted(const std::string& bytes) { return "\"" + Escaped(bytes) + "\""; }

std::string JsonText(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}
