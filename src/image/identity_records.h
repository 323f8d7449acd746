// The identity records an image states in plain bytes: the AMI identity
// record ("$ZANTAMI$"), the ZANTBIOS record and the "*MEO" model marker.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/byte_view.h"
#include "image/image_block.h"

namespace orr {

constexpr Marker kZantBiosMarker = MakeMarker("ZANTBIOS");
constexpr Marker kModelMarker = MakeMarker("*MEO");

// Applies the AMI identity record of the image in slot to ImageBios: the
// last version-1 record, else the first of a later version. A record whose
// texts do not end inside the image is passed over; of a version-1 record
// only the model, identification and date texts must, and a version text
// that does not leaves versionText empty. 1 when a record was applied; 0
// otherwise or when the block cannot be locked.
uint32_t ReadAmiRecord(const ImageSlot& slot);

// Sets idString and dateText to "N/A", then takes them from the first sound
// ZANTBIOS record of the tail area and modelName from the first "*MEO"
// marker. 1 when either was found or the image carries a B or N ROM map
// (FindRomMaps); 0 otherwise or when the block cannot be locked (then
// nothing changes).
uint32_t ReadImageTags(const ImageSlot& slot);

}  // namespace orr
