// Splits the date-and-version text of the F-segment identity area into the
// date text, the date code and the version text.
#pragma once

#include <cstdint>

#include "common/byte_view.h"

namespace orr {

constexpr uint32_t kVersionTextSize = 60;

// text: the bytes from the text's first character to the end of its
// window; reads past the window's end see NUL. dateText receives at most
// 10 characters and a NUL. A text without "-", or without the model name
// behind the version text's first character, gives an empty versionText;
// so does an empty model name.
void DecodeDateVersionString(ByteView text, char* versionText, const char* modelName, char* dateText,
                             uint32_t* dateCode);

}  // namespace orr
