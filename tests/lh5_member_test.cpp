// Members as the image walk and the service library read them, and the
// service library's three image requests on global blocks.
#include <gtest/gtest.h>

#include <random>

#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "image_builder.h"
#include "library_state.h"
#include "lzh_member.h"
#include "machine_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

orr::ByteView View(const Bytes& b) { return orr::ByteView(b.data(), static_cast<uint32_t>(b.size())); }

Bytes Bios64K() { return tb::SystemBios(0x10000, "SIXTY-FOUR", "x05/14/08-1.10-RV5420-00", "<RV5420>"); }
Bytes Bios128K() { return tb::SystemBios(0x20000, "ONE-TWENTY-EIGHT", "x11/02/09-1.30-RV5420-00", "<RV5420>"); }

void FixChecksum(Bytes& m) {
  uint32_t sum = 0;
  for (uint32_t i = 2; i < m[0] + 2u; ++i) sum += m[i];
  m[1] = static_cast<uint8_t>(sum);
}

void Put32(Bytes& m, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) m[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(LzhMemberLayout, FieldsStandWhereTheWalkAndArchiversReadThem) {
  Bytes original = Bios64K();
  Bytes m = tb::LzhMember("original.tmp", original, tb::LzhMethod::Lh5, true);
  orr::ByteView v = View(m);
  const uint32_t n = 12;
  EXPECT_EQ(v.U8(0), 25 + n);  // H: the base header after its first two bytes
  EXPECT_TRUE(v.Matches(2, orr::MakeMarker("-lh5-")));
  EXPECT_EQ(v.U32(7), m.size() - (v.U8(0) + 2u));  // P: everything behind the base header
  EXPECT_EQ(v.U32(11), original.size());
  EXPECT_EQ(v.U16(15), 0);
  EXPECT_EQ(v.U16(17), 0x5000);
  EXPECT_EQ(v.U8(19), 0x20);
  EXPECT_EQ(v.U8(20), 1);
  EXPECT_EQ(v.U8(21), n);
  EXPECT_TRUE(v.Matches(22, orr::MakeMarker("original.tmp")));
  EXPECT_EQ(v.U16(22 + n), tb::LzhCrc16(original.data(), original.size()));
  EXPECT_EQ(v.U16(25 + n), 0) << "no extended header";
  Bytes fixed = m;
  FixChecksum(fixed);
  EXPECT_EQ(fixed[1], m[1]);
}

TEST(LzhMemberLayout, OtherMembersCarryADosTimestampInstead) {
  Bytes m = tb::LzhMember("acpitbl.bin", {1, 2, 3}, tb::LzhMethod::Lh0, false);
  orr::ByteView v = View(m);
  EXPECT_TRUE(v.Matches(2, orr::MakeMarker("-lh0-")));
  EXPECT_FALSE(v.U16(15) == 0 && v.U16(17) == 0x5000);
  EXPECT_EQ(v.U32(7), 3u);
}

TEST(LzhMemberLayout, ExtendedHeadersCountTowardsThePackedSize) {
  Bytes plain = tb::LzhMember("a", {9, 9, 9, 9}, tb::LzhMethod::Lh0, false);
  Bytes tagged = tb::LzhMember("a", {9, 9, 9, 9}, tb::LzhMethod::Lh0, false, {{0x40, {0x20, 0}}, {0x54, {1, 2, 3, 4}}});
  orr::ByteView v = View(tagged);
  EXPECT_EQ(v.U8(0), plain[0]);
  EXPECT_EQ(v.U32(7), 4u + 5 + 7);
  EXPECT_EQ(v.U16(v.U8(0)), 5) << "the base header's last word sizes the first extended header";
  EXPECT_EQ(tagged.size(), plain.size() + 12);
}

TEST(LzhMemberLayout, SlotIsTwoBytesLongerThanTheMember) {
  for (tb::LzhMethod method : {tb::LzhMethod::Lh0, tb::LzhMethod::Lh5}) {
    Bytes m = tb::LzhMember("x", Bios64K(), method, true);
    EXPECT_EQ(tb::MemberSlot(m), m.size() + 2);
  }
}

TEST(LzhCrc16, MatchesTheArchiversCheckValue) {
  const char text[] = "123456789";
  EXPECT_EQ(tb::LzhCrc16(reinterpret_cast<const uint8_t*>(text), 9), 0xBB3D);
  EXPECT_EQ(tb::LzhCrc16(nullptr, 0), 0);
}

// ExpandMember on its own: every way a member can be wrong has its number,
// and nothing comes out.
struct Damage {
  const char* name;
  void (*apply)(Bytes& m);
  uint32_t expected;
};

Bytes Lh5Member() { return tb::LzhMember("original.tmp", Bios64K(), tb::LzhMethod::Lh5, true); }

const Damage kDamages[] = {
    {"HeaderSizeBelowName", [](Bytes& m) { m[0] = 20; FixChecksum(m); }, tb::kExpandBadHeader},
    {"LevelZero", [](Bytes& m) { m[20] = 0; FixChecksum(m); }, tb::kExpandBadHeader},
    {"ChecksumOff", [](Bytes& m) { m[1] ^= 1; }, tb::kExpandBadChecksum},
    {"HeaderByteChangedUnderChecksum", [](Bytes& m) { m[19] = 0x21; }, tb::kExpandBadChecksum},
    {"MethodLh1", [](Bytes& m) { m[5] = '1'; FixChecksum(m); }, tb::kExpandUnknownMethod},
    {"OriginalAbove128K", [](Bytes& m) { Put32(m, 11, 0x20001); FixChecksum(m); }, tb::kExpandTooLarge},
    {"PackedPastBlock", [](Bytes& m) { Put32(m, 7, 0x20000); FixChecksum(m); }, tb::kExpandBeyondBlock},
    {"PackedHuge", [](Bytes& m) { Put32(m, 7, 0xFFFFFFF0); FixChecksum(m); }, tb::kExpandBeyondBlock},
    {"ExtendedHeaderTooShort", [](Bytes& m) { m[m[0]] = 2; FixChecksum(m); }, tb::kExpandBadHeader},
    {"ExtendedHeaderLongerThanPacked",
     [](Bytes& m) { m[m[0]] = 0xFF; m[m[0] + 1] = 0xFF; FixChecksum(m); }, tb::kExpandBadHeader},
    {"CrcFieldChanged", [](Bytes& m) { m[22 + 12] ^= 0x80; FixChecksum(m); }, tb::kExpandCrcMismatch},
    {"OriginalSizeOneShort",
     [](Bytes& m) { Put32(m, 11, 0xFFFF); FixChecksum(m); }, tb::kExpandCrcMismatch},
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class ExpandMemberDamage : public testing::TestWithParam<Damage> {};

TEST_P(ExpandMemberDamage, GivesItsNumberAndNoBytes) {
  Bytes m = Lh5Member();
  GetParam().apply(m);
  m.resize(0x20000, 0);
  Bytes out = {1, 2, 3};
  EXPECT_EQ(tb::ExpandMember(View(m), 0x20000, out), GetParam().expected);
  EXPECT_TRUE(out.empty());
}

INSTANTIATE_TEST_SUITE_P(Members, ExpandMemberDamage, testing::ValuesIn(kDamages),
                         [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

TEST(ExpandMember, HeaderCutByTheBlockEndIsBadHeader) {
  Bytes m = Lh5Member();
  Bytes out;
  EXPECT_EQ(tb::ExpandMember(View(m).Sub(0, 30), 0x20000, out), tb::kExpandBadHeader);
  EXPECT_EQ(tb::ExpandMember(orr::ByteView(), 0x20000, out), tb::kExpandBadHeader);
}

TEST(ExpandMember, TruncatedOrCorruptedStreamIsCaughtByLengthOrCrc) {
  Bytes whole = Lh5Member();
  const uint32_t h = whole[0];
  for (uint32_t keep : {0u, 1u, 100u, 4000u, static_cast<uint32_t>(whole.size() - h - 2 - 1)}) {
    Bytes m(whole.begin(), whole.begin() + h + 2 + keep);
    Put32(m, 7, keep);
    FixChecksum(m);
    Bytes out;
    uint32_t r = tb::ExpandMember(View(m), 0x20000, out);
    EXPECT_TRUE(r == tb::kExpandShortStream || r == tb::kExpandCrcMismatch) << keep << " bytes kept: " << r;
  }
  std::mt19937 rng(17);
  for (int i = 0; i < 20; ++i) {
    Bytes m = whole;
    m[h + 2 + rng() % (m.size() - h - 2)] ^= static_cast<uint8_t>(1 + rng() % 255);
    Bytes out;
    uint32_t r = tb::ExpandMember(View(m), 0x20000, out);
    EXPECT_TRUE(r == tb::kExpandShortStream || r == tb::kExpandCrcMismatch) << "flip " << i << ": " << r;
  }
}

TEST(ExpandMember, StoredMemberMustHoldExactlyTheOriginal) {
  Bytes m = tb::LzhMember("x", {1, 2, 3, 4}, tb::LzhMethod::Lh0, true);
  Put32(m, 11, 5);
  FixChecksum(m);
  Bytes out;
  EXPECT_EQ(tb::ExpandMember(View(m), 0x20000, out), tb::kExpandShortStream);
}

TEST(ExpandMember, OutputLimitBelowOriginalSizeIsTooLarge) {
  Bytes m = Lh5Member();
  Bytes out;
  EXPECT_EQ(tb::ExpandMember(View(m), 0xFFFF, out), tb::kExpandTooLarge);
}

TEST(ExpandMember, RandomBlocksNeverExpand) {
  std::mt19937 rng(23);
  for (int i = 0; i < 200; ++i) {
    Bytes block(64 + rng() % 512);
    for (auto& b : block) b = static_cast<uint8_t>(rng());
    if (i % 2) {  // a sound header in front of random data
      Bytes head = tb::LzhMember("r", Bytes(1 + rng() % 4000, 0x11), i % 4 == 1 ? tb::LzhMethod::Lh5 : tb::LzhMethod::Lh0,
                                 true);
      std::copy(head.begin(), head.begin() + head[0] + 2, block.begin());
    }
    Bytes out;
    EXPECT_NE(tb::ExpandMember(View(block), 0x20000, out), tb::kExpandOk) << i;
    EXPECT_TRUE(out.empty());
  }
}

TEST(ExpandMember, EachMethodGivesTheOriginalBack) {
  for (tb::LzhMethod method : {tb::LzhMethod::Lh0, tb::LzhMethod::Lh5}) {
    for (const Bytes& original : {Bytes(), Bytes{0xAB}, Bios64K()}) {
      Bytes m = tb::LzhMember("x", original, method, true, {{0x40, {0x20, 0}}});
      Bytes out;
      EXPECT_EQ(tb::ExpandMember(View(m), 0x20000, out), tb::kExpandOk);
      EXPECT_EQ(out, original);
    }
  }
}

// The three requests through BiosServiceCall, on blocks the way the library
// hands them over.
class ImageRequests : public testing::Test {
 protected:
  void SetUp() override { Start(tb::MachineBuilder()); }
  void TearDown() override {
    for (HGLOBAL h : {output_, member_})
      if (h) GlobalFree(h);
    ExpectNothingOutstanding();
  }

  void Start(const tb::Machine& machine) {
    StartWith(machine);
    output_ = GlobalAlloc(GHND, orr::kWorkBlockSize);
    member_ = GlobalAlloc(GHND, orr::kWorkBlockSize);
    block_ = {};
    block_.outputBlock = Handle(output_);
    block_.inputBlock = Handle(member_);
  }
  static uint32_t Handle(HGLOBAL h) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)); }

  void LoadMember(const Bytes& member) {
    tb::BlockBytes& dst = *tb::GlobalBlockBytes(block_.inputBlock);
    std::copy(member.begin(), member.begin() + std::min(member.size(), dst.size()), dst.begin());
  }
  BOOL Call(uint32_t request) { return BiosServiceCall(request, &block_, sizeof block_, 0, 0, &serviceError_); }
  // The library's sequence: expand, status, finish.
  uint32_t Sequence() {
    if (!Call(orr::kRequestExpandMember)) return 306;
    serviceError_ = 0xDEAD;
    Call(orr::kRequestImageStatus);
    uint32_t kept = serviceError_;
    Call(orr::kRequestImageFinish);
    return kept;
  }
  Bytes Output() {
    const tb::BlockBytes& out = *tb::GlobalBlockBytes(block_.outputBlock);
    return Bytes(out.begin(), out.end());
  }
  bool OutputUntouched() {
    const Bytes out = Output();
    return std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0; });
  }

  HGLOBAL output_ = nullptr;
  HGLOBAL member_ = nullptr;
  orr::ImageServiceBlock block_{};
  uint32_t serviceError_ = 0;
};

