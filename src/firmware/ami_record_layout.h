// The AMI identity record: the tag "$ZANTAMI$", a version byte, then an
// offset table (version 1) or a list of NUL-terminated texts (version 2 and
// later: model, identification, date, version, edition, description,
// build version).
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

}  // namespace orr
