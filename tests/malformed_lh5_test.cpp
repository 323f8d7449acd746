// LH5 streams built bit by bit to break the member expansion: blocks that
// hold no codes and code-length runs longer than their table. Each must end
// with an error number and no bytes, never loop or write past a table.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lzh_member.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Bits most significant first, as the LH5 decoder reads them.
class BitWriter {
 public:
  BitWriter& Put(uint32_t value, uint32_t bits) {
    for (uint32_t i = bits; i-- > 0;) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
      ++used_;
    }
    return *this;
  }
  Bytes Done(uint32_t padding) {
    bytes_.insert(bytes_.end(), padding, 0);
    return bytes_;
  }

 private:
  Bytes bytes_;
  uint32_t used_ = 0;
};

// A member whose packed data is stream, claiming originalSize bytes: the
// header is an encoder-made one with the packed size and the original size
// replaced (and its checksum mended), so only the stream is wrong.
Bytes MemberWithStream(const Bytes& stream, uint32_t originalSize) {
  Bytes m = tb::LzhMember("x.rom", Bytes(originalSize, 0x5A), tb::LzhMethod::Lh5, true);
  const uint32_t h = m[0];
  m.resize(h + 2);
  for (int i = 0; i < 4; ++i) m[7 + i] = static_cast<uint8_t>(stream.size() >> (8 * i));
  uint32_t sum = 0;
  for (uint32_t i = 2; i < h + 2; ++i) sum += m[i];
  m[1] = static_cast<uint8_t>(sum);
  m.insert(m.end(), stream.begin(), stream.end());
  return m;
}

uint32_t Expand(const Bytes& member, Bytes& out) {
  return tb::ExpandMember(orr::ByteView(member.data(), static_cast<uint32_t>(member.size())), 0x20000, out);
}

// A block header with no codes: size 0, then each of the three tables given
// as a single code (count 0 and the code).
void EmptyBlock(BitWriter& w) { w.Put(0, 16).Put(0, 5).Put(0, 5).Put(0, 9).Put(0, 9).Put(0, 4).Put(0, 4); }

TEST(MalformedLh5, StreamOfBlocksWithoutCodesEndsShort) {
  BitWriter w;
  for (int i = 0; i < 200; ++i) EmptyBlock(w);
  Bytes out;
  EXPECT_EQ(Expand(MemberWithStream(w.Done(0), 0x1000), out), tb::kExpandShortStream);
  EXPECT_TRUE(out.empty());
}

TEST(MalformedLh5, AllZeroStreamEndsShort) {
  Bytes out;
  EXPECT_EQ(Expand(MemberWithStream(Bytes(4096, 0), 0x8000), out), tb::kExpandShortStream);
  EXPECT_TRUE(out.empty());
}

// The code-length code: symbols 1 and 2 get one bit each ("0" and "1"),
// so every "1" in the literal table is a run of zeros of 20 plus 9 bits.
void RunTable(BitWriter& w) { w.Put(3, 5).Put(0, 3).Put(1, 3).Put(1, 3).Put(0, 2); }

TEST(MalformedLh5, ZeroRunPastTheLiteralTableFails) {
  for (uint32_t declared : {510u, 19u, 1u}) {
    BitWriter w;
    w.Put(1, 16);
    RunTable(w);
    w.Put(declared, 9);
    // Runs of 531 zeros, together far more than the 510 entries of the table.
    for (int i = 0; i < 4; ++i) w.Put(1, 1).Put(0x1FF, 9);
    Bytes out;
    const uint32_t outcome = Expand(MemberWithStream(w.Done(64), 0x100), out);
    EXPECT_TRUE(outcome == tb::kExpandShortStream || outcome == tb::kExpandCrcMismatch)
        << declared << " entries declared: " << outcome;
    EXPECT_TRUE(out.empty());
  }
}

TEST(MalformedLh5, TableCountsAboveTheirAlphabetsFail) {
  // A code-length table of 31 entries (19 exist) and a literal table of 511 (510 exist).
  BitWriter temp;
  temp.Put(1, 16).Put(31, 5);
  BitWriter literal;
  literal.Put(1, 16);
  RunTable(literal);
  literal.Put(511, 9);
  for (BitWriter* w : {&temp, &literal}) {
    Bytes out;
    const uint32_t outcome = Expand(MemberWithStream(w->Done(256), 0x100), out);
    EXPECT_TRUE(outcome == tb::kExpandShortStream || outcome == tb::kExpandCrcMismatch) << outcome;
    EXPECT_TRUE(out.empty());
  }
}

}  // namespace
