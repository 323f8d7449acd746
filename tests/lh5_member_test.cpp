// The service library's member expansion and its three image requests on global blocks. (That the
// members are what archivers write: lh5_encoder_test.cpp.) Broken LH5 streams, built bit by bit, end
// with an error number and no bytes.
#include <random>
#include <tuple>

#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "image_support.h"
#include "lzh_member.h"

namespace {

using Bytes = std::vector<uint8_t>;

using image_test::FixChecksum;
using image_test::Put32;
using image_test::ViewOf;

Bytes Bios64K() { return tb::SystemBios(0x10000, "SIXTY-FOUR", "x05/14/08-1.10-RV5420-00", "<RV5420>"); }

Bytes Lh5Member() { return tb::LzhMember("original.tmp", Bios64K(), tb::LzhMethod::Lh5, true); }

// Nothing comes out of a damaged member, one cut by the block's end (the view) or too large.
TEST(ExpandMember, DamageGivesItsNumberAndNoBytes) {
  const struct {
    const char* name; void (*apply)(Bytes& m); uint32_t expected;
    tb::LzhMethod method = tb::LzhMethod::Lh5; uint32_t view = 0x20000, limit = 0x20000;
  } cases[] = {
      {"HeaderSizeBelowName", [](Bytes& m) { m[0] = 20; FixChecksum(m); }, tb::kExpandBadHeader},
      {"LevelZero", [](Bytes& m) { m[20] = 0; FixChecksum(m); }, tb::kExpandBadHeader},
      {"HeaderCutByTheBlockEnd", [](Bytes&) {}, tb::kExpandBadHeader, tb::LzhMethod::Lh5, 30},
      {"EmptyBlock", [](Bytes&) {}, tb::kExpandBadHeader, tb::LzhMethod::Lh5, 0},
      {"ChecksumOff", [](Bytes& m) { m[1] ^= 1; }, tb::kExpandBadChecksum},
      {"HeaderByteChangedUnderChecksum", [](Bytes& m) { m[19] = 0x21; }, tb::kExpandBadChecksum},
      {"MethodLh1", [](Bytes& m) { m[5] = '1'; FixChecksum(m); }, tb::kExpandUnknownMethod},
      {"OriginalAbove128K", [](Bytes& m) { Put32(m, 11, 0x20001); FixChecksum(m); }, tb::kExpandTooLarge},
      {"OutputLimitBelowOriginal", [](Bytes&) {}, tb::kExpandTooLarge, tb::LzhMethod::Lh5, 0x20000, 0xFFFF},
      {"PackedPastBlock", [](Bytes& m) { Put32(m, 7, 0x20000); FixChecksum(m); }, tb::kExpandBeyondBlock},
      {"PackedHuge", [](Bytes& m) { Put32(m, 7, 0xFFFFFFF0); FixChecksum(m); }, tb::kExpandBeyondBlock},
      {"ExtendedHeaderTooShort", [](Bytes& m) { m[m[0]] = 2; FixChecksum(m); }, tb::kExpandBadHeader},
      {"ExtendedHeaderLongerThanPacked", [](Bytes& m) { m[m[0]] = m[m[0] + 1] = 0xFF; FixChecksum(m); },
       tb::kExpandBadHeader},
      {"CrcFieldChanged", [](Bytes& m) { m[22 + 12] ^= 0x80; FixChecksum(m); }, tb::kExpandCrcMismatch},
      {"OriginalSizeOneShort", [](Bytes& m) { Put32(m, 11, 0xFFFF); FixChecksum(m); }, tb::kExpandCrcMismatch},
      {"StoredNotExactlyTheOriginal", [](Bytes& m) { Put32(m, 11, 0x10001); FixChecksum(m); }, tb::kExpandShortStream,
       tb::LzhMethod::Lh0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes m = tb::LzhMember("original.tmp", Bios64K(), c.method, true);
    c.apply(m);
    m.resize(0x20000, 0);
    Bytes out = {1, 2, 3};
    EXPECT_EQ(tb::ExpandMember(ViewOf(m).Sub(0, c.view), c.limit, out), c.expected);
    EXPECT_TRUE(out.empty());
  }
}

// Cut (the packed size following) or with a byte flipped, the stream fails its length or its CRC.
TEST(ExpandMember, TruncatedOrCorruptedStreamIsCaughtByLengthOrCrc) {
  const Bytes whole = Lh5Member();
  const uint32_t h = whole[0] + 2u, packed = static_cast<uint32_t>(whole.size()) - h;
  std::vector<Bytes> members;
  for (uint32_t keep : {0u, 1u, 100u, 4000u, packed - 1}) {
    members.emplace_back(whole.begin(), whole.begin() + h + keep);
    Put32(members.back(), 7, keep);
    FixChecksum(members.back());
  }
  std::mt19937 rng(17);
  for (int i = 0; i < 20; ++i) members.emplace_back(whole)[h + rng() % packed] ^= static_cast<uint8_t>(1 + rng() % 255);
  for (const Bytes& m : members) {
    Bytes out;
    const uint32_t r = tb::ExpandMember(ViewOf(m), 0x20000, out);
    EXPECT_TRUE(r == tb::kExpandShortStream || r == tb::kExpandCrcMismatch) << m.size() << " bytes: " << r;
    EXPECT_TRUE(out.empty());
  }
}

TEST(ExpandMember, EachMethodGivesTheOriginalBack) {
  for (tb::LzhMethod method : {tb::LzhMethod::Lh0, tb::LzhMethod::Lh5})
    for (const Bytes& original : {Bytes(), Bytes{0xAB}, Bios64K()}) {
      Bytes out;
      const Bytes m = tb::LzhMember("x", original, method, true, {{0x40, {0x20, 0}}});
      EXPECT_EQ(tb::ExpandMember(ViewOf(m), 0x20000, out), tb::kExpandOk);
      EXPECT_EQ(out, original);
    }
}

// Blocks that are not there (or one as both, a short or missing request block) are refused; the status
// before an expansion and after the finish is "not done"; a stored member cut by the block is beyond it.
TEST(ImageRequests, RefuseWhatIsNotThereAndForgetTheOutcomeAtTheFinish) {
  StartWith(tb::MachineBuilder());
  HGLOBAL output = GlobalAlloc(GHND, orr::kWorkBlockSize), member = GlobalAlloc(GHND, orr::kWorkBlockSize);
  const auto handle = [](HGLOBAL h) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)); };
  orr::ImageServiceBlock good{{}, handle(output), handle(member)};
  uint32_t error = 0;
  const auto call = [&](uint32_t request, orr::ImageServiceBlock b) {
    return BiosServiceCall(request, &b, sizeof b, 0, 0, &error);
  };
  const auto status = [&] { call(orr::kRequestImageStatus, good); return error; };
  const auto load = [&](const Bytes& m) {  // cut at the block's end
    tb::BlockBytes& dst = *tb::GlobalBlockBytes(good.inputBlock);
    std::copy(m.begin(), m.begin() + std::min(m.size(), dst.size()), dst.begin());
  };
  const tb::BlockBytes& out = *tb::GlobalBlockBytes(good.outputBlock);
  EXPECT_EQ(status(), tb::kExpandNotDone);
  load(tb::LzhMember("original.tmp", tb::FirmwareFiller(0x20000, 5), tb::LzhMethod::Lh0, true));
  EXPECT_TRUE(call(orr::kRequestExpandMember, good));
  EXPECT_EQ(status(), tb::kExpandBeyondBlock);
  load(Lh5Member());
  for (const auto& [in, to] : {std::pair{0x1234u, good.outputBlock}, std::pair{good.inputBlock, 0u},
                               std::pair{good.inputBlock, good.inputBlock}})
    EXPECT_FALSE(call(orr::kRequestExpandMember, orr::ImageServiceBlock{{}, to, in}));
  EXPECT_FALSE(BiosServiceCall(orr::kRequestExpandMember, &good, sizeof good - 1, 0, 0, &error));
  EXPECT_FALSE(BiosServiceCall(orr::kRequestExpandMember, nullptr, sizeof good, 0, 0, &error));
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0; })) << "nothing written yet";
  EXPECT_TRUE(call(orr::kRequestExpandMember, good));
  EXPECT_EQ(status(), tb::kExpandOk);
  call(orr::kRequestImageFinish, good);
  EXPECT_EQ(status(), tb::kExpandNotDone) << "the finish request forgets the outcome";
  GlobalFree(output);
  GlobalFree(member);
  ExpectNothingOutstanding();
}

