// The module-wide identity records and flags. Zero at load, never freed or
// reset; the detection and the image analysis write only what they reach.
#pragma once

#include <cstdint>

namespace orr {

// Texts whose writers keep them shorter than their fields could hold.
constexpr uint32_t kDescriptionTextLength = 30;  // MachineBios.descriptionText
constexpr uint32_t kImageDateTextLength = 30;    // ImageBios.dateText

struct MachineBiosRecord {
  char romId[6];
  uint32_t dateCode;
  uint32_t biosType;
  char idString[100];
  char modelName[60];
  char versionText[60];
  char dateText[30];
  uint8_t logoFlags;
  uint32_t onboardLan;
  uint32_t flashSize;
  char descriptionText[32];  // at most kDescriptionTextLength characters
  char altModelName[60];
  uint32_t onboardDevices;
  // The access driver's two plug-in blocks as it answered them; the request
  // that fills one takes an array of exactly its contract size.
  uint8_t pluginBlockB[21];
  uint8_t pluginBlockA[21];
  uint8_t romSizeCode;
  uint32_t firmwareTagFound;
};

struct ImageBiosRecord {
  char buildText[16];  // not NUL-terminated when the build text has 16 characters or more
  uint32_t buildVersion;
  char idString[100];
  char modelName[60];
  char versionText[60];
  char dateText[32];  // at most kImageDateTextLength characters
  uint32_t dateCode;
  uint32_t amiTagFound;
};

static_assert(sizeof(MachineBiosRecord::descriptionText) > kDescriptionTextLength);
static_assert(sizeof(ImageBiosRecord::dateText) > kImageDateTextLength);

}  // namespace orr

extern orr::MachineBiosRecord MachineBios;
extern orr::ImageBiosRecord ImageBios;
extern uint32_t g_isNt;
extern uint32_t g_initialized;
