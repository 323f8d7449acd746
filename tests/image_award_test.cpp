// The Award banner and its BBSN/BBSS records in the tail area.
#include "image/award_scan.h"

#include "image/image_layout.h"
#include "image_support.h"

namespace {

using image_test::AnalyseImage;
using image_test::FileInfo;
using image_test::ImageRequests;
using image_test::StartDetected;

constexpr uint32_t kImage = 0x40000;  // 256 KiB: the tail area is the upper half
constexpr uint32_t kTail = kImage - 0x20000;

uint32_t Scan(const tb::ImageBuilder& image) {
  const std::vector<uint8_t>& bytes = image.Build();
  return orr::ScanAwardImage(orr::TailArea(orr::ByteView(bytes.data(), static_cast<uint32_t>(bytes.size()))));
}

struct AwardCase {
  const char* name;
  uint32_t banner;  // tail-area offset
  int32_t bbsn;     // offset from the banner, -1: none
  int32_t bbss;
  uint16_t bbssSize;
  uint32_t recognised;
};

class ImageAward : public testing::TestWithParam<AwardCase> {};

TEST_P(ImageAward, Recognises) {
  const AwardCase& c = GetParam();
  tb::ImageBuilder image(kImage);
  image.AwardBanner(kTail + c.banner);
  if (c.bbsn >= 0) image.Bbsn(kTail + c.banner + c.bbsn);
  if (c.bbss >= 0) image.Bbss(kTail + c.banner + c.bbss, 0x1000, c.bbssSize);
  EXPECT_EQ(Scan(image), c.recognised);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageAward,
    testing::Values(
        // Failures first.
        AwardCase{"BannerOffTheKiBGrid", 0x2C10, 32, -1, 0, 0},
        AwardCase{"BannerWithoutRecords", 0x2C00, -1, -1, 0, 0},
        AwardCase{"RecordOffThe16ByteGrid", 0x2C00, 40, -1, 0, 0},
        AwardCase{"RecordBeyondTheFourKiB", 0x2C00, 4096, -1, 0, 0},
        AwardCase{"BbssWithoutRegionSize", 0x2C00, -1, 64, 0, 0},
        AwardCase{"BannerInTheLastKiBCutsTheBbssSize", 0x1FC00, -1, 1008, 0xFFFF, 0},
        // Recognised.
        AwardCase{"BbsnAfterTheBanner", 0x2C00, 32, -1, 0, 1},
        AwardCase{"BbsnAtTheLastStep", 0x2C00, 4080, -1, 0, 1},
        AwardCase{"BbssWithRegionSize", 0x2C00, -1, 64, 0xFFFF, 1},
        AwardCase{"BbssSizeBehindTheFourKiBStillCounts", 0x2C00, -1, 4080, 1, 1},
        AwardCase{"BbsnDecidesOverAnEarlierEmptyBbss", 0x2C00, 256, 32, 0, 1},
        AwardCase{"BannerAtTheTailStart", 0, 0x20, -1, 0, 1},
        AwardCase{"BannerAtTheLastKiB", 0x1FC00, 1008, -1, 0, 1}),
    [](const testing::TestParamInfo<AwardCase>& info) { return info.param.name; });

TEST(ImageAwardScan, FirstBannerFixesTheRecordArea) {
  tb::ImageBuilder image(kImage);
  image.AwardBanner(kTail + 0x400).AwardBanner(kTail + 0x4000).Bbsn(kTail + 0x4020);
  EXPECT_EQ(Scan(image), 0u);
}

TEST(ImageAwardScan, BannerBeforeTheTailAreaIsNotSeen) {
  tb::ImageBuilder image(kImage);
  image.AwardBanner(kTail - 0x400).Bbsn(kTail - 0x400 + 32);
  EXPECT_EQ(Scan(image), 0u);
}

TEST(ImageAwardScan, ShortImageIsItsOwnTailArea) {
  tb::ImageBuilder image(0x10000);
  image.AwardBanner(0x800).Bbsn(0x820);
  EXPECT_EQ(Scan(image), 1u);
}

// Through the export: the Award scan is the third classification step (a
// recognised image goes on to the expansion, see image_rom_map_test.cpp).

TEST(ImageAwardExport, UnrecognisedAwardImageGives304WithoutAServiceRequest) {
  StartDetected();
  tb::ImageBuilder image(kImage);
  image.AwardBanner(kTail + 0x400).Bbss(kTail + 0x420, 0, 0);
  FileInfo info = AnalyseImage(image.Build());
  EXPECT_EQ(info.result, 304u);
  EXPECT_TRUE(ImageRequests().empty());
  ExpectNothingOutstanding();
}

}  // namespace
