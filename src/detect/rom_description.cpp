// descriptionText from the "$ZANTAWARD" marker of the F segment, which
// points at the text elsewhere in the segment.
#include "detect/rom_description.h"

#include <cstring>

#include "hwaccess/primitives.h"
#include "state/module_state.h"

namespace orr {
namespace {

constexpr Marker kMarker = MakeMarker("$ZANTAWARD");
constexpr uint32_t kLastMarker = 0xFFEF;
constexpr uint32_t kTextPointer = 18;

}  // namespace

void ReadROMDescription(uint32_t driver) {
  Window fsegment = OpenFSegment(driver);
  const ByteView f = fsegment.bytes;
  // Every marker is followed, so the last one in the segment decides. A
  // marker whose pointer word is cut by the window's end is passed over.
  f.ForEachMatch(kMarker, 0, 1, kLastMarker, [&](uint32_t at) {
    if (!f.Contains(at + kTextPointer, 2)) return true;
    // The whole field is cleared so nothing of an earlier text stays behind
    // a shorter one; a text near the window's end stops there.
    std::memset(MachineBios.descriptionText, 0, sizeof MachineBios.descriptionText);
    f.CopyText(f.U16(at + kTextPointer), MachineBios.descriptionText, kDescriptionTextLength + 1);
    return true;
  });
  CloseWindow(driver, fsegment);
}

}  // namespace orr
