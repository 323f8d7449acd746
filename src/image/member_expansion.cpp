#include "image/member_expansion.h"

#include <cstring>

#include "firmware/identity_area.h"
#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "image/image_layout.h"
#include "image/member_search.h"
#include "orrivane.h"
#include "state/module_state.h"

namespace orr {
namespace {

constexpr uint32_t kFSegmentInOutput = 0x10000;

// Releases whatever of the call's blocks are still held, image included.
uint32_t Fail(uint32_t result, ImageSlot& slot, HGLOBAL& output, HGLOBAL& member) {
  ReleaseBlock(member);
  ReleaseBlock(output);
  ReleaseImage(slot);
  return result;
}

// Both handle words are written before every request: the service library
// may have used the block between requests. The other words and the first
// 1024 bytes stay as the previous request left them.
uint32_t CallImageService(uint32_t request, ImageServiceBlock& block, HGLOBAL output, HGLOBAL input,
                          uint32_t& serviceError) {
  block.outputBlock = HandleWord(output);
  block.inputBlock = HandleWord(input);
  return BiosServiceCall(request, &block, sizeof block, 0, 0, &serviceError) ? 1 : 0;
}

}  // namespace

uint32_t ExtractImageIdentity(ImageSlot& slot) {
  HGLOBAL output = GlobalAlloc(GHND, kWorkBlockSize);
  HGLOBAL member = output ? GlobalAlloc(GHND, kWorkBlockSize) : nullptr;
  if (!member) return Fail(ORRIVANE_ERR_WORK, slot, output, member);

  ByteView image = LockImage(slot);
  if (!image.data()) return Fail(ORRIVANE_ERR_LOCK, slot, output, member);
  uint32_t at = FindSystemBiosMember(image);
  // Without a member there is nothing to expand: handing the service an
  // arbitrary header would only report its failure as the image's.
  if (at == kNotFound) {
    UnlockImage(slot);
    return Fail(ORRIVANE_ERR_UNKNOWN, slot, output, member);
  }
  void* copy = GlobalLock(member);
  if (!copy) {
    UnlockImage(slot);
    return Fail(ORRIVANE_ERR_WORK, slot, output, member);
  }
  ByteView memberBytes = image.Sub(at, static_cast<uint32_t>(MemberLength(image.Sub(at))));
  std::memcpy(copy, memberBytes.data(), memberBytes.size());
  GlobalUnlock(member);
  UnlockImage(slot);

  ImageServiceBlock block;
  std::memset(&block, 0, sizeof block);
  uint32_t serviceError = 0;
  if (!CallImageService(kRequestExpandMember, block, output, member, serviceError)) {
    ReleaseBlock(member);
    ReleaseBlock(output);
    return ORRIVANE_ERR_SERVICE;
  }
  // A status request that writes no error number must not read as success.
  serviceError = ORRIVANE_ERR_NO_STATUS;
  CallImageService(kRequestImageStatus, block, output, slot.block, serviceError);
  uint32_t status = serviceError;
  CallImageService(kRequestImageFinish, block, output, slot.block, serviceError);
  // The member block stays ours; the service is done with it after the last request.
  ReleaseBlock(member);
  if (status != 0) return Fail(status, slot, output, member);

  ByteView expanded = LockBlock(output, kWorkBlockSize);
  if (!expanded.data()) return Fail(ORRIVANE_ERR_WORK, slot, output, member);
  ReadIdentityArea(expanded.Sub(kFSegmentInOutput, kFAreaSize),
                   IdentityFields{ImageBios.idString, ImageBios.modelName, ImageBios.versionText,
                                  ImageBios.dateText, &ImageBios.dateCode});
  UnlockBlock(output);
  ReleaseBlock(output);
  return ORRIVANE_OK;
}

}  // namespace orr
