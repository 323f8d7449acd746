#include "bench_machine.h"

#include <map>

#include "firmware_builders.h"
#include "firmware_content.h"
#include "state/module_state.h"
#include "library_reset.h"
#include "machine_builder.h"
#include "orrivane.h"

namespace bench {
namespace {

// The F segment as firmware holds it, with the SMBIOS entry point and table.
void WriteFSegment(tb::MachineBuilder& b, uint8_t romSizeCode) {
  b.FSegmentBytes(0, FirmwareBody(0x10000, 0xF5E6));
  tb::WriteSmbios(b, {}, tb::SmbiosTable({tb::SmbiosBiosInformation(romSizeCode), tb::SmbiosChassis(0x0D)}));
}

}  // namespace

void StartMachine(const tb::Machine& machine) {
  tb::StartLibraryOn(machine);
}

bool StartDetectedMachine() {
  StartMachine(tb::MachineBuilder().Nt().BiosType(2));
  const bool detected = Orrivane_Initialize() == 1;
  tb::ClearRecords();
  return detected;
}

const tb::Machine& FirmwareTagMachine(uint32_t windowSize) {
  static std::map<uint32_t, tb::MachineBuilder> made;
  auto it = made.find(windowSize);
  if (it != made.end()) return it->second;
  tb::MachineBuilder b;
  b.Nt().BiosType(0);
  WriteFSegment(b, static_cast<uint8_t>(windowSize / 0x10000 - 1));
  const uint32_t start = 0u - windowSize;
  b.Bytes(start, FirmwareBody(windowSize, windowSize ^ 0x7A7A));
  b.Text(start + windowSize - 10, "$ZTEXFIRM");  // its NUL is the window's last byte
  return made.emplace(windowSize, b).first->second;
}

const tb::Machine& FlashRecordMachine(uint32_t flashSize) {
  static std::map<uint32_t, tb::MachineBuilder> made;
  auto it = made.find(flashSize);
  if (it != made.end()) return it->second;
  tb::MachineBuilder b;
  b.Nt().BiosType(4).FlashSize(flashSize);
  WriteFSegment(b, static_cast<uint8_t>(flashSize > 0x1000000 ? 0xFF : flashSize / 0x10000 - 1));
  b.Bytes(0u - flashSize, FirmwareBody(flashSize, flashSize ^ 0x4B4B));
  tb::WriteAmiRecordInFlash(b, flashSize, flashSize - 256, 4,
                            tb::AmiTexts{"BENCH4", "BENCH BOARD 4 BIOS", "03/15/2009", "R4.01", "DELUXE",
                                         "Bench board four", ""});
  return made.emplace(flashSize, b).first->second;
}

}  // namespace bench
