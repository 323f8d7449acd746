// printf-style formats whose arguments lie on the guest's stack (wsprintfA)
// or behind a va_list (vfprintf): the format is cut into pieces of literal
// text and one conversion each, and every piece is printed on the host with
// its argument fetched from the guest in the size the conversion names.
#pragma once

#include <cstdint>
#include <string>

#include "imports.h"

namespace dllrun {

// One conversion's argument, as the host printing function takes it.
struct FormatValue {
  enum Kind { None, Int, Unsigned, Int64, Unsigned64, Double, Text, NullText } kind = None;
  int64_t integer = 0;
  uint64_t unsignedInteger = 0;
  double real = 0;
  std::string text;
};

enum class FormatDialect {
  Wsprintf,  // user32: no floating point, no '*', %s and %c only in their ANSI forms
  Msvcrt,    // the C runtime's printf family
};

// Prints one piece (a host format with at most one conversion) and returns
// what it printed.
using PiecePrinter = std::string (*)(const std::string& piece, const FormatValue& value);

// Renders format with the arguments that start at argsAt, piece by piece.
std::string RenderFormat(ImportCall& call, const std::string& format, uint32_t argsAt, FormatDialect dialect,
                         PiecePrinter print);

// The host's snprintf for one piece.
std::string PrintWithHost(const std::string& piece, const FormatValue& value);

}  // namespace dllrun
