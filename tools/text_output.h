// How the tool shows the library's texts, which are single bytes.
#pragma once

#include <string>

// Unprintable bytes as \xNN, quote and backslash escaped.
std::string Escaped(const std::string& bytes);
// The same, between double quotes.
std::string Quoted(const std::string& bytes);
// For JSON: each byte becomes the character of the same number (0xC4 is
// U+00C4), in UTF-8, as profiles write them.
std::string JsonText(const std::string& bytes);
