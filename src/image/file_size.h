// Orrivane_GetBIOSFileSize's work.
#pragma once

#include <cstdint>

namespace orr {

// The size of a file opened for reading and writing, or 0 when it cannot be
// opened so, its status cannot be read, or it is larger than 2 GiB - 1.
int32_t ReadFileSize(const char* path);

}  // namespace orr
