// The identity records an image states in plain bytes: the AMI identity
// record ("$ZANTAMI$"), the ZANTBIOS record and the "*MEO" model marker.
// Each step reads a view of the image's bytes; the classification locks
// the image block around each (load_image.cpp).
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

constexpr Marker kZantBiosMarker = MakeMarker("ZANTBIOS");
constexpr Marker kModelMarker = MakeMarker("*MEO");

// What the one pass over the whole image finds for both steps: the AMI
// identity record to apply, which is the last version-1 record whose
// texts end inside the image, else the first such record of a later
// version, and the first "*MEO" marker. Of a version-1 record only the
// model, identification and date texts must end inside the image; a
// version text that does not is kNotFound among its texts.
struct ImageMarks {
  bool searched;  // false: no pass has run (ImageMarks{} before one)
  uint32_t versionOne;
  uint32_t versionOneTexts[4];  // model, identification, date, version
  uint32_t later;
  uint32_t modelMarker;
};
ImageMarks FindImageMarks(ByteView image);

// Applies the record marks names to ImageBios. 1 when a record was
// applied; 0 otherwise or when no pass has run (nothing changes then).
uint32_t ReadAmiRecord(ByteView image, const ImageMarks& marks);

// Sets idString and dateText to "N/A", then takes them from the first sound
// ZANTBIOS record of the tail area and modelName from the first "*MEO"
// marker (looked for here when no pass has run). 1 when either was found
// or the image carries a B or N ROM map (FindRomMaps), else 0.
uint32_t ReadImageTags(ByteView image, const ImageMarks& marks);

}  // namespace orr