TEST_F(ImageRequests, RefusedWhenTheMachineRefuses) {
  Start(tb::MachineBuilder().RefuseExpand());
  LoadMember(Lh5Member());
  EXPECT_EQ(Call(orr::kRequestExpandMember), FALSE);
  EXPECT_TRUE(OutputUntouched());
  Call(orr::kRequestImageStatus);
  EXPECT_EQ(serviceError_, tb::kExpandNotDone);
}

TEST_F(ImageRequests, RefusedForBlocksThatAreNotThere) {
  LoadMember(Lh5Member());
  orr::ImageServiceBlock good = block_;
  block_.inputBlock = 0x1234;
  EXPECT_EQ(Call(orr::kRequestExpandMember), FALSE);
  block_ = good;
  block_.outputBlock = 0;
  EXPECT_EQ(Call(orr::kRequestExpandMember), FALSE);
  block_ = good;
  block_.outputBlock = block_.inputBlock;
  EXPECT_EQ(Call(orr::kRequestExpandMember), FALSE);
  block_ = good;
  EXPECT_EQ(BiosServiceCall(orr::kRequestExpandMember, &block_, sizeof block_ - 1, 0, 0, &serviceError_), FALSE);
  EXPECT_EQ(BiosServiceCall(orr::kRequestExpandMember, nullptr, sizeof block_, 0, 0, &serviceError_), FALSE);
  EXPECT_TRUE(OutputUntouched());
}

