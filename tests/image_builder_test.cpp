// The image builder writes each record where the library looks for it, the
// recipe reader rejects what would not fit, and the sample image answers
// through the export.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "image_builder.h"
#include "image_recipe.h"
#include "library_state.h"
#include "machine_builder.h"
#include "orrivane.h"

namespace {

using Bytes = std::vector<uint8_t>;

orr::ByteView View(const Bytes& b) { return orr::ByteView(b.data(), static_cast<uint32_t>(b.size())); }

TEST(ImageBuilder, AreasAndFlashAddressesCountFromTheEnd) {
  tb::ImageBuilder big(0x80000);
  EXPECT_EQ(big.FArea(), 0x70000u);
  EXPECT_EQ(big.TailArea(), 0x60000u);
  EXPECT_EQ(big.FlashAddress(0), 0xFFF80000u);
  EXPECT_EQ(big.FlashAddress(0x7FFFF), 0xFFFFFFFFu);
  tb::ImageBuilder small(0x8000);
  EXPECT_EQ(small.FArea(), 0u);
  EXPECT_EQ(small.TailArea(), 0u);
}

TEST(ImageBuilder, WritesPastTheEndAreCut) {
  tb::ImageBuilder b(64);
  b.Text(60, "ABCDEFGH").Bytes(1000, {1}).Bytes(0xFFFFFFFF, {1, 2});
  const Bytes img = b.Build();
  ASSERT_EQ(img.size(), 64u);
  EXPECT_EQ(img[59], 0xFF);
  EXPECT_TRUE(View(img).Matches(60, orr::MakeMarker("ABCD")));
}

TEST(ImageBuilder, FreshImageReadsAsErasedFlash) {
  const Bytes img = tb::ImageBuilder(0x1000).Build();
  EXPECT_TRUE(std::all_of(img.begin(), img.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(ImageBuilder, RomMapsKeepTheirRegionWordsApart) {
  tb::ImageBuilder b(0x200);
  b.BRomMap(0x10, 0xFFF80000, 0xFFF90000, 0xFFFA0000, 0xFFFB0000);
  b.NRomMap(0x100, 0x11111111, 0x22222222, 0x33333333, 0x44444444);
  const Bytes img = b.Build();
  orr::ByteView v = View(img);
  EXPECT_TRUE(v.Matches(0x10, orr::MakeMarker("ZANT_BROMMAP")));
  EXPECT_EQ(v.U32(0x10 + 20), 0xFFF80000u);
  EXPECT_EQ(v.U32(0x10 + 24), 0xFFF90000u);
  EXPECT_EQ(v.U32(0x10 + 28), 0xFFFA0000u);
  EXPECT_EQ(v.U32(0x10 + 32), 0xFFFB0000u);
  EXPECT_TRUE(v.Matches(0x100, orr::MakeMarker("ZANT_NROMMAP")));
  EXPECT_EQ(v.U32(0x100 + 16), 0x11111111u);
  EXPECT_EQ(v.U32(0x100 + 20), 0x22222222u);
  EXPECT_EQ(v.U32(0x100 + 24), 0x33333333u);
  EXPECT_EQ(v.U32(0x100 + 28), 0x44444444u);
}

TEST(ImageBuilder, AwardRecordsStandAsTheScanReadsThem) {
  tb::ImageBuilder b(0x100);
  b.AwardBanner(0).Bbsn(0x40).Bbss(0x60, 0x1234, 0xFFFF);
  const Bytes img = b.Build();
  orr::ByteView v = View(img);
  EXPECT_TRUE(v.Matches(0, orr::MakeMarker("= Award Decompression Bios =")));
  EXPECT_TRUE(v.Matches(0x40, orr::MakeMarker("*BBSN*")));
  EXPECT_TRUE(v.Matches(0x60, orr::MakeMarker("*BBSS*")));
  EXPECT_EQ(v.U16(0x60 + 18), 0x1234);
  EXPECT_EQ(v.U16(0x60 + 20), 0xFFFF);
}

TEST(ImageBuilder, IdentityRecordsStandAsTheReadersReadThem) {
  tb::ImageBuilder b(0x200);
  b.AmiRecordV1(0, 0x1000, 0x2000, 0x3000, 0x4000);
  b.AmiRecord(0x40, 5, {"AB12", "ID", "03/15/2009", "V1", "PRO", "DESC", "ABCDEFGH123XYZ"});
  b.ZantBios(0x100, 22, tb::BytesOf("IDENTITY01 03/15/2009"));
  b.Meo(0x180, {'A', 'B', 0xC4, 'E', ' '});
  const Bytes img = b.Build();
  orr::ByteView v = View(img);
  EXPECT_TRUE(v.Matches(0, orr::MakeMarker("$ZANTAMI$")));
  EXPECT_EQ(v.U8(9), 1);
  EXPECT_EQ(v.U16(10), 0x1000);
  EXPECT_EQ(v.U16(12), 0x2000);
  EXPECT_EQ(v.U16(14), 0x3000);
  EXPECT_EQ(v.U16(16), 0x4000);
  EXPECT_EQ(v.U8(0x40 + 9), 5);
  EXPECT_TRUE(v.Matches(0x40 + 10, orr::Marker{"AB12\0ID\0" "03/15/2009\0V1\0PRO\0DESC\0ABCDEFGH123XYZ", 41}));
  EXPECT_TRUE(v.Matches(0x100, orr::MakeMarker("ZANTBIOS")));
  EXPECT_EQ(v.U8(0x108), 22);
  EXPECT_TRUE(v.Matches(0x109, orr::MakeMarker("IDENTITY01 03/15/2009")));
  EXPECT_TRUE(v.Matches(0x180, orr::Marker{"*MEOAB\xC4" "E ", 9}));
}

TEST(SystemBios, IdentityTextsStandInTheUpperSixtyFourKiB) {
  for (uint32_t size : {0x10000u, 0x20000u}) {
    Bytes bios = tb::SystemBios(size, "IDENT", "x11/02/09-1.30-RV5420-00", "<RV5420>");
    ASSERT_EQ(bios.size(), size);
    orr::ByteView f = View(bios).Sub(size - 0x10000);
    EXPECT_TRUE(f.Matches(0xE0C1, orr::Marker{"IDENT", 6}));
    EXPECT_TRUE(f.Matches(0xEC70, orr::Marker{"x11/02/09-1.30-RV5420-00", 25}));
    EXPECT_TRUE(f.Matches(0xECE0, orr::Marker{"<RV5420>", 9}));
    EXPECT_EQ(f.U8(0xFFF0), 0xEA);
  }
}

TEST(ImageBuilder, MembersFollowEachOtherOneSlotApart) {
  Bytes first = tb::LzhMember("awardext.rom", tb::FirmwareFiller(0x3000, 1), tb::LzhMethod::Lh5, false);
  Bytes second = tb::LzhMember("original.tmp", tb::SystemBios(0x10000, "I", "D", "<M>"), tb::LzhMethod::Lh5, true);
  tb::ImageBuilder b(0x10000);
  b.Member(0x100, first).Member(0x100 + tb::MemberSlot(first), second);
  const Bytes img = b.Build();
  orr::ByteView v = View(img);
  // The walk: H + P + 4 from the first member's first byte.
  uint32_t next = 0x100 + v.U8(0x100) + v.U32(0x100 + 7) + 4;
  EXPECT_TRUE(std::equal(second.begin(), second.end(), img.begin() + next));
  EXPECT_EQ(v.U16(0x100 + first.size()), 0) << "the two bytes behind a member";
}

TEST(ImageBuilder, WriteFileWritesEveryByte) {
  char path[] = "/tmp/orrivane-image-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  tb::ImageBuilder b(0x9000);
  b.Text(0x8FF0, "END");
  ASSERT_TRUE(b.WriteFile(path));
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), b.Build());
  ASSERT_TRUE(tb::WriteImageFile(path, {}));  // empty content: an empty file
  EXPECT_EQ(std::ifstream(path, std::ios::binary).peek(), std::ifstream::traits_type::eof());
  std::remove(path);
  EXPECT_FALSE(b.WriteFile("/nonexistent-directory/image.bin"));
}

// Recipes that would place something outside the image, or that say
// something the reader does not know, are refused with the place named.
struct BadRecipe {
  const char* name;
  const char* json;
  const char* mentions;
};

const BadRecipe kBadRecipes[] = {
    {"NoSize", R"({"records": []})", "\"size\""},
    {"MisspeltTopKey", R"({"size": 4096, "record": []})", "\"record\""},
    {"KeyOfAnotherRecordType", R"({"size": 4096, "records": [{"type": "bbsn", "at": 0, "region1": null}]})",
     "\"region1\""},
    {"MemberWithBothContents",
     R"({"size": 4096, "members": {"at": 0, "list": [{"name": "a", "method": "lh0", "filler": {"size": 5, "seed": 1}, "systemBios": {}}]}})",
     "either"},
    {"SizeZero", R"({"size": 0})", "size"},
    {"SizeNotANumber", R"({"size": "0x8000x"})", "size"},
    {"SizeNegative", R"({"size": "-1"})", "size"},
    {"SizeBlankFirst", R"({"size": " 5"})", "size"},
    {"SizeHexBeyond32Bits", R"({"size": "0x100000000"})", "size"},
    {"SizeHexWithoutDigits", R"({"size": "0x"})", "size"},
    {"UnknownRecord", R"({"size": 4096, "records": [{"type": "nonsense", "at": 0}]})", "nonsense"},
    {"RecordPastEnd", R"({"size": 4096, "records": [{"type": "bRomMap", "at": 4080}]})", "records[0]"},
    {"TailOffsetPastEnd", R"({"size": "0x20000", "records": [{"type": "bbsn", "at": "tail+0x1FFFC"}]})", "records[0]"},
    {"MembersPastEnd",
     R"({"size": 4096, "members": {"at": 0, "list": [{"name": "a", "method": "lh0", "filler": {"size": 5000, "seed": 1}}]}})",
     "members.list[0]"},
    {"UnknownMethod",
     R"({"size": 4096, "members": {"at": 0, "list": [{"name": "a", "method": "lh7", "filler": {"size": 5, "seed": 1}}]}})",
     "method"},
    {"SystemBiosOfOddSize",
     R"({"size": "0x40000", "members": {"at": 0, "list": [{"name": "a", "method": "lh5", "systemBios": {"size": "0x8000", "idString": "", "dateVersionString": "", "modelTag": ""}}]}})",
     "systemBios.size"},
    {"RegionMembersWithoutMembers",
     R"({"size": 4096, "records": [{"type": "bRomMap", "at": 0, "region1": "members"}]})", "region1"},
    {"AmiRecordVersionOne",
     R"({"size": 4096, "records": [{"type": "amiRecord", "at": 0, "version": 1, "texts": []}]})", "version"},
};

void PrintTo(const BadRecipe& r, std::ostream* os) { *os << r.name; }

class RecipeRefused : public testing::TestWithParam<BadRecipe> {};

TEST_P(RecipeRefused, NamesWhatIsWrong) {
  try {
    tb::ImageFromRecipe(nlohmann::json::parse(GetParam().json));
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().mentions), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Recipes, RecipeRefused, testing::ValuesIn(kBadRecipes),
                         [](const testing::TestParamInfo<BadRecipe>& info) { return std::string(info.param.name); });

TEST(ImageRecipe, NumbersAreDecimalUnlessTheySayHex) {
  EXPECT_EQ(tb::ImageFromRecipe(nlohmann::json::parse(R"({"size": "010"})")).bytes.size(), 10u);
  EXPECT_EQ(tb::ImageFromRecipe(nlohmann::json::parse(R"({"size": "0X1F"})")).bytes.size(), 31u);
  EXPECT_EQ(tb::ImageFromRecipe(nlohmann::json::parse(R"({"size": 4096})")).bytes.size(), 4096u);
}

TEST(ImageRecipe, MembersRegionSpansEverySlot) {
  auto recipe = nlohmann::json::parse(R"({"size": "0x20000",
      "members": {"at": "0x1000", "list": [
          {"name": "a.bin", "method": "lh0", "filler": {"size": 100, "seed": 1}},
          {"name": "b.bin", "method": "lh5", "filler": {"size": 3000, "seed": 2}}]},
      "records": [{"type": "nRomMap", "at": "tail+0x1F000", "region1": "members", "region2": ["0xFFFE0000", "0xFFFE0010"]}]})");
  tb::RecipeImage image = tb::ImageFromRecipe(recipe);
  ASSERT_EQ(image.members.size(), 2u);
  EXPECT_EQ(image.members[1].offset, 0x1000 + image.members[0].slot);
  orr::ByteView v = View(image.bytes);
  EXPECT_EQ(v.U32(0x1F000 + 16), 0xFFFE1000u);
  EXPECT_EQ(v.U32(0x1F000 + 20), 0xFFFE1000u + image.members[0].slot + image.members[1].slot);
  EXPECT_EQ(v.U32(0x1F000 + 24), 0xFFFE0000u);
  EXPECT_EQ(v.U32(0x1F000 + 28), 0xFFFE0010u);
}

// The sample image of the demo, built from the recipe in the tree, read by
// the library as the update tool would.
TEST(SampleImage, ExportReadsTheNewerRv5420Bios) {
  tb::RecipeImage image = tb::ImageFromRecipeFile(ORRIVANE_SOURCE_DIR "/samples/demo-image.json");
  bool compressed = false;
  for (const tb::PlacedMember& m : image.members)
    if (m.systemBios) compressed = m.packed < m.original / 2;
  EXPECT_TRUE(compressed) << "the system BIOS member is really compressed";

  char path[] = "/tmp/orrivane-sample-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_TRUE(tb::WriteImageFile(path, image.bytes));

  StartWith(tb::Machine());
  g_initialized = 1;  // as after a successful Orrivane_Initialize
  char model[60] = {}, id[100] = {}, version[60] = {}, date[32] = {};
  uint32_t dateCode = 0, recordFound = 7;
  uint32_t result = Orrivane_GetBIOSFileInfo(path, model, id, version, date, &dateCode, &recordFound);
  std::remove(path);
  EXPECT_EQ(result, 0u);
  EXPECT_STREQ(model, "RV5420");
  EXPECT_STREQ(id, "RV5420 Mainboard BIOS Release 1.30");
  EXPECT_STREQ(version, "1.30");
  EXPECT_STREQ(date, "11/02/09");
  EXPECT_EQ(dateCode, 1091102u);
  EXPECT_EQ(recordFound, 0u);
  ExpectNothingOutstanding();
}

}  // namespace
