// The detection behind Orrivane_Initialize: opens the access driver, asks
// for the BiosType, runs the probes that suit it and frees the driver.
#pragma once

#include <cstdint>

namespace orr {

constexpr char kMessageTitle[] = "ZANT ORRIVANE.DLL";
constexpr unsigned kMessageStyle = 0x30;  // exclamation icon, OK button
constexpr uint32_t kMessageBufferSize = 128;

// 1 when the machine's BIOS was detected, else 0 (after a message box).
uint32_t DetectMachineBios();

}  // namespace orr
