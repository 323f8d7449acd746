// Images built to break the readers: rows of docs/malformed-inputs.md that
// the image tests do not pin already.
#include "image/identity_records.h"

#include "image_support.h"

namespace {

uint32_t ReadAmiRecordOf(const std::vector<uint8_t>& image) {
  const orr::ByteView view(image.data(), static_cast<uint32_t>(image.size()));
  return orr::ReadAmiRecord(view, orr::FindImageMarks(view));
}

// An image that is nothing but tags of one version, with nuls NUL bytes at
// its very end: each text of a record ends at the next NUL, so a record's
// texts end inside the image exactly when that many NULs lie behind it.
std::vector<uint8_t> TagsOnly(uint8_t version, uint32_t nuls, uint32_t size = 0x40000) {
  const std::string tag = std::string("$ZANTAMI$") + static_cast<char>(version);
  std::vector<uint8_t> image(size);
  for (uint32_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(tag[i % tag.size()]);
  for (uint32_t i = 0; i < nuls; ++i) image[size - 1 - i] = 0;
  return image;
}

struct TagRun {
  uint8_t version;
  uint32_t texts;  // how many texts a record of that version is read for
};

class MalformedAmiTags : public testing::TestWithParam<TagRun> {
 protected:
  void SetUp() override { StartWith(tb::MachineBuilder().Nt().BiosType(2)); }
  void TearDown() override { ExpectNothingOutstanding(); }
};

TEST_P(MalformedAmiTags, EveryTagWithTooFewNulsBehindIsPassedOver) {
  std::strcpy(ImageBios.modelName, "EARLIER");
  EXPECT_EQ(ReadAmiRecordOf(TagsOnly(GetParam().version, GetParam().texts - 1)), 0u);
  EXPECT_STREQ(ImageBios.modelName, "EARLIER");
}

TEST_P(MalformedAmiTags, FirstTagWithEnoughNulsBehindIsApplied) {
  EXPECT_EQ(ReadAmiRecordOf(TagsOnly(GetParam().version, GetParam().texts)), 1u);
  // The first record's model text runs over every later tag to the first
  // NUL, and is cut to the field.
  const std::string tag = std::string("$ZANTAMI$") + static_cast<char>(GetParam().version);
  const std::string model = ImageBios.modelName;
  EXPECT_EQ(model.substr(0, 2 * tag.size()), tag + tag);
  EXPECT_EQ(model.size(), sizeof ImageBios.modelName - 1);
}

INSTANTIATE_TEST_SUITE_P(Versions, MalformedAmiTags,
                         testing::Values(TagRun{2, 4}, TagRun{3, 5}, TagRun{4, 6}, TagRun{5, 7}, TagRun{200, 7}),
                         [](const testing::TestParamInfo<TagRun>& info) {
                           return "Version" + std::to_string(info.param.version);
                         });

TEST(MalformedAmiTagsVersionOne, OffsetsIntoATextWithoutNulArePassedOver) {
  StartWith(tb::MachineBuilder().Nt().BiosType(2));
  // Every version-1 record's offsets point into the F area, where no NUL
  // follows: none applies, however many there are.
  std::vector<uint8_t> image = TagsOnly(1, 0, 0x40000);
  EXPECT_EQ(ReadAmiRecordOf(image), 0u);
  // One NUL at the very end ends every text there: the last record applies.
  image.back() = 0;
  EXPECT_EQ(ReadAmiRecordOf(image), 1u);
  ExpectNothingOutstanding();
}

}  // namespace
