#include "image/identity_records.h"

#include <cstring>

#include "common/text.h"
#include "firmware/ami_record.h"
#include "image/image_layout.h"
#include "image/rom_map.h"
#include "state/module_state.h"

namespace orr {
namespace {

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

// The texts of a version-1 record, placed from the F area, which for an
// image shorter than 64 KiB begins before the image does. The model,
// identification and date texts must end inside the image; the version
// text, which images need not carry, is kNotFound when it does not.
bool VersionOneTexts(ByteView image, const TrailingNuls& nuls, uint32_t record, uint32_t (&texts)[4]) {
  constexpr uint32_t kRequired = 3;
  if (!image.Contains(record, kAmiVersion1Size)) return false;
  const int64_t fArea = static_cast<int64_t>(image.size()) - kFAreaSize;
  for (uint32_t i = 0; i < 4; ++i) {
    int64_t at = fArea + image.U16(record + kAmiModelOffset + 2 * i);
    const bool inside = at >= 0 && nuls.TextsEndInside(static_cast<uint32_t>(at), 1);
    if (!inside && i < kRequired) return false;
    texts[i] = inside ? static_cast<uint32_t>(at) : kNotFound;
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
  image.CopyText(texts[2], ImageBios.dateText, kImageDateTextLength + 1);
  // Taken too, so the version shown belongs to this image and not an
  // earlier one: empty when the text does not end inside the image.
  if (texts[3] == kNotFound)
    ImageBios.versionText[0] = '\0';
  else
    image.CopyText(texts[3], ImageBios.versionText, sizeof ImageBios.versionText);
}

void ApplyStringList(ByteView image, uint32_t record, uint8_t version) {
  // The description text is not reported for images.
  ReadAmiStringList(image, record + kAmiRecordBody, version,
                    AmiStringFields{FieldOf(ImageBios.modelName), FieldOf(ImageBios.idString),
                                    FieldOf(ImageBios.dateText, kImageDateTextLength + 1),
                                    FieldOf(ImageBios.versionText), TextField{nullptr, 0},
                                    FieldOf(ImageBios.buildText), &ImageBios.buildVersion});
}

}  // namespace

ImageMarks FindImageMarks(ByteView image) {
  ImageMarks marks = {true, kNotFound, {}, kNotFound, kNotFound};
  // Found at the first tag only: most images hold none.
  TrailingNuls nuls = {};
  bool nulsFound = false;
  // Tags are looked for until one stands too near the end for its version
  // byte (no later one has it either), the model marker until the first.
  bool tags = true;
  for (uint32_t at = 0;; ++at) {
    const bool model = marks.modelMarker == kNotFound;
    if (!tags && !model) break;
    if (tags && model)
      at = image.FindFirstOfEither(kAmiRecordTag, kModelMarker, at);
    else
      at = image.FindFirst(tags ? kAmiRecordTag : kModelMarker, at);
    if (at == kNotFound) break;
    if (model && image.Matches(at, kModelMarker)) marks.modelMarker = at;
    if (!tags || !image.Matches(at, kAmiRecordTag)) continue;
    if (!image.Contains(at, kAmiRecordBody)) {
      tags = false;
      continue;
    }
    if (!nulsFound) {
      nuls = FindTrailingNuls(image);
      nulsFound = true;
    }
    const uint8_t version = image.U8(at + kAmiRecordVersion);
    uint32_t texts[4];
    if (version == 1 && VersionOneTexts(image, nuls, at, texts)) {
      marks.versionOne = at;
      std::memcpy(marks.versionOneTexts, texts, sizeof texts);
    } else if (version >= 2 && marks.later == kNotFound &&
               nuls.TextsEndInside(at + kAmiRecordBody, TextsOfVersion(version))) {
      marks.later = at;
    }
  }
  return marks;
}

uint32_t ReadAmiRecord(ByteView image, const ImageMarks& marks) {
  if (!marks.searched) return 0;
  if (marks.versionOne != kNotFound)
    ApplyVersionOne(image, marks.versionOneTexts);
  else if (marks.later != kNotFound)
    ApplyStringList(image, marks.later, image.U8(marks.later + kAmiRecordVersion));
  else
    return 0;
  ImageBios.dateCode = RecordDateCode(ImageBios.dateText, sizeof ImageBios.dateText);
  return 1;
}

uint32_t ReadImageTags(ByteView image, const ImageMarks& marks) {
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

  // A ROM map tells an image whose system BIOS the expansion can find.
  const RomMaps maps = FindRomMaps(tail);
  if (maps.hasB || maps.hasN) found = true;

  const uint32_t marker = marks.searched ? marks.modelMarker : image.FindFirst(kModelMarker);
  if (marker != kNotFound) {
    // The image's end stops the model like a NUL.
    uint32_t length = 0;
    for (uint32_t i = 0; i < kModelMarkerLength; ++i) {
      uint8_t c = image.U8(marker + kModelMarker.size + i);
      if (c == 0 || c == ' ') break;
      ImageBios.modelName[length++] = ModelTextCharacter(c);
    }
    ImageBios.modelName[length] = '\0';
    found = true;
  }
  return found ? 1 : 0;
}

}  // namespace orr
