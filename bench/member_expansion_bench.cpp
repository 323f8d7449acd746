// The testbed's expansion of a 128 KiB system BIOS member (request
// 0x00C800CD through BiosServiceCall) against liblhasa decoding the same
// LH5 stream alone.
#include <benchmark/benchmark.h>
#include <lha_decoder.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "against_floor.h"
#include "bench_machine.h"
#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "image_builder.h"
#include "lzh_member.h"
#include "machine_builder.h"

namespace bench {
namespace {

constexpr uint32_t kBiosSize = 0x20000;

struct Feed {
  const uint8_t* bytes;
  size_t size;
  size_t at;
};

size_t FeedDecoder(void* buf, size_t len, void* user) {
  Feed* feed = static_cast<Feed*>(user);
  const size_t n = len < feed->size - feed->at ? len : feed->size - feed->at;
  std::memcpy(buf, feed->bytes + feed->at, n);
  feed->at += n;
  return n;
}

// liblhasa alone: a decoder over the packed bytes, read until the original
// size has come out.
size_t DecodeAlone(const uint8_t* packed, size_t packedSize, uint8_t* out, size_t outSize) {
  char name[] = "-lh5-";
  LHADecoderType* type = lha_decoder_for_name(name);
  Feed feed{packed, packedSize, 0};
  LHADecoder* decoder = type ? lha_decoder_new(type, FeedDecoder, &feed, outSize) : nullptr;
  if (!decoder) return 0;
  size_t got = 0;
  while (got < outSize) {
    const size_t n = lha_decoder_read(decoder, out + got, outSize - got);
    if (n == 0) break;
    got += n;
  }
  lha_decoder_free(decoder);
  return got;
}

void BM_ExpandSystemBiosMember(benchmark::State& state) {
  const std::vector<uint8_t> bios = tb::SystemBios(kBiosSize, "BENCH BIOS", "X03/15/2009-R1.02-BENCH-00", "<BENCH>");
  const std::vector<uint8_t> member = tb::LzhMember("bios.rom", bios, tb::LzhMethod::Lh5, true);
  const uint32_t dataAt = member[0] + 2u;  // no extended headers

  StartMachine(tb::MachineBuilder().Nt());
  HGLOBAL output = GlobalAlloc(GHND, orr::kWorkBlockSize);
  HGLOBAL input = GlobalAlloc(GHND, orr::kWorkBlockSize);
  orr::ImageServiceBlock block = {};
  block.outputBlock = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(output));
  block.inputBlock = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(input));
  tb::BlockBytes& memberBlock = *tb::GlobalBlockBytes(block.inputBlock);
  std::copy(member.begin(), member.end(), memberBlock.begin());

  uint32_t serviceError = 1;
  BOOL accepted = BiosServiceCall(orr::kRequestExpandMember, &block, sizeof block, 0, 0, &serviceError);
  BiosServiceCall(orr::kRequestImageStatus, &block, sizeof block, 0, 0, &serviceError);
  std::vector<uint8_t> alone(kBiosSize);
  const size_t aloneSize = DecodeAlone(member.data() + dataAt, member.size() - dataAt, alone.data(), alone.size());
  const tb::BlockBytes& expanded = *tb::GlobalBlockBytes(block.outputBlock);
  if (!accepted || serviceError != 0 || !std::equal(expanded.begin(), expanded.end(), bios.begin(), bios.end()) ||
      aloneSize != kBiosSize || alone != bios) {
    state.SkipWithError("the member does not expand to the system BIOS");
  } else {
    BOOL all = TRUE;
    size_t floorBytes = 0;
    RunAgainstFloor(
        state, kBiosSize,
        [&] { all &= BiosServiceCall(orr::kRequestExpandMember, &block, sizeof block, 0, 0, &serviceError); },
        [&] { floorBytes += DecodeAlone(member.data() + dataAt, member.size() - dataAt, alone.data(), alone.size()); },
        [] { tb::ClearRecords(); });
    benchmark::DoNotOptimize(floorBytes);
    if (!all) state.SkipWithError("an expansion was refused");
  }
  GlobalFree(output);
  GlobalFree(input);
}

BENCHMARK(BM_ExpandSystemBiosMember)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bench