// Bits most significant first, as the LH5 decoder reads them.
struct BitWriter {
  Bytes bytes;
  uint32_t used = 0;
  BitWriter& Put(uint32_t value, uint32_t bits) {
    for (uint32_t i = bits; i-- > 0; ++used) {
      if (used % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (used % 8));
    }
    return *this;
  }
  Bytes Done(uint32_t padding) { return bytes.insert(bytes.end(), padding, 0), bytes; }
};

// An encoder-made header claiming originalSize bytes, its packed size (and checksum) mended to the stream.
Bytes MemberWithStream(const Bytes& stream, uint32_t originalSize) {
  Bytes m = tb::LzhMember("x.rom", Bytes(originalSize, 0x5A), tb::LzhMethod::Lh5, true);
  m.resize(m[0] + 2u);
  image_test::Put32(m, 7, static_cast<uint32_t>(stream.size()));
  image_test::FixChecksum(m);
  m.insert(m.end(), stream.begin(), stream.end());
  return m;
}

// The code-length code: symbols 1 and 2 get one bit each ("0" and "1"),
// so every "1" in the literal table is a run of zeros of 20 plus 9 bits.
BitWriter& RunTable(BitWriter& w) { return w.Put(3, 5).Put(0, 3).Put(1, 3).Put(1, 3).Put(0, 2); }

