// Bounded text helpers for the fixed-size fields, and the one rule for
// turning digit texts into numbers.
#pragma once

#include <cstdint>

namespace orr {

// Leading white space, an optional sign, then decimal digits up to the
// first non-digit, reading at most length characters and stopping at a NUL;
// no digits give 0. Wraps in 32 bits instead of overflowing.
int32_t ParseDecimal(const char* text, uint32_t length);

// year * 10000 + month * 100 + day in wrapping 32-bit arithmetic, where a
// year below 70 (compared unsigned) counts as year + 100: two-digit years
// count from 1900 and order across 2000; four-digit years stay as they are.
uint32_t DateCode(uint32_t year, uint32_t month, uint32_t day);

// Model texts show the byte 0xC4, the horizontal line of the IBM PC
// character set, as "-"; every other byte stands for itself.
char ModelTextCharacter(uint8_t byte);

// Copies src into dst of dstSize bytes, cut so that a NUL always fits.
void CopyTextBounded(char* dst, uint32_t dstSize, const char* src);

// Appends src to the text in dst, cut at dstSize - 1 characters.
void AppendTextBounded(char* dst, uint32_t dstSize, const char* src);

// Length of the NUL-terminated text in a field of fieldSize bytes, never
// counting past the field.
uint32_t FieldLength(const char* field, uint32_t fieldSize);

template <uint32_t N>
void CopyField(char (&dst)[N], const char* src) {
  CopyTextBounded(dst, N, src);
}
template <uint32_t N>
void AppendField(char (&dst)[N], const char* src) {
  AppendTextBounded(dst, N, src);
}

}  // namespace orr
