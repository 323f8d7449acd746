// Orrivane_GetBIOSFileInfo on whole images against the floor of reading the
// same file in 32 KiB chunks and one memchr pass over its bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "against_floor.h"
#include "bench_images.h"
#include "bench_machine.h"
#include "firmware_content.h"
#include "orrivane.h"
#include "testbed.h"

namespace bench {
namespace {

struct Outputs {
  char model[60], id[100], version[60], date[32];
  uint32_t dateCode, identityRecordFound;
};

uint32_t Analyse(const BenchImage& image, Outputs& out) {
  return Orrivane_GetBIOSFileInfo(image.path.c_str(), out.model, out.id, out.version, out.date, &out.dateCode,
                                  &out.identityRecordFound);
}

// What a loader cannot avoid: open, measure, read in 32 KiB chunks into a
// fresh buffer, close, and look at every byte once.
size_t ReadAndScan(const BenchImage& image) {
  std::FILE* file = std::fopen(image.path.c_str(), "rb");
  if (!file) return 0;
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  if (size <= 0) {
    std::fclose(file);
    return 0;
  }
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
  long done = 0;
  while (done < size) {
    const long want = size - done < 0x8000 ? size - done : 0x8000;
    const size_t got = std::fread(bytes.get() + done, 1, want, file);
    if (got == 0) break;
    done += static_cast<long>(got);
  }
  std::fclose(file);
  return MemchrPass(bytes.get(), done, image.floorByte) + static_cast<size_t>(done);
}

void BM_GetBIOSFileInfo(benchmark::State& state, ImageKind kind) {
  const BenchImage& image = ImageFile(kind, static_cast<uint32_t>(state.range(0)));
  if (!StartDetectedMachine()) {
    state.SkipWithError("the machine was not detected");
    return;
  }
  Outputs out = {};
  const uint32_t first = Analyse(image, out);
  if (first != 0 || out.identityRecordFound != image.identityRecordFound || image.model != out.model) {
    state.SkipWithError(("unexpected analysis: result " + std::to_string(first) + ", model " + out.model).c_str());
    return;
  }
  uint32_t result = 0;
  size_t floorHits = 0;
  RunAgainstFloor(
      state, image.size, [&] { result |= Analyse(image, out); }, [&] { floorHits += ReadAndScan(image); },
      [] { tb::ClearRecords(); });
  benchmark::DoNotOptimize(floorHits);
  if (result != 0) state.SkipWithError("an analysis failed");
}

void ImageSizes(benchmark::internal::Benchmark* b) {
  for (int mib : {1, 4, 16, 32}) b->Arg(mib << 20);
  b->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_GetBIOSFileInfo, identity_record, ImageKind::IdentityRecord)->Apply(ImageSizes);
BENCHMARK_CAPTURE(BM_GetBIOSFileInfo, award_compressed, ImageKind::AwardCompressed)->Apply(ImageSizes);

}  // namespace
}  // namespace bench
