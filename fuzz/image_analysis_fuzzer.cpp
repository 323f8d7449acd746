// Image analysis: the input is the image's bytes, put into a movable block
// as the load leaves it, then classified and, where the classification
// asks for it, expanded through the service library, as
// Orrivane_GetBIOSFileInfo does after reading the file (no file is
// written). One input in eight is analysed a second time with a memory
// fault injected, so the failure paths are held to the same invariants.
// ORRIVANE_FUZZ_VERBOSE set in the environment prints each result (for
// replaying by hand).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "harness.h"
#include "image/image_block.h"
#include "image/image_layout.h"
#include "image/load_image.h"
#include "image/member_expansion.h"
#include "state/module_state.h"

namespace {

// The image block as ReadImageFile leaves it: the bytes, the file's size.
orr::ImageSlot Load(const uint8_t* data, size_t size) {
  orr::ImageSlot slot = {GlobalAlloc(GHND, size), static_cast<uint32_t>(size)};
  FZ_REQUIRE(slot.block);
  void* bytes = GlobalLock(slot.block);
  FZ_REQUIRE(bytes);
  std::memcpy(bytes, data, size);
  GlobalUnlock(slot.block);
  return slot;
}

void Analyse(const uint8_t* data, size_t size) {
  orr::ImageSlot slot = Load(data, size);
  uint32_t result = orr::ClassifyImage(slot);
  if (result == 0 && ImageBios.amiTagFound == 0) result = orr::ExtractImageIdentity(slot);
  orr::ReleaseImage(slot);
  fz::RequireDocumentedResult(result);
  if (std::getenv("ORRIVANE_FUZZ_VERBOSE"))
    std::fprintf(stderr, "  result %u, model \"%s\", id \"%s\", version \"%s\", date \"%s\", code %u\n", result,
                 ImageBios.modelName, ImageBios.idString, ImageBios.versionText, ImageBios.dateText,
                 ImageBios.dateCode);
  FZ_REQUIRE(ImageBios.amiTagFound == 0 || ImageBios.amiTagFound == 1);
  FZ_REQUIRE(ImageBios.amiTagFound == 0 || result == 0);  // an identity record settles the image
  fz::RequireInvariants();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An empty file ends the load with 301 before any block exists.
  if (size == 0 || size > orr::kLargestImage) return 0;
  static const tb::Machine machine;
  fz::StartWith(machine);
  Analyse(data, size);

  const uint32_t h = fz::Hash(data, size);
  if (h % 8 == 0) {
    fz::StartWith(machine);
    // After the load's own allocation and lock: one of the two work blocks,
    // or one of the five locks of the classification and the expansion.
    if ((h >> 3) & 1)
      tb::FailGlobalAllocAt(2 + (h >> 4) % 2);
    else
      tb::FailGlobalLockAt(2 + (h >> 4) % 5);
    Analyse(data, size);
  }
  fz::EndRun();
  return 0;
}
