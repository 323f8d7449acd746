// The shared search helpers alone over 32 MiB of firmware that does not
// hold the marker, against one memchr pass over the same bytes.
#include <benchmark/benchmark.h>

#include <vector>

#include "against_floor.h"
#include "common/byte_view.h"
#include "firmware_content.h"

namespace bench {
namespace {

constexpr uint32_t kSearchSize = 32u << 20;

const std::vector<uint8_t>& Content() {
  static const std::vector<uint8_t> content = FirmwareBody(kSearchSize, 0x5EA7);
  return content;
}

template <typename Search>
void SearchAgainstFloor(benchmark::State& state, Search search) {
  const std::vector<uint8_t>& bytes = Content();
  const orr::ByteView view(bytes.data(), static_cast<uint32_t>(bytes.size()));
  uint32_t found = 0;
  size_t hits = 0;
  RunAgainstFloor(
      state, bytes.size(), [&] { found |= search(view); },
      [&] { hits += MemchrPass(bytes.data(), bytes.size(), kAbsentByte); });
  benchmark::DoNotOptimize(hits);
  if (found != orr::kNotFound) state.SkipWithError("the marker was found");
}

void BM_FindFirst(benchmark::State& state, orr::Marker marker) {
  SearchAgainstFloor(state, [marker](orr::ByteView v) { return v.FindFirst(marker); });
}

void BM_FindLast(benchmark::State& state, orr::Marker marker) {
  SearchAgainstFloor(state, [marker](orr::ByteView v) { return v.FindLast(marker); });
}

BENCHMARK_CAPTURE(BM_FindFirst, ami_tag, orr::MakeMarker("$ZANTAMI$"))->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindFirst, meo, orr::MakeMarker("*MEO"))->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindLast, ami_tag, orr::MakeMarker("$ZANTAMI$"))->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
