// The identity records read straight from an image: the AMI identity record,
// the ZANTBIOS record, the "*MEO" marker and the ROM maps as tags; images of
// nothing but tags, which must cost linear work.
#include "image/identity_records.h"

#include "image_support.h"

namespace {

using image_test::Step;
using image_test::VersionOne;

constexpr uint32_t kImage = 0x20000;  // 128 KiB: tail area and image coincide
constexpr uint32_t kFArea = kImage - 0x10000;

using Image = tb::ImageBuilder;
using Build = void (*)(Image&);

class ImageRecordsTest : public testing::Test {
 protected:
  void SetUp() override { StartWith(tb::MachineBuilder().Nt().BiosType(2)); }

  // What an earlier image left in the record.
  void Previous() {
    std::strcpy(ImageBios.modelName, "OLDMODEL"), std::strcpy(ImageBios.idString, "OLD ID");
    std::strcpy(ImageBios.dateText, "01/01/2001"), std::strcpy(ImageBios.versionText, "OLDVER");
    ImageBios.dateCode = 20010101, ImageBios.buildVersion = 77;
    std::memcpy(ImageBios.buildText, "OLDBUILD077", 12);
    previous_ = ImageBios;
  }
  orr::ImageBiosRecord previous_ = {};
};

// Every field each version carries (version 1's fourth text too, so no earlier image's shows); the
// date code by the machine's one rule (RecordDateCodes).
TEST_F(ImageRecordsTest, EachVersionGivesWhatItCarries) {
  const std::string old("OLDBUILD077\0\0\0\0\0", 16);
  const struct {
    const char* name; uint8_t version; std::vector<std::string> more;  // the texts behind model, id, date, version
    const char* model; uint32_t buildVersion; std::string buildText;    // 16 bytes as kept, zero-filled
    std::string date = "03/15/2009"; uint32_t dateCode = 20090315;
  } cases[] = {
      {"OneFromTheFArea", 1, {}, "AB12", 77, old},
      {"TwoShortDate", 2, {"PRO", "DESC", "ABCDEFGH555"}, "AB12", 77, old, "11/20/09", 1091120},
      {"ThreeWithEditionShortDateBefore2000", 3, {"PRO"}, "AB12(PRO)", 77, old, "05/17/99", 990517},
      {"ThreeWithEmptyEdition", 3, {""}, "AB12", 77, old},
      {"FourSkipsTheDescriptionLongDateAndMore", 4, {"", "DESC", "ABCDEFGH555"}, "AB12", 77, old, "03/15/2009-Rev B"},
      {"FiveBuild123DateWithTrailingBlank", 5, {"", "DESC", "ABCDEFGH123XYZ"}, "AB12", 123,
       std::string("ABCDEFGH123XYZ\0\0", 16), "04/01/2010 ", 20100401},
      {"FiveShortBuildText", 5, {"", "", "ABCDEFGH"}, "AB12", 0, std::string("ABCDEFGH\0\0\0\0\0\0\0\0", 16)},
      {"FiveBuildTextCutAt16", 5, {"X", "", "ABCDEFGH042XYZ0123456"}, "AB12(X)", 42, "ABCDEFGH042XYZ01"},
      {"LaterVersionsReadLikeFive", 9, {"", "", "12345678901"}, "AB12", 901, std::string("12345678901\0\0\0\0\0", 16)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Previous();
    std::vector<std::string> texts = {"AB12", "THE ID", c.date, "1.07"};
    texts.insert(texts.end(), c.more.begin(), c.more.end());
    Image image(kImage);
    c.version == 1 ? VersionOne(image, 0x333, "AB12", "THE ID", "1.07") : image.AmiRecord(0x333, c.version, texts);
    EXPECT_EQ(Step(orr::ReadAmiRecord, image.Build()), 1u);
    EXPECT_EQ(std::make_tuple(std::string(ImageBios.modelName), std::string(ImageBios.idString), ImageBios.dateText,
                              std::string(ImageBios.versionText), ImageBios.dateCode, ImageBios.buildVersion,
                              std::string(ImageBios.buildText, 16)),
              std::make_tuple(std::string(c.model), std::string("THE ID"), c.date, std::string("1.07"), c.dateCode,
                              c.buildVersion, c.buildText));
  }
}

// Version 1 over later versions, the last version-1 record, the first later one; a record whose texts
// do not end inside the image is passed over. Long texts are cut, the string list stays in step.
TEST_F(ImageRecordsTest, TheRecordWhoseTextsEndInsideApplies) {
  const struct {
    const char* name; Build build;
    const char* model;    // nullptr: no record applies, the earlier image's fields stay
    std::string version;  // the version text taken
    uint32_t size = kImage;
  } cases[] = {
      {"NoWholeTag", [](Image& i) { i.Text(0x100, "$ZANTAMI").Text(0x200, "ZANTAMI$"); }},
      {"LastVersionOneRecordWins", [](Image& i) {
         VersionOne(i, 0x100, "FIRST").AmiRecordV1(0x9001, 0x2000, 0x1100, 0x1200, 0x1300).Text(kFArea + 0x2000, "L");
       }, "L", "V1.00"},
      {"VersionOneWinsOverLaterVersionsWhereverTheyStand", [](Image& i) {
         VersionOne(i.AmiRecord(0x40, 2, {"V2", "ID", "04/01/2010", "V2"}), 0x800, "V1");
         i.AmiRecord(0x900, 5, {"V5", "ID", "03/15/2009", "V5", "", "", "ABCDEFGH123XYZ"});
       }, "V1", "V1.00"},
      {"FirstLaterVersionWinsAndVersionZeroIsIgnored", [](Image& i) {
         i.AmiRecord(0x40, 0, {"V0", "ID", "01/01/2000", "V0"}).AmiRecord(0x400, 3, {"V3", "ID", "02/02/02", "R1", ""});
         i.AmiRecord(0x800, 2, {"V2", "ID", "03/03/2003", "R2"});
       }, "V3", "R1"},
      // 50 M and the edition, cut at 59; the version text behind the cut id.
      {"LongTextsAreCutButTheListStaysInStep", [](Image& i) {
         i.AmiRecord(0x200, 3, {std::string(50, 'M'), std::string(120, 'I'), "03/15/2009", std::string(80, 'V'),
                                "DELUXE EDITION"});
       }, "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM(DELUXE E", std::string(59, 'V')},
      // The version text's NUL would be the image's first byte past its end.
      {"LaterVersionRunningPastTheEndIsPassedOver",
       [](Image& i) { i.AmiRecord(kImage - 33, 2, {"AB12", "ID", "03/15/2009", "V1.0"}); }},
      // A version-5 tag whose texts run into a version-2 record: 4 NULs lie behind it, 7 are needed.
      {"LaterVersionNeedsEveryTextItReads", [](Image& i) {
         i.Bytes(kImage - 40, tb::BytesOf("$ZANTAMI$\x05XXXXXXXXXXXX")).AmiRecord(kImage - 18, 2, {"S", "I", "D", "V"});
       }, "S", "V"},
      // A later version-1 record, which would otherwise win, whose model text has no NUL.
      {"VersionOneWithATextRunningPastTheEndIsPassedOver", [](Image& i) {
         VersionOne(i, 0x100, "SOUND").AmiRecordV1(0x5000, 0xFFF0, 0x1100, 0x1200, 0x1300).Fill(kImage - 16, 16, 'X');
       }, "SOUND", "V1.00"},
      // A version text running to the image's last byte, which is not a
      // NUL: empty, not the earlier image's; ended there, it is taken.
      {"VersionOneNeedsOnlyTheThreeTextsItIsReadFor",
       [](Image& i) { VersionOne(i, 0x100, "AB12").AmiRecordV1(0x100, 0x1000, 0x1100, 0x1200, 0xFFF0); }, "AB12", ""},
      {"VersionOneVersionTextEndingAtTheLastByte", [](Image& i) {
         VersionOne(i, 0x100, "AB12").AmiRecordV1(0x100, 0x1000, 0x1100, 0x1200, 0xFFF0).Bytes(kImage - 1, {0});
       }, "AB12", std::string(15, '\xFF')},
      {"RecordCutByTheImageEndIsPassedOver",
       [](Image& i) { i.AmiRecordV1(kImage - 17, 0x1000, 0x1000, 0x1000, 0x1000).Text(kFArea + 0x1000, "AB12"); }},
      {"TagAtTheImageEndIsPassedOver", [](Image& i) { i.Bytes(kImage - 9, tb::BytesOf("$ZANTAMI$")); }},
      // 32 KiB: F-area offsets from 0x8000 on lie in the image; the last record's model offset lies before it.
      {"ShortImageHoldsOnlyTheTopOfTheFArea", [](Image& i) {
         i.AmiRecordV1(0x10, 0x9000, 0x9100, 0x9200, 0x9300).AmiRecordV1(0x30, 0x7000, 0x9100, 0x9200, 0x9300);
         i.Text(0x1000, "IN32K").Text(0x1100, "ID").Text(0x1200, "03/15/2009").Text(0x1300, "V");
       }, "IN32K", "V", 0x8000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Previous();
    Image image(c.size);
    c.build(image);
    EXPECT_EQ(Step(orr::ReadAmiRecord, image.Build()), c.model ? 1u : 0u);
    if (c.model)
      EXPECT_EQ(std::make_pair(std::string(ImageBios.modelName), std::string(ImageBios.versionText)),
                std::make_pair(std::string(c.model), c.version));
    else
      EXPECT_EQ(std::memcmp(&previous_, &ImageBios, sizeof previous_), 0);
  }
}

// A ZANTBIOS record at a 16-byte step of the tail area gives the id and the date, the first "*MEO"
// marker the model, a ROM map of either kind the success alone; without any, "N/A" and no success.
std::vector<uint8_t> ZantText(const std::string& id, const std::string& date = "03/15/2009") {
  return tb::BytesOf(id + "|" + date);
}

// The case's ZANTBIOS record, and a sound one behind it that decides when it is passed over.
void ThenSecond(Image& image, uint8_t length, const std::string& id) {
  image.ZantBios(0x400, length, ZantText(id)).ZantBios(0x800, 11 + 6, ZantText("SECOND", "07/07/2007"));
}

// Tags of version 0 and a later marker around it: the one pass for both still gives the first.
void MeoAmongTags(Image& image, const std::string& model) {
  image.Text(0x100, "$ZANTAMI$").Meo(0x12345, tb::BytesOf(model)).Text(0x15000, "$ZANTAMI$");
  image.Meo(0x1F000, tb::BytesOf("LATER"));
}

TEST_F(ImageRecordsTest, TagsGiveTheFieldsTheyCarry) {
  const std::string date = "03/15/2009";
  const struct {
    const char* name; Build build; uint32_t found;
    std::string id = "N/A", date = "N/A", model = "OLDMODEL";
    uint32_t size = kImage;
  } cases[] = {
      {"NeitherMarkGivesNotApplicableAndNoSuccess",
       [](Image& i) { i.ZantBios(0x108, 22, ZantText("MISPLACED")).Text(0x300, "*ME0AB12"); }, 0},
      {"BRomMapAlone", [](Image& i) { i.BRomMap(0x1000, 0xFFFE0000, 0xFFFE1000, 0, 0); }, 1},
      {"NRomMapAlone", [](Image& i) { i.NRomMap(0x1FFE0, 0xFFFE0000, 0xFFFE1000, 0, 0); }, 1},
      {"NRomMapOffTheStep", [](Image& i) { i.NRomMap(0x1008, 0xFFFE0000, 0xFFFE1000, 0, 0); }, 0},
      // 256 KiB: a record in the first half lies before the tail area.
      {"ZantBiosBeforeTheTailAreaOrOffTheStepIsNotSeen",
       [](Image& i) { i.ZantBios(0x100, 13, ZantText("BEFORE")).ZantBios(0x20008, 13, ZantText("OFF")); }, 0, "N/A",
       "N/A", "OLDMODEL", 0x40000},
      {"ZantBiosAtTheTailAreasLastSteps", [](Image& i) { i.ZantBios(0x3FF00, 13, ZantText("OK")); }, 1, "OK", date,
       "OLDMODEL", 0x40000},
      {"FirstZantBiosGivesIdAndDate", [](Image& i) { ThenSecond(i, 11 + 5, "FIRST"); }, 1, "FIRST", date},
      {"ShortestZantBiosHasNoId", [](Image& i) { ThenSecond(i, 11, ""); }, 1, "", date},
      {"NulEndsTheZantBiosId", [](Image& i) { ThenSecond(i, 11 + 5, std::string("AB\0CD", 5)); }, 1, "AB", date},
      {"LongestZantBiosIdIsCutAt99",
       [](Image& i) { ThenSecond(i, 127, std::string(116, 'I')); }, 1, std::string(99, 'I'), date},
      {"ZantBiosLengthBelow11IsPassedOver", [](Image& i) { ThenSecond(i, 10, ""); }, 1, "SECOND", "07/07/2007"},
      {"ZantBiosLengthAbove127IsPassedOver", [](Image& i) { ThenSecond(i, 128, std::string(117, 'I')); }, 1, "SECOND",
       "07/07/2007"},
      {"ZantBiosTextRunningPastTheEndIsPassedOver", [](Image& i) { i.ZantBios(kImage - 16, 17, ZantText("CUT")); }, 0},
      {"ShortImageIsItsOwnTailArea", [](Image& i) { i.ZantBios(0x10, 11 + 5, ZantText("SMALL")); }, 1, "SMALL", date,
       "OLDMODEL", 0x6000},
      // A blank ends the model too (0xFF follows).
      {"MeoLineCharacterBecomesDash", [](Image& i) { MeoAmongTags(i, "AB12\xC4" "E "); }, 1, "N/A", "N/A", "AB12-E"},
      {"MeoAtMostEightBytes", [](Image& i) { MeoAmongTags(i, "ABCDEFGHIJ"); }, 1, "N/A", "N/A", "ABCDEFGH"},
      {"MeoNulEndsIt", [](Image& i) { MeoAmongTags(i, std::string("AB\0CD", 5)); }, 1, "N/A", "N/A", "AB"},
      // The image's end stops the model like a NUL.
      {"MeoMarkerAtTheImageEndTakesOnlyWhatIsInside", [](Image& i) { i.Meo(kImage - 7, tb::BytesOf("RV5")); }, 1, "N/A",
       "N/A", "RV5"},
      {"MeoMarkerInTheLastFourBytes", [](Image& i) { i.Meo(kImage - 4, {}); }, 1, "N/A", "N/A", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Previous();
    Image image(c.size);
    c.build(image);
    EXPECT_EQ(Step(orr::ReadImageTags, image.Build()), c.found);
    EXPECT_EQ(std::make_tuple(std::string(ImageBios.idString), std::string(ImageBios.dateText), ImageBios.modelName),
              std::make_tuple(c.id, c.date, c.model));
  }
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

// One NUL too few: every tag is passed over; enough: the first applies, its model running over the
// later tags, cut to the field (version 1's offsets point into the F area, tags too).
TEST(MalformedAmiTags, FirstTagWithEnoughNulsBehindIsApplied) {
  StartWith(tb::MachineBuilder().Nt().BiosType(2));
  // The version, and how many texts a record of it is read for.
  for (const auto& [version, texts] : {std::pair<uint8_t, uint32_t>{1, 1}, {2, 4}, {3, 5}, {4, 6}, {5, 7}, {200, 7}}) {
    SCOPED_TRACE(testing::Message() << "version " << int{version});
    std::strcpy(ImageBios.modelName, "EARLIER");
    EXPECT_EQ(image_test::Step(orr::ReadAmiRecord, TagsOnly(version, texts - 1)), 0u);
    EXPECT_STREQ(ImageBios.modelName, "EARLIER");
    EXPECT_EQ(image_test::Step(orr::ReadAmiRecord, TagsOnly(version, texts)), 1u);
    const std::string tag = std::string("$ZANTAMI$") + static_cast<char>(version), model = ImageBios.modelName;
    if (version != 1) EXPECT_EQ(model.substr(0, 2 * tag.size()), tag + tag);
    EXPECT_EQ(model.size(), sizeof ImageBios.modelName - 1);
  }
}

}  // namespace
