#include "common/byte_view.h"

#include "common/pair_scan.h"

namespace orr {
namespace {

// The backward search looks for a match in stretches of this many start
// offsets, each with the forward filter, and looks for the last one only in
// the highest stretch that holds one.
constexpr uint32_t kBackwardStretch = 0x4000;
// The first window from the top of that stretch searched for the last one.
constexpr uint32_t kFirstWindow = 64;
// Steps up to this use the forward filter and keep the hits on the grid;
// longer ones test the grid's offsets one by one, which is then cheaper.
constexpr uint32_t kFilteredStep = 32;

bool MatchAt(const uint8_t* data, uint64_t at, Marker marker) {
  return data[at] == static_cast<uint8_t>(marker.bytes[0]) &&
         std::memcmp(data + at + 1, marker.bytes + 1, marker.size - 1) == 0;
}

// The first start offset in [from, to] where the whole marker lies; the
// caller has made sure the marker fits at to.
uint32_t FindForward(const uint8_t* data, uint32_t from, uint32_t to, Marker marker) {
  const uint8_t head = static_cast<uint8_t>(marker.bytes[0]);
  if (marker.size == 1) {
    const void* hit = std::memchr(data + from, head, static_cast<size_t>(to - from) + 1);
    return hit ? static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - data) : kNotFound;
  }
  // The marker's second byte lies inside the view for every start up to to,
  // so the filter may read data[to + 1].
  const uint8_t second = static_cast<uint8_t>(marker.bytes[1]);
  const uint32_t end = to + 1;
  uint32_t at = from;
  while (at < end) {
    at = FindBytePair(data, at, end, head, second);
    if (at == end) return kNotFound;
    if (std::memcmp(data + at + 2, marker.bytes + 2, marker.size - 2) == 0) return at;
    ++at;
  }
  return kNotFound;
}

// The last match in [low, high], where one is known to lie: windows of
// doubling width from the top, each searched forward, the first that holds
// a match stepped through to its last. Dense matches cost one small window,
// sparse ones about twice the distance from the top.
uint32_t LastInStretch(const uint8_t* data, uint32_t low, uint32_t high, Marker marker) {
  uint32_t top = high;
  for (uint32_t width = kFirstWindow;; width *= 2) {
    const uint32_t bottom = top - low >= width ? top - (width - 1) : low;
    uint32_t last = FindForward(data, bottom, top, marker);
    if (last != kNotFound) {
      while (last < top) {
        const uint32_t next = FindForward(data, last + 1, top, marker);
        if (next == kNotFound) break;
        last = next;
      }
      return last;
    }
    if (bottom == low) return kNotFound;
    top = bottom - 1;
  }
}

uint32_t FindBackward(const uint8_t* data, uint32_t from, uint32_t to, Marker marker) {
  uint32_t high = to;
  for (;;) {
    const uint32_t low = high - from >= kBackwardStretch ? high - (kBackwardStretch - 1) : from;
    if (FindForward(data, low, high, marker) != kNotFound) return LastInStretch(data, low, high, marker);
    if (low == from) return kNotFound;
    high = low - 1;
  }
}

// The first hit on the grid first, first + step, ... up to stop.
uint32_t FindForwardOnGrid(const uint8_t* data, uint32_t first, uint32_t step, uint32_t stop, Marker marker) {
  uint32_t at = first;
  for (;;) {
    const uint32_t hit = FindForward(data, at, stop, marker);
    if (hit == kNotFound) return kNotFound;
    const uint32_t off = (hit - first) % step;
    if (off == 0) return hit;
    const uint64_t next = static_cast<uint64_t>(hit) + (step - off);
    if (next > stop) return kNotFound;
    at = static_cast<uint32_t>(next);
  }
}

// The last hit on that grid: stretch by stretch from the top, the last grid
// hit of the highest stretch that has one.
uint32_t FindBackwardOnGrid(const uint8_t* data, uint32_t first, uint32_t step, uint32_t stop, Marker marker) {
  uint32_t high = first + (stop - first) / step * step;
  for (;;) {
    const uint32_t low = high - first >= kBackwardStretch ? high - (kBackwardStretch - 1) : first;
    uint32_t found = kNotFound;
    for (uint32_t at = low;;) {
      const uint32_t hit = FindForward(data, at, high, marker);
      if (hit == kNotFound) break;
      const uint32_t off = (hit - first) % step;
      if (off == 0) found = hit;
      const uint64_t next = static_cast<uint64_t>(hit) + (step - off);
      if (next > high) break;
      at = static_cast<uint32_t>(next);
    }
    if (found != kNotFound) return found;
    if (low == first) return kNotFound;
    high = low - 1;
  }
}

}  // namespace

