#include "image/member_search.h"

#include "hwaccess/contract.h"
#include "image/image_layout.h"
#include "image/rom_map.h"

namespace orr {
namespace {

constexpr Marker kLh5 = MakeMarker("-lh5-");
constexpr Marker kLh0 = MakeMarker("-lh0-");
constexpr uint32_t kMethodOffset = 2;
constexpr uint32_t kPackedSizeOffset = 7;
constexpr uint32_t kZeroWordOffset = 15;
constexpr uint32_t kBiosWordOffset = 17;
constexpr uint16_t kSystemBiosWord = 0x5000;
constexpr uint32_t kBoundaryStep = 0x10000;

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

}  // namespace

uint32_t IsSystemBiosMember(ByteView header) {
  if (!header.Matches(kMethodOffset, kLh5) && !header.Matches(kMethodOffset, kLh0)) return 0;
  return header.U16(kBiosWordOffset) == kSystemBiosWord && header.U16(kZeroWordOffset) == 0 ? 1 : 0;
}

uint64_t MemberLength(ByteView header) {
  return static_cast<uint64_t>(header.U8(0)) + header.U32(kPackedSizeOffset) + 4;
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

}  // namespace orr
