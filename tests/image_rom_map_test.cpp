// Finding the system BIOS member through the ROM maps or at 64 KiB
// boundaries, and its expansion by the service library.
#include "image/member_search.h"

#include <set>
#include <tuple>

#include "hwaccess/contract.h"
#include "image_support.h"

namespace {

using image_test::AnalyseImage;
using image_test::FileInfo;
using image_test::OtherMember;
using image_test::PassingMember;
using image_test::StartDetected;
using image_test::SystemBiosMember;

constexpr uint32_t kImage = 0x80000;  // 512 KiB
constexpr uint32_t kTail = kImage - 0x20000;
using Image = tb::ImageBuilder;
constexpr uint32_t Flash(uint32_t offset) { return offset - kImage; }  // in a kImage image

// Member header fields as far as the library reads them (H 25).
std::vector<uint8_t> Header(const char* method, uint32_t packed, uint16_t word15, uint16_t word17) {
  std::vector<uint8_t> header(21, 0);
  header[0] = 25, std::memcpy(&header[2], method, 5);
  image_test::Put32(header, 7, packed);
  image_test::Put32(header, 15, word15 | uint32_t{word17} << 16);
  return header;
}

Image& Passing(Image& i, std::initializer_list<uint32_t> offsets) {
  for (uint32_t at : offsets) i.Member(at, PassingMember());
  return i;
}
// Passing members at 0 and 0x3000, and a B map whose first region is [first,
// end) and whose second holds the one at 0x3000.
void BThen3000(Image& i, uint32_t first, uint32_t end) {
  Passing(i, {0, 0x3000}).BRomMap(kTail + 0x100, first, end, Flash(0x3000), Flash(0x4000));
}
// Passing members at 0x1000 and 0x3000, and a B map whose region holds the one at 0x1000.
Image& BAt1000(Image& i) {
  return Passing(i, {0x1000, 0x3000}).BRomMap(kTail + 0x100, Flash(0x1000), Flash(0x2000), 0, 0);
}
// A member header whose packed size makes the member (H + P + 4) bytes long.
std::vector<uint8_t> Lh5Of(uint32_t bytes, uint16_t word17 = 0x5000) { return Header("-lh5-", bytes - 29, 0, word17); }
// The other member, then a passing one in the next slot; the region ends at regionEnd.
uint32_t SecondSlot() { return 0x12340 + tb::MemberSlot(OtherMember(300)); }
void TwoSlots(Image& i, uint32_t regionEnd) {
  i.Member(0x12340, OtherMember(300)).Member(SecondSlot(), PassingMember());
  i.BRomMap(kTail + 0x800, Flash(0x12340), Flash(regionEnd), 0, 0);
}
constexpr uint32_t kNone = orr::kNotFound;

// The system BIOS member: "-lh5-" or "-lh0-", words 0 and 0x5000 at 15 and 17. Without a B ROM map
// the 64 KiB boundaries are tested, with one the regions (N before B) in steps of H + P + 4.
TEST(ImageMemberSearch, FindsTheSystemBiosMember) {
  const struct { const char* name; void (*build)(Image&); uint32_t found; uint32_t size = kImage; } cases[] = {
      {"OtherMethod", [](Image& i) { i.Bytes(0, Header("-lh6-", 10, 0, 0x5000)); }, kNone},
      {"MethodInCapitals", [](Image& i) { i.Bytes(0, Header("-LH5-", 10, 0, 0x5000)); }, kNone},
      {"Word17Not5000", [](Image& i) { i.Bytes(0, Header("-lh5-", 10, 0, 0x4000)); }, kNone},
      {"Word15NotZero", [](Image& i) { i.Bytes(0, Header("-lh5-", 10, 1, 0x5000)); }, kNone},
      {"Lh0SystemBios", [](Image& i) { i.Bytes(0, Header("-lh0-", 10, 0, 0x5000)); }, 0},
      {"OnlyBoundariesAreTested", [](Image& i) { Passing(i.Member(0x10000, OtherMember()), {0x20010}); }, kNone},
      {"FirstPassingBoundaryWins",
       [](Image& i) { Passing(i.Member(0x10000, OtherMember()), {0x30000, 0x50000}); }, 0x30000},
      {"NMapAloneIsIgnored",
       [](Image& i) { Passing(i, {0x1234, 0x40000}).NRomMap(kTail, Flash(0x1234), Flash(0x2000), 0, 0); }, 0x40000},
      // 0x18000 bytes hold one whole 64 KiB block: offset 0x10000 is not tested.
      {"PartialLastBoundaryIsNotTested", [](Image& i) { i.Member(0x10000, PassingMember()); }, kNone, 0x18000},
      {"LastWholeBoundaryIsTested", [](Image& i) { i.Member(0x10000, PassingMember()); }, 0x10000, 0x20000},
      {"MemberLongerThanTheMemberBlockIsPassedOver",
       [](Image& i) { i.Bytes(0, Lh5Of(0x20001)).Member(0x30000, PassingMember()); }, 0x30000},
      {"MemberOfExactlyTheMemberBlockFits", [](Image& i) { i.Bytes(0, Lh5Of(0x20000)); }, 0},
      {"MemberReachingPastTheImageIsPassedOver", [](Image& i) { i.Bytes(0x70000, Lh5Of(0x10001)); }, kNone},
      {"MemberEndingAtTheImageEndFits", [](Image& i) { i.Bytes(0x70000, Lh5Of(0x10000)); }, 0x70000},
      {"WalkEndsAtTheRegionsEnd", [](Image& i) { TwoSlots(i, SecondSlot()); }, kNone},
      {"WalkStepsHeaderPlusPackedPlusFour", [](Image& i) { TwoSlots(i, SecondSlot() + 1); }, SecondSlot()},
      {"NRegionsAreWalkedBeforeBRegions", [](Image& i) {
         BAt1000(i.Member(0x50000, PassingMember())).NRomMap(kTail + 0x200, 0, 0, Flash(0x50000), Flash(0x51000));
       }, 0x50000},
      {"LastBRecordWins",
       [](Image& i) { BAt1000(i).BRomMap(kTail + 0x1FF00, Flash(0x3000), Flash(0x4000), 0, 0); }, 0x3000},
      // The earlier N map has no region: taken, it would leave the B region's member.
      {"LastNRecordWins",
       [](Image& i) { BAt1000(i).NRomMap(kTail, 0, 0, 0, 0).NRomMap(kTail + 64, Flash(0x3000), Flash(0x4000), 0, 0); },
       0x3000},
      {"RegionWithoutFirstIsSkipped", [](Image& i) { BThen3000(i, 0, Flash(0x1000)); }, 0x3000},
      {"RegionWithoutEndIsSkipped", [](Image& i) { BThen3000(i, Flash(0), 0); }, 0x3000},
      // Starts below the image's first byte, and would wrap onto offset 0.
      {"RegionBeforeTheImageIsSkipped", [](Image& i) { BThen3000(i, 0xFFF00000, 0xFFF81000); }, 0x3000},
      {"RegionEndingPastTheImageIsSkipped", [](Image& i) { BThen3000(i, Flash(0), 0x10); }, 0x3000},
      // A B map in the last 36 bytes is passed over for the earlier one; 32 bytes hold an N map whole.
      {"RomMapWhoseWordsPassTheImageEndIsPassedOver",
       [](Image& i) { BAt1000(i).BRomMap(kImage - 32, Flash(0x3000), Flash(0x4000), 0, 0); }, 0x1000},
      {"NRomMapInTheLast32BytesCounts",
       [](Image& i) { BAt1000(i).NRomMap(kImage - 32, Flash(0x3000), Flash(0x4000), 0, 0); }, 0x3000},
      // H + P + 4 is 2^32: a 32-bit position would stand still.
      {"StepThatWouldWrapEndsTheRegion",
       [](Image& i) { BThen3000(i.Bytes(0x1000, Lh5Of(0, 0x4000)), Flash(0x1000), Flash(0x2000)); }, 0x3000},
      // H and P 0: each step is the 4 bytes alone.
      {"ZeroHeadersStillAdvance", [](Image& i) { BThen3000(i.Fill(0x1000, 0x1000, 0), Flash(0x1000), Flash(0x2000)); },
       0x3000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Image image(c.size);
    c.build(image);
    EXPECT_EQ(orr::FindSystemBiosMember(image_test::ViewOf(image.Build())), c.found);
  }
}

// Through the export: the expansion and the identity from the F segment.

class ImageExtraction : public testing::Test {
 protected:
  void SetUp() override { StartDetected(); }
  void TearDown() override { ExpectNothingOutstanding(); }

  // An image the tags recognise, with the member at 0x20000 behind a B ROM map.
  static std::vector<uint8_t> WithMember(const std::vector<uint8_t>& member) {
    Image image(kImage);
    image.Meo(0x400, tb::BytesOf("TAGMODEL ")).Member(0x20000, OtherMember());
    return image.Member(0x20000 + tb::MemberSlot(OtherMember()), member)
        .BRomMap(kTail + 0x1000, Flash(0x20000), Flash(0x40000), 0, 0)
        .Build();
  }
};

tb::MachineBuilder Board() { return tb::MachineBuilder().Nt().BiosType(2); }

// A service library may write over the block's words between requests
// (scribble): the library sets the two handle words before each request.
TEST_F(ImageExtraction, OneServiceBlockServesTheThreeRequests) {
  for (bool scribble : {false, true}) {
    SCOPED_TRACE(scribble ? "scribbled between requests" : "left alone");
    tb::Reset(Board().ScribbleImageBlock(scribble));
    EXPECT_EQ(AnalyseImage(WithMember(SystemBiosMember("RV5420"))).model, "RV5420");
    std::vector<orr::ImageServiceBlock> b;
    for (const tb::Request& r : tb::ServiceRequests())
      if ((r.code >> 16) == 200 && r.input.size() == sizeof(orr::ImageServiceBlock))
        std::memcpy(&b.emplace_back(), r.input.data(), sizeof b[0]);
    ASSERT_EQ(b.size(), 3u);
    const uint32_t left = scribble ? tb::kScribbleWord : 0;
    for (size_t i = 0; i < b.size(); ++i) {  // one output block; words 0 to expand, then as the service left them
      EXPECT_EQ(std::count(b[i].reserved, b[i].reserved + 1024, 0), 1024);
      EXPECT_EQ(std::make_tuple(b[i].outputBlock, b[i].zero1032, b[i].zero1036),
                std::make_tuple(b[0].outputBlock, i ? left : 0u, i ? left : 0u));
    }
    // The member block for the expansion, the image block for the other two, none of them the scribble.
    EXPECT_EQ(std::set<uint32_t>({b[0].outputBlock, b[0].inputBlock, b[1].inputBlock, tb::kScribbleWord}).size(), 4u);
    EXPECT_EQ(b[1].inputBlock, b[2].inputBlock);
  }
}

// An Award image (no tags) is expanded too. A stored 64 KiB system BIOS lands in the output's upper half;
// its identity area is read as on the machine (every rule: IdentityArea.IdStringAndModel): "SPOILED", a
// tag without end gives 8 letters.
TEST_F(ImageExtraction, ExpandedSystemBiosIsReadAsOnTheMachine) {
  Image award(kImage);
  award.AwardBanner(kTail + 0x400).Bbsn(kTail + 0x420).Member(0x10000, SystemBiosMember("AW5420"));
  EXPECT_EQ(AnalyseImage(award.Build()).model, "AW5420");
  const std::vector<uint8_t> bios = tb::SystemBios(0x10000, std::string(52, 'I'), "X03/15/09-R1-AB-00", "ABCDEFGHIJ");
  FileInfo info = AnalyseImage(WithMember(tb::LzhMember("bios.rom", bios, tb::LzhMethod::Lh0, true)));
  EXPECT_EQ(std::make_tuple(info.result, info.idString, info.model), std::make_tuple(0u, "SPOILED", "ABCDEFGH"));
}

// Allocations: 1 image, 2 output block, 3 member block. Locks: 1 the read, 2 the AMI record, 3 the tags,
// 4 the member search, 5 the member block, 6 the output block. A failed load leaves nothing in the
// record; no member passing the test, or a service that refuses, fails the status (silently: 307) or
// finds the member damaged (its CRC-16, behind the name "bios.rom") leaves the tags. No block is left.
TEST_F(ImageExtraction, FailedStepGivesItsNumberAndLeavesNoBlock) {
  const tb::MachineBuilder board = Board();
  const struct {
    const char* name; tb::MachineBuilder machine; int failAllocAt, failLockAt;
    int member;  // 0 the system BIOS, 1 damaged, 2 none
    uint32_t result; const char* model; uint32_t requests;  // of expand, status, finish
  } cases[] = {{"NoMemberGives304WithoutAServiceRequest", board, 0, 0, 2, 304, "TAGMODEL", 0},
               {"NoMemoryForTheImage", board, 1, 0, 0, 302, "", 0},
               {"ImageCannotBeLocked", board, 0, 1, 0, 303, "", 0},
               {"OutputBlock", board, 2, 0, 0, 305, "TAGMODEL", 0},
               {"MemberBlock", board, 3, 0, 0, 305, "TAGMODEL", 0},
               {"LockForTheAmiRecord", board, 0, 2, 0, 0, "RV5420", 3},
               {"LockForTheTags", board, 0, 3, 0, 304, "", 0},
               {"LockForTheMemberSearch", board, 0, 4, 0, 303, "TAGMODEL", 0},
               {"LockOfTheMemberBlock", board, 0, 5, 0, 305, "TAGMODEL", 0},
               {"LockOfTheOutputBlock", board, 0, 6, 0, 305, "TAGMODEL", 3},
               {"RefusedFirstRequestGives306", Board().RefuseExpand(), 0, 0, 0, 306, "TAGMODEL", 1},
               {"FailedSecondRequestIsTheResult", Board().ImageServiceError(450), 0, 0, 0, 450, "TAGMODEL", 3},
               {"SilentSecondRequestGives307", Board().StatusFailsSilently(), 0, 0, 0, 307, "TAGMODEL", 3},
               {"DamagedMemberReportsTheServicesNumber", board, 0, 0, 1, tb::kExpandCrcMismatch, "TAGMODEL", 3}};
  const std::vector<uint32_t> all = {orr::kRequestExpandMember, orr::kRequestImageStatus, orr::kRequestImageFinish};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartDetected(c.machine);
    std::vector<uint8_t> member = SystemBiosMember("RV5420");
    if (c.member == 1) member[22 + 8] ^= 0x55, image_test::FixChecksum(member);
    if (c.member == 2) member = OtherMember();
    const std::vector<uint8_t> image = WithMember(member);
    if (c.failAllocAt) tb::FailGlobalAllocAt(c.failAllocAt);
    if (c.failLockAt) tb::FailGlobalLockAt(c.failLockAt);
    const FileInfo info = AnalyseImage(image);
    EXPECT_EQ(std::make_pair(info.result, info.model), std::make_pair(c.result, std::string(c.model)));
    if (std::string(c.model) == "TAGMODEL") EXPECT_EQ(info.idString, "N/A");  // the tags' answer survives the failure
    EXPECT_EQ(image_test::ImageRequests(), std::vector<uint32_t>(all.begin(), all.begin() + c.requests));
    ExpectNothingOutstanding();
  }
}

}  // namespace