// Blocks with no codes, or an all-zero stream: the stream's end stops the decoder (406). Runs of 531
// zeros in a literal table declared with 510, 19 or 1 entries, a code-length table of 31 (19 exist), a
// literal table of 511 (510 exist): 406 or 407.
TEST(MalformedLh5, BrokenStreamsEndWithTheirErrorAndNoBytes) {
  BitWriter empty;  // blocks of size 0, each of the three tables a single code (count 0 and the code)
  for (int i = 0; i < 200; ++i) empty.Put(0, 16).Put(0, 5).Put(0, 5).Put(0, 9).Put(0, 9).Put(0, 4).Put(0, 4);
  std::vector<BitWriter> tables(5);
  for (uint32_t s = 0; s < 3; ++s) {
    RunTable(tables[s].Put(1, 16)).Put(std::vector<uint32_t>{510, 19, 1}[s], 9);
    for (int i = 0; i < 4; ++i) tables[s].Put(1, 1).Put(0x1FF, 9);
  }
  tables[3].Put(1, 16).Put(31, 5);
  RunTable(tables[4].Put(1, 16)).Put(511, 9);
  std::vector<std::tuple<Bytes, uint32_t, bool>> cases{{empty.Done(0), 0x1000, true}, {Bytes(4096, 0), 0x8000, true}};
  for (BitWriter& w : tables) cases.emplace_back(w.Done(256), 0x100, false);
  for (const auto& [stream, size, endsShort] : cases) {
    Bytes out;
    const uint32_t outcome = tb::ExpandMember(image_test::ViewOf(MemberWithStream(stream, size)), 0x20000, out);
    EXPECT_TRUE(outcome == tb::kExpandShortStream || (!endsShort && outcome == tb::kExpandCrcMismatch)) << outcome;
    EXPECT_TRUE(out.empty());
  }
}

}  // namespace
