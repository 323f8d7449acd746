// The AMI identity record: the tag "$ZANTAMI$", a version byte, then an
// offset table (version 1) or a list of NUL-terminated texts (version 2 and
// later: model, identification, date, version, edition, description, build
// version). The machine detection reads it from the firmware, the image
// analysis from image files; both read the string list and the date code
// here, into fields the caller names.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

constexpr Marker kAmiRecordTag = MakeMarker("$ZANTAMI$");
constexpr uint32_t kAmiRecordVersion = 9;
constexpr uint32_t kAmiRecordBody = 10;

// Version 1: four 16-bit offsets of the model, identification, date and
// version texts; the whole record is 18 bytes.
constexpr uint32_t kAmiModelOffset = 10;
constexpr uint32_t kAmiIdOffset = 12;
constexpr uint32_t kAmiDateOffset = 14;
constexpr uint32_t kAmiVersionOffset = 16;
constexpr uint32_t kAmiVersion1Size = 18;

// A text field: the text is cut to size - 1 characters and ended by a NUL.
struct TextField {
  char* text;
  uint32_t size;
};

template <uint32_t N>
TextField FieldOf(char (&field)[N], uint32_t size = N) {
  return TextField{field, size < N ? size : N};
}

// Where the texts of a string list go. A null description is stepped over;
// a null build text is not read.
struct AmiStringFields {
  TextField model;        // text 1, then "(" edition ")" for a non-empty edition (version 3 and later)
  TextField idString;     // text 2
  TextField dateText;     // text 3
  TextField versionText;  // text 4
  TextField description;  // text 6, version 4 and later
  // Text 7, version 5 and later: its first build.size characters, zero-filled
  // behind a shorter text and not NUL-terminated when it fills the field;
  // buildVersion receives the number its characters 8 to 10 give.
  TextField build;
  uint32_t* buildVersion;
};

// The string list of a record of the given version (2 or later) whose first
// text starts at offset at of bytes. Each text starts behind the whole
// previous text, however much of it its field kept; a text runs to the
// view's end at the latest.
void ReadAmiStringList(ByteView bytes, uint32_t at, uint8_t version, const AmiStringFields& out);

// The date code of a record's date text (up to its NUL, never past
// dateTextSize). A text of exactly eight characters with digits at
// positions 0, 1, 3, 4, 6 and 7 (mm/dd/yy) counts its year from 1900, a
// year below 70 as 20xx, as the date-and-version text does: 11/20/09 gives
// 1091120. Any other text gives the signed decimal number of its characters
// at positions 6, 7, 8, 9, 0, 1, 3 and 4, in that order, positions past its
// end reading as its end: yyyymmdd for a text that begins mm/dd/yyyy,
// whatever follows.
uint32_t RecordDateCode(const char* dateText, uint32_t dateTextSize);

}  // namespace orr
