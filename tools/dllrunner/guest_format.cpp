#include "guest_format.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace dllrun {
namespace {

class GuestArgs {
 public:
  GuestArgs(ImportCall& call, uint32_t at) : call_(call), at_(at) {}
  uint32_t Take32() {
    const uint32_t value = call_.U32(at_);
    at_ += 4;
    return value;
  }
  uint64_t Take64() {
    const uint64_t low = Take32();
    return low | static_cast<uint64_t>(Take32()) << 32;
  }

 private:
  ImportCall& call_;
  uint32_t at_;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// The pieces are the guest's formats, cut by RenderFormat into one checked
// conversion each whose argument has the type the conversion names.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
std::string PrintWithHost(const std::string& piece, const FormatValue& v) {
  auto print = [&](auto... args) {
    const int n = std::snprintf(nullptr, 0, piece.c_str(), args...);
    if (n <= 0) return std::string();
    std::vector<char> out(static_cast<size_t>(n) + 1);
    if (std::snprintf(out.data(), out.size(), piece.c_str(), args...) != n) return std::string();
    return std::string(out.data(), static_cast<size_t>(n));
  };
  switch (v.kind) {
    case FormatValue::None: {  // literal text: only %% to undo
      std::string text;
      for (size_t i = 0; i < piece.size(); ++i) {
        text += piece[i];
        if (piece[i] == '%' && i + 1 < piece.size() && piece[i + 1] == '%') ++i;
      }
      return text;
    }
    case FormatValue::Int: return print(static_cast<int>(v.integer));
    case FormatValue::Unsigned: return print(static_cast<unsigned>(v.unsignedInteger));
    case FormatValue::Int64: return print(static_cast<long long>(v.integer));
    case FormatValue::Unsigned64: return print(static_cast<unsigned long long>(v.unsignedInteger));
    case FormatValue::Double: return print(v.real);
    case FormatValue::Text: return print(v.text.c_str());
    case FormatValue::NullText: return print("(null)");
  }
  return std::string();
}
#pragma GCC diagnostic pop

std::string RenderFormat(ImportCall& call, const std::string& f, uint32_t argsAt, FormatDialect dialect,
                         PiecePrinter print) {
  const bool crt = dialect == FormatDialect::Msvcrt;
  GuestArgs args(call, argsAt);
  std::string out, piece;
  size_t i = 0;
  while (i < f.size()) {
    if (f[i] != '%') {
      piece += f[i++];
      continue;
    }
    if (i + 1 < f.size() && f[i + 1] == '%') {
      piece += "%%";
      i += 2;
      continue;
    }
    std::string hostConversion = "%";
    ++i;
    while (i < f.size() && std::strchr("-+ #0", f[i])) hostConversion += f[i++];
    auto number = [&](const char* what) {
      if (i < f.size() && f[i] == '*') {
        if (!crt) call.Fail(std::string("'*' ") + what + " in a wsprintf format");
        hostConversion += std::to_string(static_cast<int32_t>(args.Take32()));
        ++i;
        return;
      }
      while (i < f.size() && IsDigit(f[i])) hostConversion += f[i++];
    };
    number("width");
    if (i < f.size() && f[i] == '.') {
      hostConversion += f[i++];
      number("precision");
    }
    int bits = 32;
    bool wide = false;  // 'l' or 'w' before s or c: a wide text the runner does not print
    if (f.compare(i, 3, "I64") == 0 && crt) {
      bits = 64;
      i += 3;
    } else if (f.compare(i, 3, "I32") == 0 && crt) {
      i += 3;
    } else if (f.compare(i, 2, "ll") == 0 && crt) {
      bits = 64;
      i += 2;
    } else if (f.compare(i, 2, "hh") == 0 && crt) {
      bits = 8;
      i += 2;
    } else if (i < f.size() && f[i] == 'h') {
      bits = 16;
      ++i;
    } else if (i < f.size() && (f[i] == 'l' || f[i] == 'L' || f[i] == 'w')) {
      wide = f[i] != 'L';
      ++i;
    }
    if (i >= f.size()) call.Fail("the format ends inside a conversion: \"" + f + "\"");
    const char conversion = f[i++];
    FormatValue v;
    switch (conversion) {
      case 'd':
      case 'i': {
        const uint64_t raw = bits == 64 ? args.Take64() : args.Take32();
        v.kind = bits == 64 ? FormatValue::Int64 : FormatValue::Int;
        v.integer = bits == 64 ? static_cast<int64_t>(raw)
                    : bits == 16 ? static_cast<int16_t>(raw)
                    : bits == 8  ? static_cast<int8_t>(raw)
                                 : static_cast<int32_t>(raw);
        hostConversion += bits == 64 ? "ll" : "";
        hostConversion += conversion;
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        const uint64_t raw = bits == 64 ? args.Take64() : args.Take32();
        v.kind = bits == 64 ? FormatValue::Unsigned64 : FormatValue::Unsigned;
        v.unsignedInteger = bits == 16 ? static_cast<uint16_t>(raw) : bits == 8 ? static_cast<uint8_t>(raw) : raw;
        hostConversion += bits == 64 ? "ll" : "";
        hostConversion += conversion;
        break;
      }
      case 'p':
        v.kind = FormatValue::Unsigned;
        v.unsignedInteger = args.Take32();
        hostConversion = "%08X";  // the C runtime's %p: eight upper-case hex digits
        break;
      case 'C':
      case 'S':
        call.Fail(std::string("wide conversion %") + conversion + " in \"" + f + "\"");
      case 'c':
        if (wide) call.Fail("wide character conversion in \"" + f + "\"");
        v.kind = FormatValue::Int;
        v.integer = static_cast<uint8_t>(args.Take32());
        hostConversion += 'c';
        break;
      case 's': {
        if (wide) call.Fail("wide string conversion in \"" + f + "\"");
        const uint32_t text = args.Take32();
        v.kind = text ? FormatValue::Text : FormatValue::NullText;
        if (text) v.text = call.Text(text);
        hostConversion += 's';
        break;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        if (!crt) call.Fail("floating-point conversion in a wsprintf format");
        const uint64_t raw = args.Take64();
        v.kind = FormatValue::Double;
        std::memcpy(&v.real, &raw, sizeof v.real);
        hostConversion += conversion;
        break;
      }
      default:
        call.Fail(std::string("conversion %") + conversion + " in \"" + f + "\" is not supported by the runner");
    }
    out += print(piece + hostConversion, v);
    piece.clear();
  }
  if (!piece.empty()) out += print(piece, FormatValue());
  return out;
}

}  // namespace dllrun
