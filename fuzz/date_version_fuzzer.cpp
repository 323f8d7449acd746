// The date and version decoder with a fuzzed text and model name. The first
// byte gives the model name's length (cut to the 59 characters a model
// field holds), the model's bytes follow, and the rest is the text, in a
// buffer of exactly its size. The outputs are buffers of their smallest
// documented sizes.
#include <cstring>
#include <memory>

#include "firmware/ami_record.h"
#include "firmware/date_version.h"
#include "harness.h"

namespace {

constexpr uint32_t kModelSize = 60;
constexpr uint32_t kDateTextSize = 11;  // ten date characters and the NUL

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0x10000) return 0;
  const uint32_t modelLength = data[0] % kModelSize < size - 1 ? data[0] % kModelSize : static_cast<uint32_t>(size - 1);
  std::unique_ptr<char[]> model(new char[kModelSize]);
  std::memset(model.get(), 0, kModelSize);
  std::memcpy(model.get(), data + 1, modelLength);

  const uint32_t textSize = static_cast<uint32_t>(size - 1 - modelLength);
  std::unique_ptr<uint8_t[]> text(new uint8_t[textSize ? textSize : 1]);
  std::memcpy(text.get(), data + 1 + modelLength, textSize);

  std::unique_ptr<char[]> version(new char[orr::kVersionTextSize]);
  std::unique_ptr<char[]> date(new char[kDateTextSize]);
  std::memset(version.get(), 'v', orr::kVersionTextSize);
  std::memset(date.get(), 'd', kDateTextSize);
  uint32_t dateCode = 0xDEADBEEF;
  orr::DecodeDateVersionString(orr::ByteView(text.get(), textSize), version.get(), model.get(), date.get(), &dateCode);

  // Every output is written and terminated inside its buffer.
  FZ_REQUIRE(std::memchr(version.get(), 0, orr::kVersionTextSize) != nullptr);
  FZ_REQUIRE(date.get()[8] == 0 || date.get()[10] == 0);
  // The version text is a piece of the text before its first NUL.
  const size_t versionLength = std::strlen(version.get());
  if (versionLength > 0) {
    const orr::ByteView whole(text.get(), textSize);
    FZ_REQUIRE(whole.FindFirst(orr::Marker{version.get(), static_cast<uint32_t>(versionLength)}) != orr::kNotFound);
  }

  // The record date code of the same bytes, read as a date text.
  char record[32] = {};
  std::memcpy(record, text.get(), textSize < sizeof record - 1 ? textSize : sizeof record - 1);
  orr::RecordDateCode(record, sizeof record);
  return 0;
}
