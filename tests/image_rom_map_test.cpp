// Finding the system BIOS member through the ROM maps or at 64 KiB
// boundaries, and its expansion by the service library.
#include "image/member_search.h"

#include "hwaccess/contract.h"
#include "image_support.h"

namespace {

using image_test::AnalyseImage;
using image_test::FileInfo;
using image_test::ImageRequests;
using image_test::OtherMember;
using image_test::PassingMember;
using image_test::StartDetected;
using image_test::SystemBiosMember;

constexpr uint32_t kImage = 0x80000;  // 512 KiB
constexpr uint32_t kTail = kImage - 0x20000;

uint32_t Find(const tb::ImageBuilder& image) {
  const std::vector<uint8_t>& bytes = image.Build();
  return orr::FindSystemBiosMember(orr::ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())));
}

// Member header fields as far as the library reads them.
std::vector<uint8_t> Header(uint8_t h, const char* method, uint32_t packed, uint16_t word15, uint16_t word17) {
  std::vector<uint8_t> header(21, 0);
  header[0] = h;
  std::memcpy(&header[2], method, 5);
  for (int i = 0; i < 4; ++i) header[7 + i] = static_cast<uint8_t>(packed >> (8 * i));
  header[15] = static_cast<uint8_t>(word15);
  header[16] = static_cast<uint8_t>(word15 >> 8);
  header[17] = static_cast<uint8_t>(word17);
  header[18] = static_cast<uint8_t>(word17 >> 8);
  return header;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

struct HeaderCase {
  const char* name;
  std::vector<uint8_t> header;
  uint32_t passes;
};

class ImageMemberHeader : public testing::TestWithParam<HeaderCase> {};

TEST_P(ImageMemberHeader, Test) {
  const std::vector<uint8_t>& h = GetParam().header;
  EXPECT_EQ(orr::IsSystemBiosMember(orr::ByteView(h.data(), static_cast<uint32_t>(h.size()))), GetParam().passes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageMemberHeader,
    testing::Values(HeaderCase{"OtherMethod", Header(25, "-lh6-", 10, 0, 0x5000), 0},
                    HeaderCase{"MethodInCapitals", Header(25, "-LH5-", 10, 0, 0x5000), 0},
                    HeaderCase{"Word17Not5000", Header(25, "-lh5-", 10, 0, 0x4000), 0},
                    HeaderCase{"Word15NotZero", Header(25, "-lh5-", 10, 1, 0x5000), 0},
                    HeaderCase{"CutBeforeWord17", Cut(Header(25, "-lh5-", 10, 0, 0x5000), 18), 0},
                    HeaderCase{"Lh5SystemBios", Header(25, "-lh5-", 10, 0, 0x5000), 1},
                    HeaderCase{"Lh0SystemBios", Header(25, "-lh0-", 10, 0, 0x5000), 1},
                    HeaderCase{"BuilderMember", PassingMember(), 1}),
    [](const testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

// Without a B ROM map: the 64 KiB boundaries.

TEST(ImageMemberSearch, FirstPassingBoundaryWins) {
  tb::ImageBuilder image(kImage);
  image.Member(0x10000, OtherMember()).Member(0x20010, PassingMember());
  EXPECT_EQ(Find(image), orr::kNotFound);
  image.Member(0x30000, PassingMember()).Member(0x50000, PassingMember());
  EXPECT_EQ(Find(image), 0x30000u);
}

TEST(ImageMemberSearch, NMapAloneIsIgnored) {
  tb::ImageBuilder image(kImage);
  image.Member(0x1234, PassingMember())
      .NRomMap(kTail + 0x100, image.FlashAddress(0x1234), image.FlashAddress(0x2000), 0, 0);
  EXPECT_EQ(Find(image), orr::kNotFound);
  image.Member(0x40000, PassingMember());
  EXPECT_EQ(Find(image), 0x40000u);
}

TEST(ImageMemberSearch, PartialLastBoundaryIsNotTested) {
  // 0x18000 bytes hold one whole 64 KiB block: offset 0x10000 is not tested.
  tb::ImageBuilder image(0x18000);
  image.Member(0x10000, PassingMember());
  EXPECT_EQ(Find(image), orr::kNotFound);
}

TEST(ImageMemberSearch, MemberLongerThanTheMemberBlockIsPassedOver) {
  tb::ImageBuilder image(kImage);
  image.Bytes(0, Header(25, "-lh5-", 0x20000 - 25 - 4 + 1, 0, 0x5000)).Member(0x30000, PassingMember());
  EXPECT_EQ(Find(image), 0x30000u);
  // Exactly 128 KiB fits.
  image.Bytes(0, Header(25, "-lh5-", 0x20000 - 25 - 4, 0, 0x5000));
  EXPECT_EQ(Find(image), 0u);
}

TEST(ImageMemberSearch, MemberReachingPastTheImageIsPassedOver) {
  tb::ImageBuilder image(kImage);
  image.Bytes(0x70000, Header(25, "-lh5-", 0x10000 - 25 - 4 + 1, 0, 0x5000));
  EXPECT_EQ(Find(image), orr::kNotFound);
  image.Bytes(0x70000, Header(25, "-lh5-", 0x10000 - 25 - 4, 0, 0x5000));
  EXPECT_EQ(Find(image), 0x70000u);
}

// With a B ROM map: the region walk.

TEST(ImageMemberSearch, WalkStepsHeaderPlusPackedPlusFourUpToTheRegionsEnd) {
  tb::ImageBuilder image(kImage);
  std::vector<uint8_t> logo = OtherMember(300);
  uint32_t second = 0x12340 + tb::MemberSlot(logo);
  image.Member(0x12340, logo)
      .Member(second, PassingMember())
      .BRomMap(kTail + 0x800, image.FlashAddress(0x12340), image.FlashAddress(second), 0, 0);
  EXPECT_EQ(Find(image), orr::kNotFound);
  image.BRomMap(kTail + 0x800, image.FlashAddress(0x12340), image.FlashAddress(second + 1), 0, 0);
  EXPECT_EQ(Find(image), second);
}

TEST(ImageMemberSearch, NRegionsAreWalkedBeforeBRegions) {
  tb::ImageBuilder image(kImage);
  image.Member(0x1000, PassingMember())
      .Member(0x50000, PassingMember())
      .BRomMap(kTail + 0x100, image.FlashAddress(0x1000), image.FlashAddress(0x2000), 0, 0)
      .NRomMap(kTail + 0x200, 0, 0, image.FlashAddress(0x50000), image.FlashAddress(0x51000));
  EXPECT_EQ(Find(image), 0x50000u);
}

TEST(ImageMemberSearch, LastBRecordWins) {
  tb::ImageBuilder image(kImage);
  image.Member(0x1000, PassingMember())
      .Member(0x3000, PassingMember())
      .BRomMap(kTail + 0x100, image.FlashAddress(0x1000), image.FlashAddress(0x2000), 0, 0)
      .BRomMap(kTail + 0x1FF00, image.FlashAddress(0x3000), image.FlashAddress(0x4000), 0, 0);
  EXPECT_EQ(Find(image), 0x3000u);
}

TEST(ImageMemberSearch, AbsentRegionsAreSkipped) {
  tb::ImageBuilder image(kImage);
  image.Member(0, PassingMember())
      .Member(0x3000, PassingMember())
      .BRomMap(kTail + 0x100, 0, image.FlashAddress(0x1000), image.FlashAddress(0x3000), image.FlashAddress(0x4000));
  EXPECT_EQ(Find(image), 0x3000u);
  image.BRomMap(kTail + 0x100, image.FlashAddress(0), 0, image.FlashAddress(0x3000), image.FlashAddress(0x4000));
  EXPECT_EQ(Find(image), 0x3000u);
}

TEST(ImageMemberSearch, RegionsOutsideTheImageAreSkipped) {
  tb::ImageBuilder image(kImage);
  image.Member(0, PassingMember()).Member(0x3000, PassingMember());
  // Region 1 starts below the image's first byte (and would wrap onto offset 0).
  image.BRomMap(kTail + 0x100, 0xFFF00000, 0xFFF81000, image.FlashAddress(0x3000), image.FlashAddress(0x4000));
  EXPECT_EQ(Find(image), 0x3000u);
  // Region 1 ends past the image's last byte.
  image.BRomMap(kTail + 0x100, image.FlashAddress(0), 0x00000010, image.FlashAddress(0x3000), image.FlashAddress(0x4000));
  EXPECT_EQ(Find(image), 0x3000u);
}

TEST(ImageMemberSearch, RomMapWhoseWordsPassTheImageEndIsPassedOver) {
  tb::ImageBuilder image(kImage);
  image.Member(0x1000, PassingMember())
      .Member(0x3000, PassingMember())
      .BRomMap(kTail + 0x100, image.FlashAddress(0x1000), image.FlashAddress(0x2000), 0, 0)
      .BRomMap(kImage - 32, image.FlashAddress(0x3000), image.FlashAddress(0x4000), 0, 0);
  EXPECT_EQ(Find(image), 0x1000u);
  // 32 bytes hold an N ROM map whole.
  image.NRomMap(kImage - 32, image.FlashAddress(0x3000), image.FlashAddress(0x4000), 0, 0);
  EXPECT_EQ(Find(image), 0x3000u);
}

TEST(ImageMemberSearch, StepThatWouldWrapEndsTheRegion) {
  tb::ImageBuilder image(kImage);
  // H + P + 4 is 2^32: a 32-bit position would stand still.
  image.Bytes(0x1000, Header(25, "-lh5-", 0xFFFFFFFFu - 25 - 3, 0, 0x4000))
      .Member(0x3000, PassingMember())
      .BRomMap(kTail + 0x100, image.FlashAddress(0x1000), image.FlashAddress(0x2000), image.FlashAddress(0x3000),
               image.FlashAddress(0x4000));
  EXPECT_EQ(Find(image), 0x3000u);
}

TEST(ImageMemberSearch, ZeroHeadersStillAdvance) {
  // H and P 0: each step is the 4 bytes alone, and the walk reaches the region's end.
  tb::ImageBuilder image(kImage);
  image.Fill(0x1000, 0x1000, 0)
      .Member(0x3000, PassingMember())
      .BRomMap(kTail + 0x100, image.FlashAddress(0x1000), image.FlashAddress(0x2000), image.FlashAddress(0x3000),
               image.FlashAddress(0x4000));
  EXPECT_EQ(Find(image), 0x3000u);
}

// Through the export: the expansion and the identity from the F segment.

class ImageExtraction : public testing::Test {
 protected:
  void SetUp() override { StartDetected(); }
  void TearDown() override { ExpectNothingOutstanding(); }

  // An image the tags recognise, with the member at 0x20000 behind a B ROM map.
  static tb::ImageBuilder WithMember(const std::vector<uint8_t>& member) {
    tb::ImageBuilder image(kImage);
    image.Meo(0x400, tb::BytesOf("TAGMODEL "))
        .Member(0x20000, OtherMember())
        .Member(0x20000 + tb::MemberSlot(OtherMember()), member)
        .BRomMap(kTail + 0x1000, image.FlashAddress(0x20000), image.FlashAddress(0x40000), 0, 0);
    return image;
  }
};

TEST_F(ImageExtraction, NoMemberGives304WithoutAServiceRequest) {
  tb::ImageBuilder image(kImage);
  image.Meo(0x400, tb::BytesOf("TAGMODEL ")).BRomMap(kTail, image.FlashAddress(0x1000), image.FlashAddress(0x2000), 0, 0);
  FileInfo info = AnalyseImage(image.Build());
  EXPECT_EQ(info.result, 304u);
  EXPECT_EQ(info.model, "TAGMODEL");
  EXPECT_TRUE(ImageRequests().empty());
}

TEST_F(ImageExtraction, RefusedFirstRequestGives306) {
  tb::Reset(tb::MachineBuilder().Nt().BiosType(2).RefuseExpand());
  FileInfo info = AnalyseImage(WithMember(SystemBiosMember("RV5420")).Build());
  EXPECT_EQ(info.result, 306u);
  EXPECT_EQ(ImageRequests(), (std::vector<uint32_t>{orr::kRequestExpandMember}));
  EXPECT_EQ(info.model, "TAGMODEL");
  EXPECT_EQ(info.idString, "N/A");
}

TEST_F(ImageExtraction, FailedSecondRequestIsTheResult) {
  // Its serviceError, or 307 when it fails without writing one.
  tb::MachineBuilder failing;
  failing.Nt().BiosType(2).ImageServiceError(450);
  tb::MachineBuilder silent;
  silent.Nt().BiosType(2).StatusFailsSilently();
  for (const auto& [machine, result] : {std::make_pair(failing, 450u), std::make_pair(silent, 307u)}) {
    tb::Reset(machine);
    FileInfo info = AnalyseImage(WithMember(SystemBiosMember("RV5420")).Build());
    EXPECT_EQ(info.result, result);
    EXPECT_EQ(info.idString, "N/A");
    EXPECT_EQ(info.date, "N/A");
    EXPECT_EQ(info.model, "TAGMODEL");
    EXPECT_EQ(ImageRequests(), (std::vector<uint32_t>{orr::kRequestExpandMember, orr::kRequestImageStatus,
                                                      orr::kRequestImageFinish}));
    ExpectNothingOutstanding();
  }
}

TEST_F(ImageExtraction, DamagedMemberReportsTheServicesNumber) {
  // A wrong CRC-16 behind the name "bios.rom", with the header checksum made to match.
  std::vector<uint8_t> member = SystemBiosMember("RV5420");
  member[22 + 8] ^= 0x55;
  uint8_t sum = 0;
  for (uint32_t i = 2; i < 2u + member[0]; ++i) sum = static_cast<uint8_t>(sum + member[i]);
  member[1] = sum;
  FileInfo info = AnalyseImage(WithMember(member).Build());
  EXPECT_EQ(info.result, tb::kExpandCrcMismatch);
  EXPECT_EQ(info.idString, "N/A");
}

TEST_F(ImageExtraction, ExpandsTheSystemBiosAndReadsItsFSegment) {
  FileInfo info = AnalyseImage(WithMember(SystemBiosMember("RV5420")).Build());
  EXPECT_EQ(info.result, 0u);
  EXPECT_EQ(info.model, "RV5420");
  EXPECT_EQ(info.idString, "RV5420 BIOS");
  EXPECT_EQ(info.version, "R1.02");
  EXPECT_EQ(info.date, "03/15/2009");
  EXPECT_EQ(info.dateCode, 20090315u);
  EXPECT_EQ(info.amiTagFound, 0u);
}

// A service library may write over the block's words between requests
// (scribble): the library sets the two handle words before each request.
TEST_F(ImageExtraction, OneServiceBlockServesTheThreeRequests) {
  for (bool scribble : {false, true}) {
    SCOPED_TRACE(scribble ? "scribbled between requests" : "left alone");
    tb::Reset(tb::MachineBuilder().Nt().BiosType(2).ScribbleImageBlock(scribble));
    FileInfo info = AnalyseImage(WithMember(SystemBiosMember("RV5420")).Build());
    EXPECT_EQ(info.result, 0u);
    EXPECT_EQ(info.model, "RV5420");
    std::vector<orr::ImageServiceBlock> blocks;
    for (const tb::Request& r : tb::ServiceRequests()) {
      if ((r.code >> 16) != 200) continue;
      ASSERT_EQ(r.input.size(), sizeof(orr::ImageServiceBlock));
      orr::ImageServiceBlock b;
      std::memcpy(&b, r.input.data(), sizeof b);
      blocks.push_back(b);
    }
    ASSERT_EQ(blocks.size(), 3u);
    const uint32_t left = scribble ? tb::kScribbleWord : 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
      const orr::ImageServiceBlock& b = blocks[i];
      EXPECT_EQ(std::vector<uint8_t>(b.reserved, b.reserved + 1024), std::vector<uint8_t>(1024, 0));
      EXPECT_EQ(b.outputBlock, blocks[0].outputBlock);
      // 0 for the expansion; the other two find them as the service left them.
      EXPECT_EQ(b.zero1032, i == 0 ? 0u : left);
      EXPECT_EQ(b.zero1036, i == 0 ? 0u : left);
    }
    // The member block for the expansion, the image block for the other two.
    EXPECT_NE(blocks[0].outputBlock, tb::kScribbleWord);
    EXPECT_NE(blocks[0].inputBlock, blocks[1].inputBlock);
    EXPECT_EQ(blocks[1].inputBlock, blocks[2].inputBlock);
    EXPECT_NE(blocks[1].inputBlock, blocks[0].outputBlock);
    EXPECT_NE(blocks[1].inputBlock, tb::kScribbleWord);
  }
}

TEST_F(ImageExtraction, RomMapWithoutTagsIsExpandedToo) {
  tb::ImageBuilder image(kImage);
  image.Member(0x20000, SystemBiosMember("RV5420"))
      .BRomMap(kTail + 0x1000, image.FlashAddress(0x20000), image.FlashAddress(0x40000), 0, 0);
  FileInfo info = AnalyseImage(image.Build());
  EXPECT_EQ(info.result, 0u);
  EXPECT_EQ(info.model, "RV5420");
  // An N ROM map alone: recognised, and the member found at a 64 KiB boundary.
  tb::ImageBuilder nOnly(kImage);
  nOnly.Member(0x30000, SystemBiosMember("RV5420")).NRomMap(kTail + 0x1000, 0, 0, 0, 0);
  EXPECT_EQ(AnalyseImage(nOnly.Build()).result, 0u);
}

TEST_F(ImageExtraction, AwardImageWithoutTagsIsExpandedToo) {
  tb::ImageBuilder image(kImage);
  image.AwardBanner(kTail + 0x400).Bbsn(kTail + 0x420).Member(0x10000, SystemBiosMember("AW5420"));
  FileInfo info = AnalyseImage(image.Build());
  EXPECT_EQ(info.result, 0u);
  EXPECT_EQ(info.model, "AW5420");
}

struct FSegmentCase {
  const char* name;
  std::string idString;
  std::string modelTag;
  std::string expectId;
  std::string expectModel;
};

class ImageFSegment : public ImageExtraction, public testing::WithParamInterface<FSegmentCase> {};

TEST_P(ImageFSegment, ReadsTheIdentityAreaAsOnTheMachine) {
  const FSegmentCase& c = GetParam();
  // 64 KiB, stored: a stored 128 KiB system BIOS would not fit the member block.
  std::vector<uint8_t> bios =
      tb::SystemBios(0x10000, c.idString, "X03/15/2009-R1.02-" + c.expectModel + "-00", c.modelTag);
  FileInfo info = AnalyseImage(WithMember(tb::LzhMember("bios.rom", bios, tb::LzhMethod::Lh0, true)).Build());
  EXPECT_EQ(info.result, 0u);
  EXPECT_EQ(info.idString, c.expectId);
  EXPECT_EQ(info.model, c.expectModel);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageFSegment,
    testing::Values(FSegmentCase{"IdOf51IsKept", std::string(51, 'I'), "AB12", std::string(51, 'I'), "AB12"},
                    FSegmentCase{"IdOf52IsSpoiled", std::string(52, 'I'), "AB12", "SPOILED", "AB12"},
                    FSegmentCase{"AngleBracketsDropped", "ID", "<AB12>XY", "ID", "AB12XY"},
                    FSegmentCase{"BlankEndsTheTag", "ID", "AB 12", "ID", "AB"},
                    FSegmentCase{"EightLettersWithoutEnd", "ID", "ABCDEFGHIJ", "ID", "ABCDEFGH"}),
    [](const testing::TestParamInfo<FSegmentCase>& info) { return info.param.name; });

struct FaultCase {
  const char* name;
  int failAllocAt;
  int failLockAt;
  uint32_t result;
};

class ImageExtractionFault : public ImageExtraction, public testing::WithParamInterface<FaultCase> {};

// Global calls of one analysis, in order. Allocations: 1 image, 2 output
// block, 3 member block. Locks: 1 the read, 2 the AMI record, 3 the tags,
// 4 the image for the member search, 5 the member block, 6 the output block.
TEST_P(ImageExtractionFault, GivesItsNumberAndLeavesNoBlock) {
  const FaultCase& c = GetParam();
  std::vector<uint8_t> image = WithMember(SystemBiosMember("RV5420")).Build();
  if (c.failAllocAt) tb::FailGlobalAllocAt(c.failAllocAt);
  if (c.failLockAt) tb::FailGlobalLockAt(c.failLockAt);
  FileInfo info = AnalyseImage(image);
  EXPECT_EQ(info.result, c.result);
  if (c.result != 0) EXPECT_NE(info.model, "RV5420");
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageExtractionFault,
                         testing::Values(FaultCase{"OutputBlock", 2, 0, 305}, FaultCase{"MemberBlock", 3, 0, 305},
                                         FaultCase{"LockForTheAmiRecord", 0, 2, 0},
                                         FaultCase{"LockForTheTags", 0, 3, 304},
                                         FaultCase{"LockForTheMemberSearch", 0, 4, 303},
                                         FaultCase{"LockOfTheMemberBlock", 0, 5, 305},
                                         FaultCase{"LockOfTheOutputBlock", 0, 6, 305}, FaultCase{"None", 0, 0, 0}),
                         [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
