// The service library's member expansion on its own: the input is the
// member block. It is expanded straight from a buffer of exactly its size,
// then once more through the image requests with the 128 KiB blocks the
// image analysis hands over.
#include <cstring>
#include <memory>
#include <vector>

#include "harness.h"
#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "lzh_expansion.h"

namespace {

constexpr uint32_t kBlock = orr::kWorkBlockSize;

uint32_t Expand(const uint8_t* data, uint32_t size, uint32_t maxSize, std::vector<uint8_t>& out) {
  uint32_t outcome = tb::ExpandMember(orr::ByteView(data, size), maxSize, out);
  FZ_REQUIRE(outcome == tb::kExpandOk || (outcome >= tb::kExpandBadHeader && outcome <= tb::kExpandDecoderFailed));
  FZ_REQUIRE(out.size() <= maxSize && out.size() <= tb::kMaxExpandedSize);
  if (outcome == tb::kExpandOk) {
    // What came out is exactly the original size the header names.
    FZ_REQUIRE(out.size() == orr::ByteView(data, size).U32(11));
  } else {
    FZ_REQUIRE(out.empty());
  }
  return outcome;
}

// The three image requests, as the image analysis makes them.
void ExpandThroughService(const uint8_t* data, uint32_t size, uint32_t direct, const std::vector<uint8_t>& expanded) {
  HGLOBAL output = GlobalAlloc(GHND, kBlock);
  HGLOBAL member = GlobalAlloc(GHND, kBlock);
  FZ_REQUIRE(output && member);
  std::memcpy(GlobalLock(member), data, size < kBlock ? size : kBlock);
  GlobalUnlock(member);

  orr::ImageServiceBlock block;
  std::memset(&block, 0, sizeof block);
  block.outputBlock = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(output));
  block.inputBlock = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(member));
  uint32_t serviceError = 0xFFFFFFFF;
  FZ_REQUIRE(BiosServiceCall(orr::kRequestExpandMember, &block, sizeof block, 0, 0, &serviceError));
  BiosServiceCall(orr::kRequestImageStatus, &block, sizeof block, 0, 0, &serviceError);
  const uint32_t status = serviceError;
  BiosServiceCall(orr::kRequestImageFinish, &block, sizeof block, 0, 0, &serviceError);

  // The expansion never grows or replaces the output block.
  FZ_REQUIRE(GlobalSize(output) == kBlock && GlobalSize(member) == kBlock);
  // A member that lies whole in the input expands the same way from the
  // block, into the block's last bytes and nowhere else.
  if (size <= kBlock && direct == tb::kExpandOk) {
    FZ_REQUIRE(status == tb::kExpandOk);
    const uint8_t* out = static_cast<const uint8_t*>(GlobalLock(output));
    const uint32_t front = kBlock - static_cast<uint32_t>(expanded.size());
    for (uint32_t i = 0; i < front; ++i) FZ_REQUIRE(out[i] == 0);
    FZ_REQUIRE(expanded.empty() || std::memcmp(out + front, expanded.data(), expanded.size()) == 0);
    GlobalUnlock(output);
  }
  GlobalFree(member);
  GlobalFree(output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x40000) return 0;
  static const tb::Machine machine;
  fz::StartWith(machine);
  // A copy of exactly the input's size: a read past it is caught.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  std::vector<uint8_t> out;
  const uint32_t direct = Expand(copy.get(), static_cast<uint32_t>(size), kBlock, out);
  ExpandThroughService(copy.get(), static_cast<uint32_t>(size), direct, out);
  // A smaller output block bounds the expansion too.
  std::vector<uint8_t> small;
  Expand(copy.get(), static_cast<uint32_t>(size), 0x10000, small);
  fz::RequireNothingOutstanding();
  fz::RequireKnownRequests();
  fz::EndRun();
  return 0;
}
