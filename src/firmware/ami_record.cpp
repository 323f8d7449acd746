#include "firmware/ami_record.h"

#include <cstring>
#include <initializer_list>

#include "common/text.h"

namespace orr {
namespace {

constexpr uint32_t kEditionSize = 100;  // the edition is held while the list is read, at most 99 characters
constexpr uint32_t kBuildNumberAt = 8;
constexpr uint32_t kBuildNumberDigits = 3;

uint32_t CopyInto(ByteView bytes, uint32_t at, const TextField& field) {
  return bytes.CopyText(at, field.text, field.size);
}

uint32_t StepOver(ByteView bytes, uint32_t at) {
  char none[1];
  return bytes.CopyText(at, none, sizeof none);
}

bool DigitsAt(const char* text, std::initializer_list<uint32_t> positions) {
  for (uint32_t at : positions)
    if (text[at] < '0' || text[at] > '9') return false;
  return true;
}

}  // namespace

void ReadAmiStringList(ByteView bytes, uint32_t at, uint8_t version, const AmiStringFields& out) {
  at = CopyInto(bytes, at, out.model);
  at = CopyInto(bytes, at, out.idString);
  at = CopyInto(bytes, at, out.dateText);
  at = CopyInto(bytes, at, out.versionText);
  if (version >= 3) {
    char edition[kEditionSize];
    at = bytes.CopyText(at, edition, sizeof edition);
    // Cut at the field's end, so a machine and its image report the same name.
    if (edition[0] != '\0') {
      AppendTextBounded(out.model.text, out.model.size, "(");
      AppendTextBounded(out.model.text, out.model.size, edition);
      AppendTextBounded(out.model.text, out.model.size, ")");
    }
  }
  if (version >= 4) at = out.description.text ? CopyInto(bytes, at, out.description) : StepOver(bytes, at);
  if (version >= 5 && out.build.text) {
    std::memset(out.build.text, 0, out.build.size);
    const uint32_t length = bytes.TextLength(at, out.build.size);
    for (uint32_t i = 0; i < length; ++i) out.build.text[i] = static_cast<char>(bytes.U8(at + i));
    if (out.buildVersion && out.build.size >= kBuildNumberAt + kBuildNumberDigits)
      *out.buildVersion = static_cast<uint32_t>(ParseDecimal(out.build.text + kBuildNumberAt, kBuildNumberDigits));
  }
}

uint32_t RecordDateCode(const char* dateText, uint32_t dateTextSize) {
  const uint32_t length = FieldLength(dateText, dateTextSize);
  if (length == 8 && DigitsAt(dateText, {0, 1, 3, 4, 6, 7}))
    return DateCode(static_cast<uint32_t>(ParseDecimal(dateText + 6, 2)),
                    static_cast<uint32_t>(ParseDecimal(dateText, 2)),
                    static_cast<uint32_t>(ParseDecimal(dateText + 3, 2)));
  // A position behind the text's end reads as NUL, so what an earlier,
  // longer text left in the field never counts.
  static constexpr uint32_t kOrder[] = {6, 7, 8, 9, 0, 1, 3, 4};
  char digits[sizeof kOrder / sizeof kOrder[0]];
  for (uint32_t i = 0; i < sizeof kOrder / sizeof kOrder[0]; ++i)
    digits[i] = kOrder[i] < length ? dateText[kOrder[i]] : '\0';
  return static_cast<uint32_t>(ParseDecimal(digits, sizeof digits));
}

}  // namespace orr