TEST_F(ImageRequests, StatusWithoutAnExpansionIsNotDone) {
  serviceError_ = 0;
  Call(orr::kRequestImageStatus);
  EXPECT_EQ(serviceError_, tb::kExpandNotDone);
  LoadMember(Lh5Member());
  EXPECT_EQ(Sequence(), tb::kExpandOk);
  Call(orr::kRequestImageStatus);
  EXPECT_EQ(serviceError_, tb::kExpandNotDone) << "the finish request forgets the outcome";
}

TEST_F(ImageRequests, DamagedMemberIsAcceptedThenReported) {
  Bytes m = Lh5Member();
  m[m.size() / 2] ^= 0x5A;
  LoadMember(m);
  EXPECT_NE(Call(orr::kRequestExpandMember), FALSE);
  Call(orr::kRequestImageStatus);
  EXPECT_TRUE(serviceError_ == tb::kExpandShortStream || serviceError_ == tb::kExpandCrcMismatch) << serviceError_;
  EXPECT_TRUE(OutputUntouched());
}

TEST_F(ImageRequests, ForcedErrorReplacesASuccess) {
  Start(tb::MachineBuilder().ImageServiceError(777));
  LoadMember(Lh5Member());
  EXPECT_EQ(Sequence(), 777u);
}

