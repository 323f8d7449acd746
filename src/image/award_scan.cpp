#include "image/award_scan.h"

namespace orr {
namespace {

constexpr uint32_t kBannerStep = 1024;
constexpr uint32_t kLastBanner = 127 * kBannerStep;
constexpr uint32_t kRecordStep = 16;
constexpr uint32_t kLastRecord = 4080;  // the 4 KiB from the banner
constexpr uint32_t kBbssRegionSize = 20;

}  // namespace

uint32_t ScanAwardImage(ByteView tail) {
  uint32_t banner = tail.FindFirst(kAwardBanner, 0, kBannerStep, kLastBanner);
  if (banner == kNotFound) return 0;
  // Near the image's end the 4 KiB are cut short: only records that lie in
  // the image are found, and a region size past its end reads as 0.
  ByteView area = tail.Sub(banner);
  if (area.FindFirst(kBbsnRecord, 0, kRecordStep, kLastRecord) != kNotFound) return 1;
  uint32_t bbss = area.FindFirst(kBbssRecord, 0, kRecordStep, kLastRecord);
  if (bbss == kNotFound) return 0;
  return area.U16(bbss + kBbssRegionSize) != 0 ? 1 : 0;
}

}  // namespace orr
