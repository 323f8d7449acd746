#include "firmware/identity_area.h"

#include "common/text.h"
#include "firmware/date_version.h"

namespace orr {

void ReadIdentityArea(ByteView fsegment, const IdentityFields& out) {
  // Only the first 52 bytes decide: no NUL among them means the text is spoiled.
  if (fsegment.TextLength(kIdStringOffset, kSpoiledLength) >= kSpoiledLength ||
      !fsegment.Contains(kIdStringOffset, 1))
    CopyTextBounded(out.idString, 100, kSpoiled);
  else
    fsegment.CopyText(kIdStringOffset, out.idString, 100);

  // Eight source bytes at most; "<" and ">" count among them but are dropped.
  uint32_t length = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    uint8_t c = fsegment.U8(kModelTagOffset + i);
    if (c == 0 || c == ' ') break;
    if (c == '<' || c == '>') continue;
    out.modelName[length++] = static_cast<char>(c);
  }
  out.modelName[length] = '\0';

  DecodeDateVersionString(fsegment.Sub(kDateVersionOffset), out.versionText, out.modelName, out.dateText,
                          out.dateCode);
}

}  // namespace orr
