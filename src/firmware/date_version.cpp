#include "firmware/date_version.h"

#include "common/text.h"

namespace orr {
namespace {

constexpr uint32_t kModelNameSize = 60;
constexpr uint32_t kDigitPositions[] = {0, 1, 3, 4, 6, 7};

}  // namespace

void DecodeDateVersionString(ByteView text, char* versionText, const char* modelName, char* dateText,
                             uint32_t* dateCode) {
  // The date is copied as it stands, NULs and all; only the digit positions are checked.
  const uint32_t dateLength = text.U8(9) == '-' ? 8 : 10;
  for (uint32_t i = 0; i < dateLength; ++i) dateText[i] = static_cast<char>(text.U8(1 + i));
  dateText[dateLength] = '\0';

  bool cutShort = false;
  for (uint32_t at : kDigitPositions) cutShort = cutShort || dateText[at] == '\0';
  if (cutShort)
    for (uint32_t at : kDigitPositions) dateText[at] = '0';

  *dateCode = DateCode(static_cast<uint32_t>(ParseDecimal(dateText + 6, dateLength - 6)),
                       static_cast<uint32_t>(ParseDecimal(dateText, 2)),
                       static_cast<uint32_t>(ParseDecimal(dateText + 3, 2)));

  // The version text lies between the run of "-" behind the date and the
  // one separator character in front of the model name.
  versionText[0] = '\0';
  const ByteView whole = text.Sub(0, text.TextLength(0));
  uint32_t start = whole.FindFirst(MakeMarker("-"));
  if (start == kNotFound) return;  // no separator: no version text
  while (whole.U8(start) == '-') ++start;

  // The model is looked for behind the version text's first character, so a
  // model name that also appears inside the date or right at the start of
  // the version text still finds the occurrence that ends it; wherever the
  // first occurrence from position 1 lies behind that character, this is
  // the same occurrence. An empty model name therefore gives an empty text.
  const uint32_t modelLength = FieldLength(modelName, kModelNameSize);
  uint32_t model = start + 1;
  if (modelLength > 0) model = whole.FindFirst(Marker{modelName, modelLength}, start + 1);
  if (model == kNotFound) return;
  whole.Sub(start, model - 1 - start).CopyText(0, versionText, kVersionTextSize);
}

}  // namespace orr
