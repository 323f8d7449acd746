// Image analysis end to end: the input is an image file, analysed by
// Orrivane_GetBIOSFileInfo on a detected machine, expansion included. One
// input in eight is analysed a second time with a memory fault injected, so
// the failure paths are held to the same invariants. ORRIVANE_FUZZ_VERBOSE
// set in the environment prints each result (for replaying by hand).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "harness.h"
#include "state/module_state.h"
#include "machine_builder.h"
#include "orrivane.h"

namespace {

// One file per process, in memory where the machine offers it.
const std::string& ImagePath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp ? tmp : "/tmp";
    std::atexit([] { std::remove(ImagePath().c_str()); });
    return dir + "/orrivane-fuzz-image-" + std::to_string(getpid()) + ".bin";
  }();
  return path;
}

bool WriteImage(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(ImagePath().c_str(), "wb");
  if (!f) return false;
  bool whole = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && whole;
}

const tb::Machine& DetectedMachine() {
  static const tb::Machine machine = tb::MachineBuilder().Nt().BiosType(2).FlashSize(0x80000).Build();
  return machine;
}

// Outputs of exactly the documented sizes on the heap, so a copy that runs
// past one is caught.
void Analyse(const char* path) {
  std::unique_ptr<char[]> model(new char[60]), id(new char[100]), version(new char[60]), date(new char[32]);
  uint32_t dateCode = 0, found = 0;
  uint32_t result = Orrivane_GetBIOSFileInfo(path, model.get(), id.get(), version.get(), date.get(), &dateCode, &found);
  fz::RequireDocumentedResult(result);
  if (std::getenv("ORRIVANE_FUZZ_VERBOSE"))
    std::fprintf(stderr, "  result %u, model \"%s\", id \"%s\", version \"%s\", date \"%s\", code %u\n", result,
                 model.get(), id.get(), version.get(), date.get(), dateCode);
  FZ_REQUIRE(std::memchr(model.get(), 0, 60) && std::memchr(id.get(), 0, 100));
  FZ_REQUIRE(std::memchr(version.get(), 0, 60) && std::memchr(date.get(), 0, 32));
  FZ_REQUIRE(found == ImageBios.amiTagFound && (found == 0 || found == 1));
  FZ_REQUIRE(found == 0 || result == 0);  // an identity record settles the image
  fz::RequireInvariants();
}

void StartDetected() {
  fz::StartWith(DetectedMachine());
  FZ_REQUIRE(Orrivane_Initialize() == 1);
  tb::ClearRecords();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteImage(data, size)) {
    std::perror(ImagePath().c_str());
    std::abort();
  }
  StartDetected();
  Analyse(ImagePath().c_str());

  const uint32_t h = fz::Hash(data, size);
  if (h % 8 == 0) {
    StartDetected();
    // The image block, the two work blocks, or one of the locks.
    if ((h >> 3) & 1)
      tb::FailGlobalAllocAt(1 + (h >> 4) % 3);
    else
      tb::FailGlobalLockAt(1 + (h >> 4) % 6);
    Analyse(ImagePath().c_str());
  }
  return 0;
}
