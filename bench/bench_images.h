// The image files of the image-analysis benchmarks, each built and written
// to a temporary file once per run and removed when the run ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

enum class ImageKind {
  // An AMI identity record of version 5 in the last 64 KiB.
  IdentityRecord,
  // No identity record, ZANTBIOS record or *MEO marker: every whole-image
  // pass runs to the end, then the Award banner, the ROM map and the system
  // BIOS member in the tail lead to the expansion.
  AwardCompressed,
};

struct BenchImage {
  std::string path;
  uint32_t size;
  uint8_t floorByte;  // what the floor's memchr pass looks for
  // What Orrivane_GetBIOSFileInfo must report for it.
  uint32_t identityRecordFound;
  std::string model;
};

const BenchImage& ImageFile(ImageKind kind, uint32_t size);
// The bytes of such an image, for writing one to keep (write_bench_image.cpp).
std::vector<uint8_t> ImageBytes(ImageKind kind, uint32_t size);

}  // namespace bench
