// orrivane_bench_image KIND MIB OUTPUT: writes the image an image-analysis
// benchmark uses (KIND award or record, MIB its size in MiB), to time the
// tool on it: `orrivane image OUTPUT`, with and without --dll.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_images.h"
#include "image_builder.h"

int main(int argc, char** argv) {
  const std::string kind = argc == 4 ? argv[1] : "";
  const long mib = argc == 4 ? std::strtol(argv[2], nullptr, 10) : 0;
  if ((kind != "award" && kind != "record") || mib < 1 || mib > 64) {
    std::fprintf(stderr, "usage: %s award|record MIB OUTPUT\n", argv[0]);
    return 2;
  }
  const auto size = static_cast<uint32_t>(mib) << 20;
  const bench::ImageKind k = kind == "award" ? bench::ImageKind::AwardCompressed : bench::ImageKind::IdentityRecord;
  if (!tb::WriteImageFile(argv[3], bench::ImageBytes(k, size))) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
