// The image tool's recipe reader. (Where the builder writes each record is checked by every image test
// reading it; the sample image's answers by the ImageTool tests.)
#include <gmock/gmock.h>

#include "image_recipe.h"
#include "image_support.h"

namespace {

// What would not fit, or what the reader does not know, is refused with the place named.
TEST(ImageRecipe, RefusedRecipesNameWhatIsWrong) {
  const struct { const char* name; const char* json; const char* mentions; } cases[] = {
      {"NoSize", R"({"records": []})", "\"size\""},
      {"KeyOfAnotherRecordType", R"({"size": 4096, "records": [{"type": "bbsn", "at": 0, "region1": null}]})",
       "\"region1\""},
      {"MemberWithBothContents",
       R"({"size": 4096, "members": {"at": 0, "list": [{"name": "a", "method": "lh0", "filler": {"size": 5, "seed": 1}, "systemBios": {}}]}})",
       "either"},
      {"SizeNotANumber", R"({"size": "0x8000x"})", "size"}, {"SizeHexBeyond32Bits", R"({"size": "0x100000000"})", "size"},
      {"UnknownRecord", R"({"size": 4096, "records": [{"type": "nonsense", "at": 0}]})", "nonsense"},
      {"RecordPastEnd", R"({"size": 4096, "records": [{"type": "bRomMap", "at": 4080}]})", "records[0]"},
      {"MembersPastEnd",
       R"({"size": 4096, "members": {"at": 0, "list": [{"name": "a", "method": "lh0", "filler": {"size": 5000, "seed": 1}}]}})",
       "members.list[0]"},
      {"UnknownMethod",
       R"({"size": 4096, "members": {"at": 0, "list": [{"name": "a", "method": "lh7", "filler": {"size": 5, "seed": 1}}]}})",
       "method"},
      {"SystemBiosOfOddSize",
       R"({"size": "0x40000", "members": {"at": 0, "list": [{"name": "a", "method": "lh5", "systemBios": {"size": "0x8000", "idString": "", "dateVersionString": "", "modelTag": ""}}]}})",
       "systemBios.size"},
      {"AmiRecordVersionOne",
       R"({"size": 4096, "records": [{"type": "amiRecord", "at": 0, "version": 1, "texts": []}]})", "version"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT([&] { tb::ImageFromRecipe(nlohmann::json::parse(c.json)); },
                testing::ThrowsMessage<std::runtime_error>(testing::HasSubstr(c.mentions)));
  }
}

// Numbers are decimal ("0100" too) unless they say hex ("0x", "0X"); the members region spans every slot.
TEST(ImageRecipe, MembersRegionSpansEverySlot) {
  const tb::RecipeImage image = tb::ImageFromRecipe(nlohmann::json::parse(R"({"size": 131072,
      "members": {"at": "0100", "list": [
          {"name": "a.bin", "method": "lh0", "filler": {"size": 100, "seed": 1}},
          {"name": "b.bin", "method": "lh5", "filler": {"size": 3000, "seed": 2}}]},
      "records": [{"type": "nRomMap", "at": "tail+0x1F000", "region1": "members", "region2": ["0XFFFE0000", "0xFFFE0010"]}]})"));
  ASSERT_EQ(image.members.size(), 2u);
  EXPECT_EQ(image.members[1].offset, 100 + image.members[0].slot);
  const orr::ByteView v = image_test::ViewOf(image.bytes).Sub(0x1F000 + 16);  // the N map's region words
  EXPECT_EQ(std::make_tuple(v.U32(0), v.U32(4), v.U32(8), v.U32(12)),
            std::make_tuple(0xFFFE0064u, 0xFFFE0064u + image.members[0].slot + image.members[1].slot, 0xFFFE0000u,
                            0xFFFE0010u));
}

}  // namespace