uint32_t ByteView::FindFirst(Marker marker, uint32_t first, uint32_t step, uint32_t last) const {
  uint32_t stop = LastStart(marker, last);
  if (stop == kNotFound || first > stop || step == 0) return kNotFound;
  if (step == 1) return FindForward(data_, first, stop, marker);
  if (step <= kFilteredStep) return FindForwardOnGrid(data_, first, step, stop, marker);
  for (uint64_t at = first; at <= stop; at += step)
    if (MatchAt(data_, at, marker)) return static_cast<uint32_t>(at);
  return kNotFound;
}

uint32_t ByteView::FindLast(Marker marker, uint32_t first, uint32_t step, uint32_t last) const {
  uint32_t stop = LastStart(marker, last);
  if (stop == kNotFound || first > stop || step == 0) return kNotFound;
  if (step == 1) return FindBackward(data_, first, stop, marker);
  if (step <= kFilteredStep) return FindBackwardOnGrid(data_, first, step, stop, marker);
  // Start from the highest offset on the step grid and walk down.
  uint64_t at = first + static_cast<uint64_t>((stop - first) / step) * step;
  for (;;) {
    if (MatchAt(data_, at, marker)) return static_cast<uint32_t>(at);
    if (at < static_cast<uint64_t>(first) + step) return kNotFound;
    at -= step;
  }
}

uint32_t ByteView::FindFirstOfEither(Marker a, Marker b, uint32_t first, uint32_t last) const {
  const uint32_t stopA = LastStart(a, last);
  const uint32_t stopB = LastStart(b, last);
  if (stopA == kNotFound || first > stopA) return FindFirst(b, first, 1, last);
  if (stopB == kNotFound || first > stopB) return FindFirst(a, first, 1, last);
  if (a.size == 1 || b.size == 1) {
    const uint32_t atA = FindFirst(a, first, 1, last);
    const uint32_t atB = FindFirst(b, first, 1, last);
    return atB < atA ? atB : atA;
  }
  // Both markers' second bytes lie inside the view for every start up to
  // their stops, so the filter may read data[end].
  const uint32_t end = (stopA > stopB ? stopA : stopB) + 1;
  const BytePair pairA{static_cast<uint8_t>(a.bytes[0]), static_cast<uint8_t>(a.bytes[1])};
  const BytePair pairB{static_cast<uint8_t>(b.bytes[0]), static_cast<uint8_t>(b.bytes[1])};
  for (uint32_t at = first; at < end; ++at) {
    at = FindEitherBytePair(data_, at, end, pairA, pairB);
    if (at == end) return kNotFound;
    if ((at <= stopA && MatchAt(data_, at, a)) || (at <= stopB && MatchAt(data_, at, b))) return at;
  }
  return kNotFound;
}

uint32_t ByteView::TextLength(uint32_t offset, uint32_t limit) const {
  if (offset >= size_) return 0;
  uint32_t rest = size_ - offset;
  uint32_t span = limit < rest ? limit : rest;
  const void* nul = std::memchr(data_ + offset, 0, span);
  return nul ? static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - (data_ + offset)) : span;
}

uint32_t ByteView::CopyText(uint32_t offset, char* dst, uint32_t dstSize) const {
  uint32_t whole = TextLength(offset);
  uint32_t take = whole < dstSize - 1 ? whole : dstSize - 1;
  if (take) std::memcpy(dst, data_ + offset, take);
  dst[take] = '\0';
  if (offset >= size_) return size_;
  uint32_t behind = offset + whole;
  return behind < size_ ? behind + 1 : size_;
}

}  // namespace orr
