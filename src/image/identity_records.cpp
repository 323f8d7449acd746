#include "image/identity_records.h"

#include <cstring>

#include "common/text.h"
#include "detect/ami_record.h"
#include "detect/date_version.h"
#include "image/image_block.h"
#include "image/load_image.h"
#include "interface/records.h"

namespace orr {
namespace {

constexpr uint32_t kDateTextBound = 31;   // 30 characters and the NUL
constexpr uint32_t kEditionSize = 100;
constexpr uint32_t kBuildTextLength = 16;
constexpr uint32_t kZantBiosLast = 0x1FFF0;
constexpr uint32_t kZantBiosDateLength = 10;
constexpr uint32_t kModelMarkerLength = 8;

constexpr uint32_t kMostTexts = 7;

// The image's last NULs, the highest first. A text counts only when its NUL
// lies inside the image, and k texts back to back from a start end inside
// it exactly when k NULs lie at or behind that start. Knowing them makes
// each record's test constant work, so an image full of tags with no NUL
// behind them is still searched in time linear in its size.
struct TrailingNuls {
  uint32_t at[kMostTexts];
  uint32_t count;
  bool TextsEndInside(uint32_t start, uint32_t texts) const { return texts <= count && start <= at[texts - 1]; }
};

TrailingNuls FindTrailingNuls(ByteView image) {
  static constexpr char kNul[1] = {0};
  TrailingNuls nuls = {};
  uint32_t last = kNotFound;
  while (nuls.count < kMostTexts) {
    const uint32_t found = image.FindLast(Marker{kNul, 1}, 0, 1, last);
    if (found == kNotFound) break;
    nuls.at[nuls.count++] = found;
    if (found == 0) break;
    last = found - 1;
  }
  return nuls;
}

// The four texts of a version-1 record, placed from the F area, which for
// an image shorter than 64 KiB begins before the image does.
bool VersionOneTexts(ByteView image, const TrailingNuls& nuls, uint32_t record, uint32_t (&texts)[4]) {
  if (!image.Contains(record, kAmiVersion1Size)) return false;
  const int64_t fArea = static_cast<int64_t>(image.size()) - kFAreaSize;
  for (uint32_t i = 0; i < 4; ++i) {
    int64_t at = fArea + image.U16(record + kAmiModelOffset + 2 * i);
    if (at < 0 || !nuls.TextsEndInside(static_cast<uint32_t>(at), 1)) return false;
    texts[i] = static_cast<uint32_t>(at);
  }
  return true;
}

uint32_t TextsOfVersion(uint8_t version) {
  if (version >= 5) return 7;
  return version + 2u;  // 2: four texts, 3: five, 4: six
}

void ApplyVersionOne(ByteView image, const uint32_t (&texts)[4]) {
  image.CopyText(texts[0], ImageBios.modelName, sizeof ImageBios.modelName);
  image.CopyText(texts[1], ImageBios.idString, sizeof ImageBios.idString);
  image.CopyText(texts[2], ImageBios.dateText, kDateTextBound);
  // Taken too, so the version shown belongs to this image and not an earlier one.
  image.CopyText(texts[3], ImageBios.versionText, sizeof ImageBios.versionText);
}

void ApplyStringList(ByteView image, uint32_t record, uint8_t version) {
  uint32_t at = record + kAmiRecordBody;
  at = image.CopyText(at, ImageBios.modelName, sizeof ImageBios.modelName);
  at = image.CopyText(at, ImageBios.idString, sizeof ImageBios.idString);
  at = image.CopyText(at, ImageBios.dateText, kDateTextBound);
  at = image.CopyText(at, ImageBios.versionText, sizeof ImageBios.versionText);
  if (version >= 3) {
    char edition[kEditionSize];
    at = image.CopyText(at, edition, sizeof edition);
    if (edition[0]) {
      AppendField(ImageBios.modelName, "(");
      AppendField(ImageBios.modelName, edition);
      AppendField(ImageBios.modelName, ")");
    }
  }
  if (version >= 4) at += image.TextLength(at) + 1;  // the description text is not reported for images
  if (version >= 5) {
    char build[kBuildTextLength + 1];
    image.CopyText(at, build, sizeof build);
    std::memset(ImageBios.buildText, 0, sizeof ImageBios.buildText);
    std::memcpy(ImageBios.buildText, build, std::strlen(build));
    ImageBios.buildVersion = static_cast<uint32_t>(ParseDecimal(ImageBios.buildText + 8, 3));
  }
}

bool Digits(const char* text, const uint32_t* positions, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (text[positions[i]] < '0' || text[positions[i]] > '9') return false;
  return true;
}

}  // namespace

uint32_t ImageDateCode(const char* dateText, uint32_t dateTextSize) {
  static const uint32_t kLongDigits[] = {0, 1, 3, 4, 6, 7, 8, 9};
  static const uint32_t kShortDigits[] = {0, 1, 3, 4, 6, 7};
  uint32_t length = FieldLength(dateText, dateTextSize);
  if (length == 10 && Digits(dateText, kLongDigits, 8)) return RecordDateCode(dateText, dateTextSize);
  if (length == 8 && Digits(dateText, kShortDigits, 6)) {
    uint32_t year = static_cast<uint32_t>(ParseDecimal(dateText + 6, 2));
    if (year < 70) year += 100;
    return year * 10000u + static_cast<uint32_t>(ParseDecimal(dateText, 2)) * 100u +
           static_cast<uint32_t>(ParseDecimal(dateText + 3, 2));
  }
  return 0;
}

uint32_t ReadAmiRecord(HGLOBAL slot) {
  ByteView image = LockBlock(slot);
  if (!image.data()) return 0;
  uint32_t lastOne = kNotFound;
  uint32_t lastOneTexts[4] = {};
  uint32_t firstLater = kNotFound;
  // Found at the first tag only: most images hold none.
  TrailingNuls nuls = {};
  bool nulsFound = false;
  image.ForEachMatch(kAmiRecordTag, 0, 1, kNotFound, [&](uint32_t at) {
    if (!image.Contains(at, kAmiRecordBody)) return false;  // no version byte: nothing can follow
    if (!nulsFound) {
      nuls = FindTrailingNuls(image);
      nulsFound = true;
    }
    uint8_t version = image.U8(at + kAmiRecordVersion);
    uint32_t texts[4];
    if (version == 1 && VersionOneTexts(image, nuls, at, texts)) {
      lastOne = at;
      std::memcpy(lastOneTexts, texts, sizeof texts);
    } else if (version >= 2 && firstLater == kNotFound &&
               nuls.TextsEndInside(at + kAmiRecordBody, TextsOfVersion(version))) {
      firstLater = at;
    }
    return true;
  });
  uint32_t applied = 1;
  if (lastOne != kNotFound)
    ApplyVersionOne(image, lastOneTexts);
  else if (firstLater != kNotFound)
    ApplyStringList(image, firstLater, image.U8(firstLater + kAmiRecordVersion));
  else
    applied = 0;
  if (applied) ImageBios.dateCode = ImageDateCode(ImageBios.dateText, sizeof ImageBios.dateText);
  UnlockBlock(slot);
  return applied;
}

uint32_t ReadImageTags(HGLOBAL slot) {
  ByteView image = LockBlock(slot);
  if (!image.data()) return 0;
  CopyField(ImageBios.idString, "N/A");
  CopyField(ImageBios.dateText, "N/A");
  bool found = false;

  // A record whose length byte is out of range or whose text runs past the
  // image is passed over; the search goes on with the next one.
  ByteView tail = TailArea(image);
  tail.ForEachMatch(kZantBiosMarker, 0, 16, kZantBiosLast, [&](uint32_t at) {
    uint32_t length = tail.U8(at + kZantBiosMarker.size);
    if (length < 11 || length > 127 || !tail.Contains(at + kZantBiosMarker.size + 1, length)) return true;
    ByteView text = tail.Sub(at + kZantBiosMarker.size + 1, length);
    uint32_t idLength = length - 11 < sizeof ImageBios.idString - 1 ? length - 11 : sizeof ImageBios.idString - 1;
    text.CopyText(0, ImageBios.idString, idLength + 1);
    text.CopyText(length - kZantBiosDateLength, ImageBios.dateText, kZantBiosDateLength + 1);
    found = true;
    return false;
  });

  uint32_t marker = image.FindFirst(kModelMarker);
  if (marker != kNotFound) {
    // The image's end stops the model like a NUL.
    uint32_t length = 0;
    for (uint32_t i = 0; i < kModelMarkerLength; ++i) {
      uint8_t c = image.U8(marker + kModelMarker.size + i);
      if (c == 0 || c == ' ') break;
      ImageBios.modelName[length++] = c == 0xC4 ? '-' : static_cast<char>(c);
    }
    ImageBios.modelName[length] = '\0';
    found = true;
  }
  UnlockBlock(slot);
  return found ? 1 : 0;
}

}  // namespace orr
