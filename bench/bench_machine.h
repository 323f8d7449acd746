// Simulated machines of the benchmarks, each built once per run, and the
// step that installs one with the library back in its load-time state.
#pragma once

#include <cstdint>

#include "testbed.h"

namespace bench {

void StartMachine(const tb::Machine& machine);

// A BiosType 2 machine that Orrivane_Initialize detects, so the image export
// runs; false when the detection fails.
bool StartDetectedMachine();

// BiosType 0 whose SMBIOS ROM size code makes a tag window of windowSize
// bytes (64 KiB to 16 MiB) below 4 GiB, filled with firmware, "$ZTEXFIRM"
// at the last offset where it fits.
const tb::Machine& FirmwareTagMachine(uint32_t windowSize);

// BiosType 4 with a flash part of flashSize bytes, filled with firmware and
// holding its AMI identity record (version 4) 256 bytes before its end.
const tb::Machine& FlashRecordMachine(uint32_t flashSize);
constexpr char kFlashRecordModel[] = "BENCH4(DELUXE)";

}  // namespace bench
