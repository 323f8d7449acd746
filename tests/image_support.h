// Shared by the image and member tests: a detected machine, image files, the export's outputs in one
// record, images and members to build and to damage.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "image/identity_records.h"
#include "image_builder.h"
#include "library_state.h"
#include "machine_builder.h"
#include "orrivane.h"

namespace image_test {

inline orr::ByteView ViewOf(const std::vector<uint8_t>& bytes) {
  return orr::ByteView(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// A classification step on the image's bytes, after the one pass that finds the marks.
inline uint32_t Step(uint32_t (*step)(orr::ByteView, const orr::ImageMarks&), const std::vector<uint8_t>& image) {
  return step(ViewOf(image), orr::FindImageMarks(ViewOf(image)));
}

// A member header field changed, and the header checksum made to match.
inline void Put32(std::vector<uint8_t>& m, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) m[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void FixChecksum(std::vector<uint8_t>& m) {
  uint32_t sum = 0;
  for (uint32_t i = 2; i < m[0] + 2u; ++i) sum += m[i];
  m[1] = static_cast<uint8_t>(sum);
}

// A machine Orrivane_Initialize detects, so the guarded export runs; its requests are forgotten.
inline void StartDetected(const tb::MachineBuilder& machine = tb::MachineBuilder().Nt().BiosType(2)) {
  StartWith(machine);
  ASSERT_EQ(Orrivane_Initialize(), 1u);
  tb::ClearRecords();
}

// A file under the test's temporary directory holding bytes, removed when the test ends.
struct TempFile {
  explicit TempFile(const std::string& name, const std::vector<uint8_t>& bytes = {})
      : path_(testing::TempDir() + "orrivane_image_" + std::to_string(getpid()) + "_" + name) {
    EXPECT_TRUE(tb::WriteImageFile(path_, bytes)) << path_;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }
  const std::string path_;
};

struct FileInfo {
  uint32_t result; std::string model, idString, version, date; uint32_t dateCode, amiTagFound;
};

// The export on path, into buffers of the documented sizes filled so that an unwritten output shows.
inline FileInfo Analyse(const char* path) {
  char model[60], id[100] = "untouched", version[60] = "untouched", date[32] = "untouched";
  std::memset(model, 'm', sizeof model - 1);
  model[sizeof model - 1] = 0;
  uint32_t dateCode = 0xDEADBEEF, found = 0xDEADBEEF;
  uint32_t result = Orrivane_GetBIOSFileInfo(path, model, id, version, date, &dateCode, &found);
  return FileInfo{result, model, id, version, date, dateCode, found};
}

inline FileInfo AnalyseImage(const std::vector<uint8_t>& image) { return Analyse(TempFile("image.bin", image).path()); }

// The member of a 128 KiB system BIOS: "<model> BIOS", 03/15/2009, R1.02; made once per run (slow).
inline const std::vector<uint8_t>& SystemBiosMember(const std::string& model) {
  static std::map<std::string, std::vector<uint8_t>> made;
  std::vector<uint8_t>& member = made[model];
  if (member.empty())
    member = tb::LzhMember("bios.rom", tb::SystemBios(0x20000, model + " BIOS", "X03/15/2009-R1.02-" + model + "-00",
                                                      "<" + model + ">"), tb::LzhMethod::Lh5, true);
  return member;
}

// A small member that is not the system BIOS, or one that passes the test (never to be expanded).
inline std::vector<uint8_t> OtherMember(uint32_t bytes = 100) {
  return tb::LzhMember("logo.bmp", std::vector<uint8_t>(bytes, 0x5A), tb::LzhMethod::Lh0, false);
}
inline std::vector<uint8_t> PassingMember() {
  return tb::LzhMember("bios.rom", std::vector<uint8_t>(100, 0x90), tb::LzhMethod::Lh0, true);
}

// A version-1 AMI record at offset whose four texts stand in the F area.
inline tb::ImageBuilder& VersionOne(tb::ImageBuilder& image, uint32_t offset, const std::string& model,
                                    const std::string& id = "ID", const std::string& version = "V1.00") {
  const uint32_t f = image.FArea();
  image.AmiRecordV1(offset, 0x1000, 0x1100, 0x1200, 0x1300).Text(f + 0x1000, model).Text(f + 0x1100, id);
  return image.Text(f + 0x1200, "03/15/2009").Text(f + 0x1300, version);
}

// Image service requests made since the last ClearRecords.
inline std::vector<uint32_t> ImageRequests() {
  std::vector<uint32_t> codes;
  for (const tb::Request& r : tb::ServiceRequests()) if ((r.code >> 16) == 200) codes.push_back(r.code);
  return codes;
}

}  // namespace image_test
