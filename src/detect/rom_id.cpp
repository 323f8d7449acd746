// romId: the first run of eight letters and digits found at a 16-byte
// boundary of the last 64 KiB below 4 GiB, searched from the top down.
#include "detect/rom_id.h"

#include "hwaccess/primitives.h"
#include "state/module_state.h"

namespace orr {
namespace {

constexpr uint32_t kWindowPhysical = 0xFFFF0000;
constexpr uint32_t kWindowLength = 0xFFFE;
constexpr uint32_t kHighestCandidate = 0xFFE0;
constexpr uint32_t kLowestCandidate = 0xF000;
constexpr uint32_t kCandidateStep = 16;
constexpr uint32_t kTested = 8;
constexpr uint32_t kKept = 5;
static_assert(sizeof MachineBios.romId == kKept + 1);

bool IsAsciiAlphanumeric(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool Qualifies(ByteView window, uint32_t at) {
  if (!window.Contains(at, kTested)) return false;
  for (uint32_t i = 0; i < kTested; ++i)
    if (!IsAsciiAlphanumeric(window.U8(at + i))) return false;
  return true;
}

}  // namespace

void FindRomId(uint32_t driver) {
  Window window = OpenHighWindow(driver, kWindowPhysical, kWindowLength);
  for (uint32_t at = kHighestCandidate; at >= kLowestCandidate; at -= kCandidateStep) {
    if (!Qualifies(window.bytes, at)) continue;
    window.bytes.CopyText(at, MachineBios.romId, kKept + 1);  // no NUL among letters and digits
    break;
  }
  CloseWindow(driver, window);
}

}  // namespace orr
