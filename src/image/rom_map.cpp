#include "image/rom_map.h"

#include <cstring>

#include "firmware/identity_area.h"
#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "image/image_block.h"
#include "image/load_image.h"
#include "state/module_state.h"

namespace orr {
namespace {

constexpr Marker kLh5 = MakeMarker("-lh5-");
constexpr Marker kLh0 = MakeMarker("-lh0-");
constexpr uint32_t kMethodOffset = 2;
constexpr uint32_t kPackedSizeOffset = 7;
constexpr uint32_t kZeroWordOffset = 15;
constexpr uint32_t kBiosWordOffset = 17;
constexpr uint16_t kSystemBiosWord = 0x5000;

constexpr uint32_t kRomMapLast = 0x1FFF0;
constexpr uint32_t kBRomMapSize = 36;
constexpr uint32_t kNRomMapSize = 32;
constexpr uint32_t kBRegionWords = 20;
constexpr uint32_t kNRegionWords = 16;
constexpr uint32_t kBoundaryStep = 0x10000;
constexpr uint32_t kFSegmentInOutput = 0x10000;

constexpr uint32_t kRomMapStep = 16;

void ReadRegions(ByteView tail, uint32_t wordsAt, RomRegion (&regions)[2]) {
  for (uint32_t i = 0; i < 2; ++i) regions[i] = RomRegion{tail.U32(wordsAt + 8 * i), tail.U32(wordsAt + 8 * i + 4)};
}

bool MemberFits(ByteView image, uint32_t at) {
  uint64_t length = MemberLength(image.Sub(at));
  return length <= kWorkBlockSize && image.Contains(at, static_cast<uint32_t>(length));
}

bool IsMemberAt(ByteView image, uint32_t at) { return IsSystemBiosMember(image.Sub(at)) && MemberFits(image, at); }

// Walks the headers of one region. Regions that do not lie inside the image
// are skipped; each step is at least 4 bytes and cannot wrap, so the walk ends.
uint32_t WalkRegion(ByteView image, RomRegion region) {
  if (region.first == 0 || region.end == 0) return kNotFound;
  uint32_t position = region.first + image.size();
  uint32_t stop = region.end + image.size();
  if (position >= image.size() || stop > image.size()) return kNotFound;
  uint64_t at = position;
  while (at < stop) {
    if (IsMemberAt(image, static_cast<uint32_t>(at))) return static_cast<uint32_t>(at);
    at += MemberLength(image.Sub(static_cast<uint32_t>(at)));
  }
  return kNotFound;
}

uint32_t TestBoundaries(ByteView image) {
  for (uint32_t i = 0; i < image.size() / kBoundaryStep; ++i)
    if (IsMemberAt(image, i * kBoundaryStep)) return i * kBoundaryStep;
  return kNotFound;
}

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

uint32_t IsSystemBiosMember(ByteView header) {
  if (!header.Matches(kMethodOffset, kLh5) && !header.Matches(kMethodOffset, kLh0)) return 0;
  return header.U16(kBiosWordOffset) == kSystemBiosWord && header.U16(kZeroWordOffset) == 0 ? 1 : 0;
}

uint64_t MemberLength(ByteView header) {
  return static_cast<uint64_t>(header.U8(0)) + header.U32(kPackedSizeOffset) + 4;
}

RomMaps FindRomMaps(ByteView tail) {
  // One pass down the steps, each compared with the B marker and, failing
  // that, the N marker: the first match of a kind is its last record. A
  // record whose region words would pass the image's end is passed over.
  RomMaps maps = {};
  if (tail.size() < kNRomMapSize) return maps;
  const uint32_t highest = tail.size() - kNRomMapSize < kRomMapLast ? tail.size() - kNRomMapSize : kRomMapLast;
  for (uint32_t at = highest / kRomMapStep * kRomMapStep;; at -= kRomMapStep) {
    if (tail.Matches(at, kBRomMap)) {
      if (!maps.hasB && tail.Contains(at, kBRomMapSize)) {
        maps.hasB = true;
        ReadRegions(tail, at + kBRegionWords, maps.b);
      }
    } else if (!maps.hasN && tail.Matches(at, kNRomMap)) {
      maps.hasN = true;
      ReadRegions(tail, at + kNRegionWords, maps.n);
    }
    if ((maps.hasB && maps.hasN) || at == 0) break;
  }
  return maps;
}

uint32_t FindSystemBiosMember(ByteView image) {
  const RomMaps maps = FindRomMaps(TailArea(image));
  if (!maps.hasB) return TestBoundaries(image);
  RomRegion walk[4];
  uint32_t count = 0;
  if (maps.hasN) {
    walk[count++] = maps.n[0];
    walk[count++] = maps.n[1];
  }
  walk[count++] = maps.b[0];
  walk[count++] = maps.b[1];
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t at = WalkRegion(image, walk[i]);
    if (at != kNotFound) return at;
  }
  return kNotFound;
}

uint32_t ExtractImageIdentity(ImageSlot& slot) {
  HGLOBAL output = GlobalAlloc(GHND, kWorkBlockSize);
  HGLOBAL member = output ? GlobalAlloc(GHND, kWorkBlockSize) : nullptr;
  if (!member) return Fail(kImageNoWorkMemory, slot, output, member);

  ByteView image = LockImage(slot);
  if (!image.data()) return Fail(kImageCannotLock, slot, output, member);
  uint32_t at = FindSystemBiosMember(image);
  // Without a member there is nothing to expand: handing the service an
  // arbitrary header would only report its failure as the image's.
  if (at == kNotFound) {
    UnlockImage(slot);
    return Fail(kImageNotRecognised, slot, output, member);
  }
  void* copy = GlobalLock(member);
  if (!copy) {
    UnlockImage(slot);
    return Fail(kImageNoWorkMemory, slot, output, member);
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
    return kImageServiceRefused;
  }
  // A status request that writes no error number must not read as success.
  serviceError = kImageNoServiceStatus;
  CallImageService(kRequestImageStatus, block, output, slot.block, serviceError);
  uint32_t status = serviceError;
  CallImageService(kRequestImageFinish, block, output, slot.block, serviceError);
  // The member block stays ours; the service is done with it after the last request.
  ReleaseBlock(member);
  if (status != 0) return Fail(status, slot, output, member);

  ByteView expanded = LockBlock(output, kWorkBlockSize);
  if (!expanded.data()) return Fail(kImageNoWorkMemory, slot, output, member);
  ReadIdentityArea(expanded.Sub(kFSegmentInOutput, kFAreaSize),
                   IdentityFields{ImageBios.idString, ImageBios.modelName, ImageBios.versionText,
                                  ImageBios.dateText, &ImageBios.dateCode});
  UnlockBlock(output);
  ReleaseBlock(output);
  return kImageOk;
}

}  // namespace orr
