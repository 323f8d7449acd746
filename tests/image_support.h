// Shared by the image analysis tests: a detected machine to analyse on,
// image files on disk, image blocks for the classification steps, and the
// export's outputs gathered in one record.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/image_block.h"
#include "image_builder.h"
#include "library_state.h"
#include "machine_builder.h"
#include "orrivane.h"

namespace image_test {

// A machine that Orrivane_Initialize detects, so the guarded export runs;
// the detection's own requests are forgotten.
inline void StartDetected(const tb::MachineBuilder& machine = tb::MachineBuilder().Nt().BiosType(2)) {
  StartWith(machine);
  ASSERT_EQ(Orrivane_Initialize(), 1u);
  tb::ClearRecords();
}

// A file under the test's temporary directory, removed when the test ends.
class TempFile {
 public:
  explicit TempFile(const std::string& name)
      : path_(testing::TempDir() + "orrivane_image_" + std::to_string(getpid()) + "_" + name) {}
  TempFile(const std::string& name, const std::vector<uint8_t>& bytes) : TempFile(name) { Write(bytes); }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(const std::vector<uint8_t>& bytes) const {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path_;
    if (!bytes.empty()) ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
  }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

struct FileInfo {
  uint32_t result;
  std::string model, idString, version, date;
  uint32_t dateCode, amiTagFound;
};

// Runs the export on path with buffers of the documented sizes, filled with
// a pattern so an output the export did not write shows.
inline FileInfo Analyse(const char* path) {
  char model[60], id[100], version[60], date[32];
  std::memset(model, 'm', sizeof model - 1);
  model[sizeof model - 1] = 0;
  std::strcpy(id, "untouched");
  std::strcpy(version, "untouched");
  std::strcpy(date, "untouched");
  uint32_t dateCode = 0xDEADBEEF, found = 0xDEADBEEF;
  uint32_t result = Orrivane_GetBIOSFileInfo(path, model, id, version, date, &dateCode, &found);
  return FileInfo{result, model, id, version, date, dateCode, found};
}

inline FileInfo AnalyseImage(const std::vector<uint8_t>& image, const std::string& name = "image.bin") {
  TempFile file(name, image);
  return Analyse(file.path());
}

// The image in a movable block with its size, as LoadBiosImage leaves it;
// freed by the test.
inline orr::ImageSlot SlotOf(const std::vector<uint8_t>& bytes) {
  HGLOBAL block = GlobalAlloc(GHND, bytes.size());
  void* data = GlobalLock(block);
  std::memcpy(data, bytes.data(), bytes.size());
  GlobalUnlock(block);
  return orr::ImageSlot{block, static_cast<uint32_t>(bytes.size())};
}

// A system BIOS whose F segment names the model: identification text
// "<model> BIOS", date 03/15/2009, version R1.02.
inline std::vector<uint8_t> SystemBiosOf(const std::string& model, uint32_t size = 0x20000,
                                         const std::string& idString = "") {
  return tb::SystemBios(size, idString.empty() ? model + " BIOS" : idString, "X03/15/2009-R1.02-" + model + "-00",
                        "<" + model + ">");
}

// The compressed member of that system BIOS. Compressing 128 KiB takes a
// while, so each member is made once per test run.
inline const std::vector<uint8_t>& SystemBiosMember(const std::string& model, tb::LzhMethod method = tb::LzhMethod::Lh5,
                                                    uint32_t size = 0x20000) {
  static std::map<std::string, std::vector<uint8_t>> made;
  std::string key = model + (method == tb::LzhMethod::Lh5 ? "/lh5/" : "/lh0/") + std::to_string(size);
  auto it = made.find(key);
  if (it == made.end())
    it = made.emplace(key, tb::LzhMember("bios.rom", SystemBiosOf(model, size), method, true)).first;
  return it->second;
}

// A small member that is not the system BIOS, or one whose header passes
// the test (for walks that never expand it).
inline std::vector<uint8_t> OtherMember(uint32_t bytes = 100) {
  return tb::LzhMember("logo.bmp", std::vector<uint8_t>(bytes, 0x5A), tb::LzhMethod::Lh0, false);
}
inline std::vector<uint8_t> PassingMember(uint32_t bytes = 100) {
  return tb::LzhMember("bios.rom", std::vector<uint8_t>(bytes, 0x90), tb::LzhMethod::Lh0, true);
}

// Image service requests made since the last ClearRecords.
inline std::vector<uint32_t> ImageRequests() {
  std::vector<uint32_t> codes;
  for (const tb::Request& r : tb::ServiceRequests())
    if ((r.code >> 16) == 200) codes.push_back(r.code);
  return codes;
}

}  // namespace image_test
