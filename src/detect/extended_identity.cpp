// BiosType 4: the identity comes from the AMI identity record, a version-1
// record in the F segment or a later one in the flash part.
#include "detect/extended_identity.h"

#include "common/text.h"
#include "detect/model_special_cases.h"
#include "detect/rom_id.h"
#include "firmware/ami_record.h"
#include "hwaccess/primitives.h"
#include "state/module_state.h"

namespace orr {
namespace {

constexpr uint32_t kFlashSearchTail = 16;  // the search stops this far before the flash part's end

// The four texts of a version-1 record lie where its offset table says,
// counted from the start of the F segment.
bool ReadVersion1Record(uint32_t driver) {
  Window fsegment = OpenFSegment(driver);
  const ByteView f = fsegment.bytes;
  bool found = false;
  f.ForEachMatch(kAmiRecordTag, 0, 1, kNotFound, [&](uint32_t at) {
    if (!f.Contains(at, kAmiVersion1Size) || f.U8(at + kAmiRecordVersion) != 1) return true;
    f.CopyText(f.U16(at + kAmiModelOffset), MachineBios.modelName, sizeof MachineBios.modelName);
    f.CopyText(f.U16(at + kAmiIdOffset), MachineBios.idString, sizeof MachineBios.idString);
    f.CopyText(f.U16(at + kAmiDateOffset), MachineBios.dateText, sizeof MachineBios.dateText);
    f.CopyText(f.U16(at + kAmiVersionOffset), MachineBios.versionText, sizeof MachineBios.versionText);
    found = true;
    return false;
  });
  CloseWindow(driver, fsegment);
  return found;
}

bool ReadLaterRecord(uint32_t driver) {
  const uint32_t flashSize = MachineBios.flashSize;
  // Without a flash size of at least 16 bytes there is no flash window to search.
  if (flashSize < kFlashSearchTail) return false;
  Window window = OpenHighWindow(driver, 0u - flashSize, flashSize - 1);
  const ByteView flash = window.bytes;
  bool found = false;
  flash.ForEachMatch(kAmiRecordTag, 0, 1, flashSize - kFlashSearchTail, [&](uint32_t at) {
    const uint8_t version = flash.U8(at + kAmiRecordVersion);
    if (version < 2) return true;
    ReadAmiStringList(flash, at + kAmiRecordBody, version,
                      AmiStringFields{FieldOf(MachineBios.modelName), FieldOf(MachineBios.idString),
                                      FieldOf(MachineBios.dateText), FieldOf(MachineBios.versionText),
                                      FieldOf(MachineBios.descriptionText, kDescriptionTextLength + 1),
                                      TextField{nullptr, 0}, nullptr});
    found = true;
    return false;
  });
  CloseWindow(driver, window);
  return found;
}

}  // namespace

void ProbeExtendedIdentity(uint32_t driver) {
  const bool found = ReadVersion1Record(driver) || ReadLaterRecord(driver);
  if (found) MachineBios.dateCode = RecordDateCode(MachineBios.dateText, sizeof MachineBios.dateText);
  CopyField(MachineBios.altModelName, MachineBios.modelName);
  ApplyModelSpecialCases(driver);
  FindRomId(driver);
}

}  // namespace orr
