// BiosServiceCall, ordinal 1 of the service library: request code, block,
// block size, two arguments that are always 0, and the serviceError out.
#pragma once

#include <windows.h>

#include <cstdint>

extern "C" BOOL WINAPI BiosServiceCall(uint32_t request, void* block, uint32_t blockSize, uint32_t reserved4,
                                       uint32_t reserved5, uint32_t* serviceError);
