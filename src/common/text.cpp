#include "common/text.h"

#include <cstring>

namespace orr {

int32_t ParseDecimal(const char* text, uint32_t length) {
  uint32_t at = 0;
  while (at < length && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < length && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  uint32_t value = 0;
  while (at < length && text[at] >= '0' && text[at] <= '9') value = value * 10u + static_cast<uint32_t>(text[at++] - '0');
  return static_cast<int32_t>(negative ? 0u - value : value);
}

uint32_t DateCode(uint32_t year, uint32_t month, uint32_t day) {
  constexpr uint32_t kFirstYearOf1900s = 70;
  if (year < kFirstYearOf1900s) year += 100;
  return year * 10000u + month * 100u + day;
}

char ModelTextCharacter(uint8_t byte) {
  constexpr uint8_t kLineCharacter = 0xC4;
  return byte == kLineCharacter ? '-' : static_cast<char>(byte);
}

uint32_t FieldLength(const char* field, uint32_t fieldSize) {
  const void* nul = std::memchr(field, 0, fieldSize);
  return nul ? static_cast<uint32_t>(static_cast<const char*>(nul) - field) : fieldSize;
}

void CopyTextBounded(char* dst, uint32_t dstSize, const char* src) {
  if (dstSize == 0) return;
  uint32_t n = 0;
  while (n + 1 < dstSize && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
}

void AppendTextBounded(char* dst, uint32_t dstSize, const char* src) {
  uint32_t used = FieldLength(dst, dstSize);
  if (used >= dstSize) return;
  CopyTextBounded(dst + used, dstSize - used, src);
}

}  // namespace orr
