// One bounded view over firmware or image bytes. Every read of a window, an
// image or a work block goes through it: an accessor outside the view reads
// as 0 or fails, and every search keeps the whole marker inside the view.
#pragma once

#include <cstdint>
#include <cstring>

namespace orr {

constexpr uint32_t kNotFound = 0xFFFFFFFFu;

// A marker is compared byte for byte, without a terminator.
struct Marker {
  const char* bytes;
  uint32_t size;
};

template <uint32_t N>
constexpr Marker MakeMarker(const char (&text)[N]) {
  return Marker{text, N - 1};
}

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, uint32_t size) : data_(data), size_(data ? size : 0) {}

  const uint8_t* data() const { return data_; }
  uint32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Overflow-safe: offset + length never wraps.
  bool Contains(uint32_t offset, uint32_t length) const { return offset <= size_ && length <= size_ - offset; }

  uint8_t U8(uint32_t offset) const { return offset < size_ ? data_[offset] : 0; }
  // A view without data has size 0, so Contains fails before any byte is
  // read; the analyzer does not follow that through the default view.
  uint16_t U16(uint32_t offset) const {
    if (!Contains(offset, 2)) return 0;
    // NOLINTNEXTLINE(clang-analyzer-core.NullDereference)
    return static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8);
  }
  uint32_t U32(uint32_t offset) const {
    if (!Contains(offset, 4)) return 0;
    return static_cast<uint32_t>(data_[offset]) | static_cast<uint32_t>(data_[offset + 1]) << 8 |
           static_cast<uint32_t>(data_[offset + 2]) << 16 | static_cast<uint32_t>(data_[offset + 3]) << 24;
  }

  // The part of the view from offset on, at most length bytes long.
  ByteView Sub(uint32_t offset, uint32_t length = kNotFound) const {
    if (offset >= size_) return ByteView();
    uint32_t rest = size_ - offset;
    return ByteView(data_ + offset, length < rest ? length : rest);
  }

  // The first byte is compared before the rest: most places differ there,
  // and the whole-area steps (ROM maps, member headers) test thousands.
  bool Matches(uint32_t offset, Marker marker) const {
    return Contains(offset, marker.size) &&
           // NOLINTNEXTLINE(clang-analyzer-core.NullDereference): as in U16
           (marker.size == 0 || (data_[offset] == static_cast<uint8_t>(marker.bytes[0]) &&
                                 std::memcmp(data_ + offset + 1, marker.bytes + 1, marker.size - 1) == 0));
  }

  // Searches test the offsets first, first + step, ... up to and including
  // last, and only those where the whole marker lies inside the view.
  uint32_t FindFirst(Marker marker, uint32_t first = 0, uint32_t step = 1, uint32_t last = kNotFound) const;
  uint32_t FindLast(Marker marker, uint32_t first = 0, uint32_t step = 1, uint32_t last = kNotFound) const;

  // The first offset from first on, up to and including last, where a or b
  // lies whole inside the view: the smaller of the two FindFirst answers at
  // every byte, found in one pass over the bytes (for markers of two bytes
  // or more). Matches tells which marker stands there.
  uint32_t FindFirstOfEither(Marker a, Marker b, uint32_t first = 0, uint32_t last = kNotFound) const;

  // Calls visit(offset) at every match in ascending order; visit returns
  // false to stop the search.
  template <typename Visit>
  void ForEachMatch(Marker marker, uint32_t first, uint32_t step, uint32_t last, Visit visit) const {
    uint32_t at = first;
    while ((at = FindFirst(marker, at, step, last)) != kNotFound) {
      if (!visit(at)) return;
      if (static_cast<uint64_t>(at) + step > last) return;
      at += step;
    }
  }

  // Characters before the first NUL from offset, counting at most limit and
  // never past the view's end.
  uint32_t TextLength(uint32_t offset, uint32_t limit = kNotFound) const;

  // Copies the text at offset into dst (dstSize bytes, at least 1): at most
  // dstSize - 1 characters, stopping at a NUL or the view's end, then a NUL.
  // Returns the offset just behind the whole source text's NUL (the view's
  // end when the text has none), where a following text would start.
  uint32_t CopyText(uint32_t offset, char* dst, uint32_t dstSize) const;

 private:
  // Highest start offset to test: where the marker still fits and the
  // caller's limit allows, or kNotFound when none does.
  uint32_t LastStart(Marker marker, uint32_t last) const {
    if (marker.size == 0 || marker.size > size_) return kNotFound;
    uint32_t fit = size_ - marker.size;
    return last < fit ? last : fit;
  }

  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

}  // namespace orr
