#include "bench_images.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "firmware_content.h"
#include "image_builder.h"

namespace bench {
namespace {

// Removes the files when the run ends.
struct ImageFiles {
  std::map<std::pair<ImageKind, uint32_t>, BenchImage> made;
  ~ImageFiles() {
    for (const auto& [key, image] : made) std::remove(image.path.c_str());
  }
};

ImageFiles& Files() {
  static ImageFiles files;
  return files;
}

std::vector<uint8_t> IdentityRecordImage(uint32_t size) {
  tb::ImageBuilder b(size);
  b.Bytes(0, FirmwareBody(size, size));
  b.AmiRecord(b.FArea() + 0x8000, 5,
              {"BENCH5", "BENCH BOARD BIOS", "03/15/2009", "R1.05", "PRO", "Bench board", "BUILD-0012345"});
  return b.Build();
}

// The members sit 512 KiB before the end, found through the B ROM map; the
// banner and its BBSN record are in the tail area.
std::vector<uint8_t> AwardCompressedImage(uint32_t size) {
  static const std::vector<uint8_t> systemBios =
      tb::LzhMember("bios.rom", tb::SystemBios(0x20000, "BENCH AWARD BIOS", "X03/15/2009-R1.02-BENCHA-00", "<BENCHA>"),
                    tb::LzhMethod::Lh5, true);
  static const std::vector<uint8_t> logo =
      tb::LzhMember("logo.bmp", std::vector<uint8_t>(4000, 0x5A), tb::LzhMethod::Lh0, false);
  tb::ImageBuilder b(size);
  b.Bytes(0, FirmwareBody(size, size ^ 0xA3A3));
  const uint32_t members = size - 0x80000;
  b.Member(members, logo);
  b.Member(members + tb::MemberSlot(logo), systemBios);
  const uint32_t tail = b.TailArea();
  b.AwardBanner(tail + 0x1C000).Bbsn(tail + 0x1C040);
  b.BRomMap(tail + 0x1F800, b.FlashAddress(members), b.FlashAddress(members + 0x40000), 0, 0);
  return b.Build();
}

}  // namespace

std::vector<uint8_t> ImageBytes(ImageKind kind, uint32_t size) {
  return kind == ImageKind::IdentityRecord ? IdentityRecordImage(size) : AwardCompressedImage(size);
}

const BenchImage& ImageFile(ImageKind kind, uint32_t size) {
  ImageFiles& files = Files();
  auto it = files.made.find({kind, size});
  if (it != files.made.end()) return it->second;

  const bool record = kind == ImageKind::IdentityRecord;
  const std::vector<uint8_t> bytes = ImageBytes(kind, size);
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("orrivane_bench_" + std::to_string(getpid()) + (record ? "_record_" : "_award_") +
                             std::to_string(size) + ".bin"))
                               .string();
  tb::WriteImageFile(path, bytes);
  BenchImage image{path, size, RarestByte(bytes.data(), bytes.size()), record ? 1u : 0u,
                   record ? "BENCH5(PRO)" : "BENCHA"};
  return files.made.emplace(std::make_pair(kind, size), image).first->second;
}

}  // namespace bench