TEST_F(ImageRequests, SixtyFourKiBFillsTheUpperHalf) {
  Bytes bios = Bios64K();
  for (tb::LzhMethod method : {tb::LzhMethod::Lh5, tb::LzhMethod::Lh0}) {
    Start(tb::MachineBuilder());
    LoadMember(tb::LzhMember("original.tmp", bios, method, true));
    ASSERT_EQ(Sequence(), tb::kExpandOk);
    const Bytes output = Output();
    EXPECT_TRUE(std::all_of(output.begin(), output.begin() + 0x10000, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(bios.begin(), bios.end(), output.begin() + 0x10000));
    orr::ByteView out = View(output);
    EXPECT_TRUE(out.Matches(0x1E0C1, orr::MakeMarker("SIXTY-FOUR")));
    EXPECT_TRUE(out.Matches(0x1EC70, orr::MakeMarker("x05/14/08-1.10-RV5420-00")));
    EXPECT_TRUE(out.Matches(0x1ECE0, orr::MakeMarker("<RV5420>")));
    GlobalFree(output_);
    GlobalFree(member_);
    output_ = member_ = nullptr;
  }
}

TEST_F(ImageRequests, OneTwentyEightKiBFillsTheBlock) {
  Bytes bios = Bios128K();
  LoadMember(tb::LzhMember("original.tmp", bios, tb::LzhMethod::Lh5, true));
  ASSERT_EQ(Sequence(), tb::kExpandOk);
  EXPECT_EQ(Output(), bios);
}

TEST_F(ImageRequests, StoredMemberTooBigForTheBlockIsBeyondBlock) {
  Bytes m = tb::LzhMember("original.tmp", Bios128K(), tb::LzhMethod::Lh0, true);
  LoadMember(m);  // cut at the block's end
  EXPECT_EQ(Sequence(), tb::kExpandBeyondBlock);
  EXPECT_TRUE(OutputUntouched());
}

}  // namespace
