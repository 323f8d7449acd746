// How the tool shows the library's texts, which are single bytes.
#pragma once

#include <cstdint>
#include <string>

// value as upper-case hexadecimal digits, at least width of them.
std::string HexDigits(uint32_t value, int width);
// value in decimal, at least width digits (leading zeros).
std::string PaddedDecimal(uint32_t value, int width);
// Unprintable bytes as \xNN, quote and backslash escaped.
std::string Escaped(const std::string& bytes);
// The same, between double quotes.
std::string Quoted(const std::string& bytes);
// For JSON: each byte becomes the character of the same number (0xC4 is
// U+00C4), in UTF-8, as profiles write them.
std::string JsonText(const std::string& bytes);
