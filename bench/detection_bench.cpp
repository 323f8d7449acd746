// Orrivane_Initialize on machines whose detection scans a whole flash-sized
// window, against one memchr pass over the windows the detection maps.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "against_floor.h"
#include "bench_machine.h"
#include "firmware_content.h"
#include "hwaccess/contract.h"
#include "state/module_state.h"
#include "orrivane.h"
#include "testbed.h"

namespace bench {
namespace {

struct WindowBytes {
  std::vector<uint8_t> bytes;
  uint8_t floorByte;
};

// The windows the last detection mapped, with the bytes they showed.
std::vector<WindowBytes> MappedWindows() {
  std::vector<WindowBytes> windows;
  for (const tb::Request& r : tb::DriverRequests()) {
    if (r.code != orr::kIoctlMapPhysical || r.input.size() < 8) continue;
    uint32_t in[2];
    std::memcpy(in, r.input.data(), sizeof in);
    std::vector<uint8_t> bytes = tb::CurrentMachine().memory.Read(in[0], in[1]);
    const uint8_t floorByte = RarestByte(bytes.data(), bytes.size());
    windows.push_back(WindowBytes{std::move(bytes), floorByte});
  }
  return windows;
}

uint64_t TotalSize(const std::vector<WindowBytes>& windows) {
  uint64_t total = 0;
  for (const WindowBytes& w : windows) total += w.bytes.size();
  return total;
}

// check tells whether the first detection found what the machine holds.
template <typename Check>
void InitializeAgainstFloor(benchmark::State& state, const tb::Machine& machine, Check check) {
  StartMachine(machine);
  const uint32_t first = Orrivane_Initialize();
  if (first != 1 || !check()) {
    state.SkipWithError(("unexpected detection: result " + std::to_string(first)).c_str());
    return;
  }
  const std::vector<WindowBytes> windows = MappedWindows();
  tb::ClearRecords();
  uint32_t detected = 1;
  size_t floorHits = 0;
  RunAgainstFloor(
      state, TotalSize(windows), [&] { detected &= Orrivane_Initialize(); },
      [&] {
        for (const WindowBytes& w : windows) floorHits += MemchrPass(w.bytes.data(), w.bytes.size(), w.floorByte);
      },
      [] { tb::ClearRecords(); });
  benchmark::DoNotOptimize(floorHits);
  state.counters["windows_mib"] = static_cast<double>(TotalSize(windows)) / (1 << 20);
  if (!detected) state.SkipWithError("a detection failed");
}

void BM_Initialize_FirmwareTag(benchmark::State& state) {
  InitializeAgainstFloor(state, FirmwareTagMachine(static_cast<uint32_t>(state.range(0))),
                         [] { return MachineBios.firmwareTagFound == 1; });
}

void BM_Initialize_FlashRecord(benchmark::State& state) {
  InitializeAgainstFloor(state, FlashRecordMachine(static_cast<uint32_t>(state.range(0))),
                         [] { return std::strcmp(MachineBios.modelName, kFlashRecordModel) == 0; });
}

// The tag window is at most 16 MiB: the ROM size code is one byte.
BENCHMARK(BM_Initialize_FirmwareTag)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Arg(16 << 20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Initialize_FlashRecord)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Arg(16 << 20)
    ->Arg(32 << 20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
