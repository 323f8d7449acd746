// The image requests of the service library (group 200).
//
// 0x00C800CD expands the member at the start of the member block into the
// output block, so that the expanded bytes end at the block's end (a 64 KiB
// system BIOS fills the upper half of the 128 KiB block). It returns 0 only
// when it cannot take the request: a block of the wrong size, a handle that
// names no block, or a machine that refuses the request. A member that
// cannot be expanded is accepted and leaves the output block untouched; the
// next request reports why.
// 0x00C800CC writes the outcome for the output block to serviceError: 0, or
// one of the kExpand* numbers of lzh_member.h; a machine's
// imageServiceError takes the place of the outcome, and a machine's
// statusFailsSilently makes it fail without writing serviceError.
// 0x00C800CE forgets the outcome for the output block.
// A machine's scribbleImageBlock makes every image request leave
// kScribbleWord in the block's words at offsets 1024 to 1039, as a service
// library may use the block for its own ends; the library sets the words it
// relies on before each request.
// A profile states these faults in its "service" object: "refuseExpand":
// true refuses every expand request, "imageError": N is the status
// request's serviceError, "statusFailsSilently": true fails it without one,
// "scribbleBlock": true scribbles on the block.
#include <algorithm>

#include "hwaccess/contract.h"
#include "lzh_expansion.h"
#include "state.h"

namespace tb {

namespace {

orr::ByteView View(const BlockBytes& bytes) {
  return orr::ByteView(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

BOOL Expand(const orr::ImageServiceBlock& block) {
  State& s = S();
  BlockBytes* output = GlobalBlockBytes(block.outputBlock);
  BlockBytes* member = GlobalBlockBytes(block.inputBlock);
  if (s.machine.refuseExpand || !output || !member || output == member) return FALSE;

  std::vector<uint8_t> expanded;
  uint32_t outcome = ExpandMember(View(*member), static_cast<uint32_t>(output->size()), expanded);
  if (outcome == kExpandOk) std::copy(expanded.begin(), expanded.end(), output->end() - expanded.size());
  s.expansions[block.outputBlock] = outcome;
  return TRUE;
}

BOOL Status(const orr::ImageServiceBlock& block, uint32_t* serviceError) {
  State& s = S();
  if (s.machine.statusFailsSilently) return FALSE;
  auto it = s.expansions.find(block.outputBlock);
  uint32_t outcome = it == s.expansions.end() ? kExpandNotDone : it->second;
  if (s.machine.imageServiceError) outcome = *s.machine.imageServiceError;
  if (serviceError) *serviceError = outcome;
  return outcome == kExpandOk;
}

BOOL Answer(uint32_t request, const orr::ImageServiceBlock& b, uint32_t* serviceError) {
  switch (request) {
    case orr::kRequestExpandMember:
      return Expand(b);
    case orr::kRequestImageStatus:
      return Status(b, serviceError);
    case orr::kRequestImageFinish:
      S().expansions.erase(b.outputBlock);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

BOOL ImageServiceCall(uint32_t request, void* block, uint32_t blockSize, uint32_t* serviceError) {
  if (!block || blockSize != sizeof(orr::ImageServiceBlock)) return FALSE;
  auto& b = *static_cast<orr::ImageServiceBlock*>(block);
  const BOOL answer = Answer(request, b, serviceError);
  if (S().machine.scribbleImageBlock) b.outputBlock = b.inputBlock = b.zero1032 = b.zero1036 = kScribbleWord;
  return answer;
}

}  // namespace tb
