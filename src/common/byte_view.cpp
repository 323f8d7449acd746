#include "common/byte_view.h"

namespace orr {

uint32_t ByteView::FindFirst(Marker marker, uint32_t first, uint32_t step, uint32_t last) const {
  uint32_t stop = LastStart(marker, last);
  if (stop == kNotFound || first > stop || step == 0) return kNotFound;
  const uint8_t head = static_cast<uint8_t>(marker.bytes[0]);
  if (step == 1) {
    // memchr on the marker's first byte skips most of the bytes at memory speed.
    const uint8_t* at = data_ + first;
    const uint8_t* end = data_ + stop + 1;
    while (at < end) {
      const void* hit = std::memchr(at, head, static_cast<size_t>(end - at));
      if (!hit) return kNotFound;
      at = static_cast<const uint8_t*>(hit);
      if (std::memcmp(at + 1, marker.bytes + 1, marker.size - 1) == 0) return static_cast<uint32_t>(at - data_);
      ++at;
    }
    return kNotFound;
  }
  for (uint64_t at = first; at <= stop; at += step) {
    const uint8_t* p = data_ + at;
    if (p[0] == head && std::memcmp(p + 1, marker.bytes + 1, marker.size - 1) == 0) return static_cast<uint32_t>(at);
  }
  return kNotFound;
}

uint32_t ByteView::FindLast(Marker marker, uint32_t first, uint32_t step, uint32_t last) const {
  uint32_t stop = LastStart(marker, last);
  if (stop == kNotFound || first > stop || step == 0) return kNotFound;
  // Start from the highest offset on the step grid and walk down.
  uint64_t at = first + static_cast<uint64_t>((stop - first) / step) * step;
  for (;;) {
    if (std::memcmp(data_ + at, marker.bytes, marker.size) == 0) return static_cast<uint32_t>(at);
    if (at < static_cast<uint64_t>(first) + step) return kNotFound;
    at -= step;
  }
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
