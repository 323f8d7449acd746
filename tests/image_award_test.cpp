// The Award banner and its BBSN/BBSS records in the tail area (the expansion that follows: ImageExtraction).
#include "image/award_scan.h"

#include "image/image_layout.h"
#include "image_support.h"

namespace {

constexpr uint32_t kImage = 0x40000;  // 256 KiB: the tail area is the upper half

// A banner on the tail area's 1 KiB grid and, 16-byte steps within 4 KiB of it, "*BBSN*" or "*BBSS*"
// with a region size; only records inside the image count; the first banner fixes the area.
TEST(ImageAward, Recognises) {
  const struct {
    const char* name;
    int32_t banner;     // tail-area offset; a second banner 0x3C00 further on when secondBanner
    int32_t bbsn, bbss;  // offsets from the (last) banner, -1: none
    uint16_t bbssSize; uint32_t recognised; uint32_t size = kImage; bool secondBanner = false;
  } cases[] = {
      {"BannerOffTheKiBGrid", 0x2C10, 32, -1, 0, 0},
      {"BannerWithoutRecords", 0x2C00, -1, -1, 0, 0},
      {"RecordOffThe16ByteGrid", 0x2C00, 40, -1, 0, 0},
      {"RecordBeyondTheFourKiB", 0x2C00, 4096, -1, 0, 0},
      {"BbssWithoutRegionSize", 0x2C00, -1, 64, 0, 0},
      {"BannerInTheLastKiBCutsTheBbssSize", 0x1FC00, -1, 1008, 0xFFFF, 0},
      {"BannerBeforeTheTailAreaIsNotSeen", -0x400, 32, -1, 0, 0},
      {"FirstBannerFixesTheRecordArea", 0x400, 32, -1, 0, 0, kImage, true},
      {"BbsnAfterTheBanner", 0x2C00, 32, -1, 0, 1},
      {"BbsnAtTheLastStep", 0x2C00, 4080, -1, 0, 1},
      {"BbssWithRegionSize", 0x2C00, -1, 64, 0xFFFF, 1},
      {"BbssSizeBehindTheFourKiBStillCounts", 0x2C00, -1, 4080, 1, 1},
      {"BbsnDecidesOverAnEarlierEmptyBbss", 0x2C00, 256, 32, 0, 1},
      {"BannerAtTheTailStart", 0, 0x20, -1, 0, 1},
      {"BannerAtTheLastKiB", 0x1FC00, 1008, -1, 0, 1},
      {"ShortImageIsItsOwnTailArea", 0x800, 32, -1, 0, 1, 0x10000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tb::ImageBuilder image(c.size);
    const uint32_t banner = image.TailArea() + static_cast<uint32_t>(c.banner);  // wraps back for a negative offset
    const uint32_t records = c.secondBanner ? banner + 0x3C00 : banner;
    image.AwardBanner(banner).AwardBanner(records);
    if (c.bbsn >= 0) image.Bbsn(records + static_cast<uint32_t>(c.bbsn));
    if (c.bbss >= 0) image.Bbss(records + static_cast<uint32_t>(c.bbss), 0x1000, c.bbssSize);
    EXPECT_EQ(orr::ScanAwardImage(orr::TailArea(image_test::ViewOf(image.Build()))), c.recognised);
  }
}

}  // namespace
