// The identity records read straight from an image: the AMI identity record,
// the ZANTBIOS record and the "*MEO" marker.
#include "image/identity_records.h"

#include "detect/extended_identity.h"
#include "detect_helpers.h"
#include "image/load_image.h"
#include "image_support.h"

namespace {

using image_test::AnalyseImage;
using image_test::SlotOf;
using image_test::FileInfo;
using image_test::ImageRequests;
using image_test::StartDetected;

constexpr uint32_t kImage = 0x20000;  // 128 KiB: tail area and image coincide
constexpr uint32_t kFArea = kImage - 0x10000;

class ImageRecordsTest : public testing::Test {
 protected:
  void SetUp() override { StartWith(tb::MachineBuilder().Nt().BiosType(2)); }
  void TearDown() override { ExpectNothingOutstanding(); }

  uint32_t AmiRecord(const tb::ImageBuilder& image) { return Run(image, orr::ReadAmiRecord); }
  uint32_t ImageTags(const tb::ImageBuilder& image) { return Run(image, orr::ReadImageTags); }

  // What an earlier image left in the record.
  void Previous() {
    std::strcpy(ImageBios.modelName, "OLDMODEL");
    std::strcpy(ImageBios.idString, "OLD ID");
    std::strcpy(ImageBios.dateText, "01/01/2001");
    std::strcpy(ImageBios.versionText, "OLDVER");
    ImageBios.dateCode = 20010101;
    ImageBios.buildVersion = 77;
    std::memcpy(ImageBios.buildText, "OLDBUILD077", 12);
  }

  void ExpectPrevious() {
    EXPECT_STREQ(ImageBios.modelName, "OLDMODEL");
    EXPECT_STREQ(ImageBios.idString, "OLD ID");
    EXPECT_STREQ(ImageBios.dateText, "01/01/2001");
    EXPECT_STREQ(ImageBios.versionText, "OLDVER");
    EXPECT_EQ(ImageBios.dateCode, 20010101u);
    EXPECT_EQ(ImageBios.buildVersion, 77u);
  }

 private:
  // The step on the image's bytes after the one pass that finds the marks.
  uint32_t Run(const tb::ImageBuilder& image, uint32_t (*step)(orr::ByteView, const orr::ImageMarks&)) {
    const std::vector<uint8_t> bytes = image.Build();
    const orr::ByteView view(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return step(view, orr::FindImageMarks(view));
  }
};

// A version-1 record at offset whose four texts stand in the F area.
tb::ImageBuilder& VersionOne(tb::ImageBuilder& image, uint32_t offset, const std::string& model) {
  return image.AmiRecordV1(offset, 0x1000, 0x1100, 0x1200, 0x1300)
      .Text(image.FArea() + 0x1000, model)
      .Text(image.FArea() + 0x1100, "V1 ID " + model)
      .Text(image.FArea() + 0x1200, "03/15/2009")
      .Text(image.FArea() + 0x1300, "V1.00");
}

// AMI identity record

TEST_F(ImageRecordsTest, NoRecordChangesNothing) {
  Previous();
  tb::ImageBuilder image(kImage);
  image.Text(0x100, "$ZANTAMI").Text(0x200, "ZANTAMI$");
  EXPECT_EQ(AmiRecord(image), 0u);
  ExpectPrevious();
}

// The classification locks the block for each step; a step whose lock fails
// does not run. Without the record step's pass the tag step finds the
// "*MEO" marker itself.
TEST_F(ImageRecordsTest, LockFailureChangesNothing) {
  Previous();
  tb::ImageBuilder image(kImage);
  VersionOne(image, 0x100, "AB12").Meo(0x400, tb::BytesOf("MEO1 "));
  orr::ImageSlot slot = SlotOf(image.Build());
  tb::FailGlobalLockAt(1);
  EXPECT_EQ(orr::ClassifyImage(slot), 0u);
  EXPECT_EQ(ImageBios.amiTagFound, 0u);
  EXPECT_STREQ(ImageBios.modelName, "MEO1");
  EXPECT_STREQ(ImageBios.idString, "N/A");
  GlobalFree(slot.block);

  Previous();
  tb::ImageBuilder tagsOnly(kImage);
  tagsOnly.Meo(0x400, tb::BytesOf("MEO1 "));
  slot = SlotOf(tagsOnly.Build());
  tb::FailGlobalLockAt(2);
  EXPECT_EQ(orr::ClassifyImage(slot), 304u);
  EXPECT_EQ(slot.block, nullptr);
  ExpectPrevious();
}

TEST_F(ImageRecordsTest, VersionOneTakesItsTextsFromTheFArea) {
  Previous();
  tb::ImageBuilder image(kImage);
  VersionOne(image, 0x100, "AB12");
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, "AB12");
  EXPECT_STREQ(ImageBios.idString, "V1 ID AB12");
  EXPECT_STREQ(ImageBios.dateText, "03/15/2009");
  // The fourth text is taken too, so no earlier image's version shows.
  EXPECT_STREQ(ImageBios.versionText, "V1.00");
  EXPECT_EQ(ImageBios.dateCode, 20090315u);
  EXPECT_EQ(ImageBios.buildVersion, 77u);
}

TEST_F(ImageRecordsTest, LastVersionOneRecordWins) {
  tb::ImageBuilder image(kImage);
  VersionOne(image, 0x100, "FIRST");
  image.AmiRecordV1(0x9001, 0x2000, 0x1100, 0x1200, 0x1300).Text(kFArea + 0x2000, "LAST");
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, "LAST");
}

TEST_F(ImageRecordsTest, VersionOneWinsOverLaterVersionsWhereverTheyStand) {
  tb::ImageBuilder image(kImage);
  image.AmiRecord(0x40, 2, {"V2MODEL", "V2 ID", "04/01/2010", "V2.0"});
  VersionOne(image, 0x800, "V1MODEL");
  image.AmiRecord(0x900, 5, {"V5MODEL", "V5 ID", "04/01/2010", "V5.0", "", "", "ABCDEFGH999"});
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, "V1MODEL");
  EXPECT_EQ(ImageBios.buildVersion, 0u);
}

TEST_F(ImageRecordsTest, FirstLaterVersionRecordWinsAndVersionZeroIsIgnored) {
  tb::ImageBuilder image(kImage);
  image.AmiRecord(0x40, 0, {"V0MODEL", "V0 ID", "01/01/2000", "V0"})
      .AmiRecord(0x400, 3, {"FIRST", "ID ONE", "02/02/2002", "R1", ""})
      .AmiRecord(0x800, 2, {"SECOND", "ID TWO", "03/03/2003", "R2"});
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, "FIRST");
  EXPECT_STREQ(ImageBios.idString, "ID ONE");
  EXPECT_STREQ(ImageBios.versionText, "R1");
  EXPECT_EQ(ImageBios.dateCode, 20020202u);
}

struct VersionCase {
  const char* name;
  uint8_t version;
  std::vector<std::string> texts;
  const char* model;
  uint32_t buildVersion;
  std::string buildText;  // 16 bytes as kept, zero-filled
};

class ImageAmiVersions : public ImageRecordsTest, public testing::WithParamInterface<VersionCase> {};

TEST_P(ImageAmiVersions, ReadsWhatTheVersionCarries) {
  const VersionCase& c = GetParam();
  Previous();
  tb::ImageBuilder image(kImage);
  image.AmiRecord(0x333, c.version, c.texts);
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, c.model);
  EXPECT_STREQ(ImageBios.idString, "THE ID");
  EXPECT_STREQ(ImageBios.dateText, "03/15/2009");
  EXPECT_STREQ(ImageBios.versionText, "1.07");
  EXPECT_EQ(ImageBios.dateCode, 20090315u);
  EXPECT_EQ(ImageBios.buildVersion, c.buildVersion);
  EXPECT_EQ(std::string(ImageBios.buildText, 16), c.buildText);
}

const std::string kOldBuild("OLDBUILD077\0\0\0\0\0", 16);
const std::vector<std::string> kBase = {"AB12", "THE ID", "03/15/2009", "1.07"};
std::vector<std::string> With(std::vector<std::string> more) {
  std::vector<std::string> texts = kBase;
  texts.insert(texts.end(), more.begin(), more.end());
  return texts;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageAmiVersions,
    testing::Values(
        VersionCase{"Two", 2, With({"PRO", "DESC", "ABCDEFGH555"}), "AB12", 77, kOldBuild},
        VersionCase{"ThreeWithEdition", 3, With({"PRO"}), "AB12(PRO)", 77, kOldBuild},
        VersionCase{"ThreeWithEmptyEdition", 3, With({""}), "AB12", 77, kOldBuild},
        VersionCase{"FourSkipsTheDescription", 4, With({"", "DESC", "ABCDEFGH555"}), "AB12", 77, kOldBuild},
        VersionCase{"FiveBuild123", 5, With({"", "DESC", "ABCDEFGH123XYZ"}), "AB12", 123,
                    std::string("ABCDEFGH123XYZ\0\0", 16)},
        VersionCase{"FiveShortBuildText", 5, With({"", "", "ABCDEFGH"}), "AB12", 0,
                    std::string("ABCDEFGH\0\0\0\0\0\0\0\0", 16)},
        VersionCase{"FiveBuildTextCutAt16", 5, With({"X", "", "ABCDEFGH042XYZ0123456"}), "AB12(X)", 42,
                    "ABCDEFGH042XYZ01"},
        VersionCase{"LaterVersionsReadLikeFive", 9, With({"", "", "12345678901"}), "AB12", 901,
                    std::string("12345678901\0\0\0\0\0", 16)}),
    [](const testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST_F(ImageRecordsTest, LongTextsAreCutButTheListStaysInStep) {
  tb::ImageBuilder image(kImage);
  image.AmiRecord(0x200, 3,
                  {std::string(50, 'M'), std::string(120, 'I'), "03/15/2009", std::string(80, 'V'), "DELUXE EDITION"});
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_EQ(std::string(ImageBios.modelName), std::string(50, 'M') + "(DELUXE E");  // the edition cut at 59
  EXPECT_EQ(std::string(ImageBios.idString), std::string(99, 'I'));
  EXPECT_EQ(std::string(ImageBios.versionText), std::string(59, 'V'));
  EXPECT_STREQ(ImageBios.dateText, "03/15/2009");
}

// Records that break the image's bounds are passed over, and the search
// goes on as if they were not there.

TEST_F(ImageRecordsTest, LaterVersionRunningPastTheEndIsPassedOver) {
  Previous();
  tb::ImageBuilder image(kImage);
  // The version text's NUL would be the image's first byte past its end.
  image.AmiRecord(kImage - 30, 2, {"AB12", "ID", "03/15/2009", "V1.0"});
  EXPECT_EQ(AmiRecord(image), 0u);
  ExpectPrevious();
}

TEST_F(ImageRecordsTest, LaterVersionNeedsEveryTextItReads) {
  tb::ImageBuilder image(kImage);
  // A version-5 record whose build text has no NUL before the end.
  image.AmiRecord(0x100, 2, {"SOUND", "ID", "03/15/2009", "V"})
      .AmiRecord(kImage - 40, 5, {"CUT", "ID", "03/15/2009", "V", "", "", "ABCDEFGH123XYZ"});
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, "SOUND");
  // Moved earlier, the same record is whole and, being first, wins.
  tb::ImageBuilder whole(kImage);
  whole.AmiRecord(0x80, 5, {"WHOLE", "ID", "03/15/2009", "V", "", "", "ABCDEFGH123XYZ"})
      .AmiRecord(0x100, 2, {"SOUND", "ID", "03/15/2009", "V"});
  EXPECT_EQ(AmiRecord(whole), 1u);
  EXPECT_STREQ(ImageBios.modelName, "WHOLE");
  EXPECT_EQ(ImageBios.buildVersion, 123u);
}

TEST_F(ImageRecordsTest, VersionOneWithATextRunningPastTheEndIsPassedOver) {
  tb::ImageBuilder image(kImage);
  VersionOne(image, 0x100, "SOUND");
  // A later record, which would otherwise win, whose model text has no NUL.
  image.AmiRecordV1(0x5000, 0xFFF0, 0x1100, 0x1200, 0x1300).Fill(kImage - 16, 16, 'X');
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, "SOUND");
}

TEST_F(ImageRecordsTest, VersionOneNeedsOnlyTheThreeTextsItIsReadFor) {
  Previous();
  tb::ImageBuilder image(kImage);
  // The version text runs to the image's last byte, which is not a NUL.
  image.AmiRecordV1(0x100, 0x1000, 0x1100, 0x1200, 0xFFF0)
      .Text(kFArea + 0x1000, "AB12")
      .Text(kFArea + 0x1100, "ID")
      .Text(kFArea + 0x1200, "03/15/2009");
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, "AB12");
  EXPECT_STREQ(ImageBios.versionText, "");  // not the earlier image's
  EXPECT_EQ(ImageBios.dateCode, 20090315u);
  // The same version text ended inside the image is taken.
  image.Bytes(kImage - 1, {0});
  EXPECT_EQ(AmiRecord(image), 1u);
  EXPECT_EQ(std::string(ImageBios.versionText), std::string(15, '\xFF'));
}

TEST_F(ImageRecordsTest, RecordCutByTheImageEndIsPassedOver) {
  Previous();
  tb::ImageBuilder image(kImage);
  image.AmiRecordV1(kImage - 17, 0x1000, 0x1000, 0x1000, 0x1000).Text(kFArea + 0x1000, "AB12");
  EXPECT_EQ(AmiRecord(image), 0u);
  tb::ImageBuilder tagOnly(kImage);
  tagOnly.Bytes(kImage - 9, tb::BytesOf("$ZANTAMI$"));
  EXPECT_EQ(AmiRecord(tagOnly), 0u);
  ExpectPrevious();
}

TEST_F(ImageRecordsTest, ShortImageHoldsOnlyTheTopOfTheFArea) {
  // 32 KiB: F-area offsets from 0x8000 on lie in the image, lower ones before it.
  tb::ImageBuilder inside(0x8000);
  inside.AmiRecordV1(0x10, 0x9000, 0x9100, 0x9200, 0x9300)
      .Text(0x1000, "IN32K")
      .Text(0x1100, "ID")
      .Text(0x1200, "03/15/2009")
      .Text(0x1300, "V");
  EXPECT_EQ(AmiRecord(inside), 1u);
  EXPECT_STREQ(ImageBios.modelName, "IN32K");

  Previous();
  tb::ImageBuilder before(0x8000);
  before.AmiRecordV1(0x10, 0x7000, 0x9100, 0x9200, 0x9300).Text(0x1100, "ID").Text(0x1200, "D").Text(0x1300, "V");
  EXPECT_EQ(AmiRecord(before), 0u);
  ExpectPrevious();
}

// One record, read on a machine (BiosType 4, from its flash part) and in an
// image: the same answers, the date code included.
struct SameRecordCase {
  const char* name;
  uint8_t version;
  tb::AmiTexts texts;
  const char* model;
  uint32_t dateCode;
};

class SameRecord : public ImageRecordsTest, public testing::WithParamInterface<SameRecordCase> {};

TEST_P(SameRecord, GivesTheSameAnswersOnTheMachineAndInAnImage) {
  const SameRecordCase& c = GetParam();
  tb::MachineBuilder machine;
  tb::WriteAmiRecordInFlash(machine, 0x80000, 0x100, c.version, c.texts);
  const uint32_t driver = OpenDriverOn(machine);
  MachineBios.flashSize = 0x80000;
  orr::ProbeExtendedIdentity(driver);
  tb::ImageBuilder image(kImage);
  image.Bytes(0x100, tb::AmiRecordStrings(c.version, c.texts));
  ASSERT_EQ(AmiRecord(image), 1u);
  EXPECT_STREQ(MachineBios.modelName, c.model);
  EXPECT_STREQ(ImageBios.modelName, c.model);
  EXPECT_STREQ(ImageBios.idString, MachineBios.idString);
  EXPECT_STREQ(ImageBios.dateText, MachineBios.dateText);
  EXPECT_STREQ(ImageBios.versionText, MachineBios.versionText);
  EXPECT_EQ(MachineBios.dateCode, c.dateCode);
  EXPECT_EQ(ImageBios.dateCode, c.dateCode);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SameRecord,
    testing::Values(
        SameRecordCase{"ShortDate", 2, {"AB12", "AB12 BIOS", "11/20/09", "1.10"}, "AB12", 1091120},
        SameRecordCase{"ShortDateBefore2000", 3, {"AB12", "ID", "05/17/99", "1.0", "PRO"}, "AB12(PRO)", 990517},
        SameRecordCase{"LongDateAndMore", 4, {"AB12", "ID", "03/15/2009-Rev B", "2.0", "", "Desc"}, "AB12", 20090315},
        SameRecordCase{"LongDateTrailingBlank", 5, {"AB12", "ID", "04/01/2010 ", "2.1", "", "", "ABCDEFGH123"}, "AB12",
                       20100401}),
    [](const testing::TestParamInfo<SameRecordCase>& info) { return info.param.name; });

// ZANTBIOS record and "*MEO" marker

std::vector<uint8_t> ZantBiosText(const std::string& id, const std::string& date) {
  return tb::BytesOf(id + "|" + date);
}

TEST_F(ImageRecordsTest, NeitherMarkGivesNotApplicableAndNoSuccess) {
  Previous();
  tb::ImageBuilder image(kImage);
  image.ZantBios(0x108, 22, ZantBiosText("MISPLACED", "03/15/2009")).Text(0x300, "*ME0AB12");
  EXPECT_EQ(ImageTags(image), 0u);
  EXPECT_STREQ(ImageBios.idString, "N/A");
  EXPECT_STREQ(ImageBios.dateText, "N/A");
  EXPECT_STREQ(ImageBios.modelName, "OLDMODEL");
}

TEST_F(ImageRecordsTest, RomMapAloneRecognisesTheImage) {
  // Either kind counts, found as the member search finds it: at a 16-byte
  // step of the tail area, its region words inside the image.
  const struct {
    const char* name;
    uint32_t at;
    bool bMap;
    uint32_t recognised;
  } cases[] = {{"B", 0x1000, true, 1}, {"N", 0x1FFE0, false, 1}, {"B cut by the end", kImage - 32, true, 0},
               {"N off the step", 0x1008, false, 0}};
  for (const auto& c : cases) {
    tb::ImageBuilder image(kImage);
    if (c.bMap)
      image.BRomMap(c.at, 0xFFFE0000, 0xFFFE1000, 0, 0);
    else
      image.NRomMap(c.at, 0xFFFE0000, 0xFFFE1000, 0, 0);
    EXPECT_EQ(ImageTags(image), c.recognised) << c.name;
    EXPECT_STREQ(ImageBios.idString, "N/A") << c.name;
  }
}

TEST_F(ImageRecordsTest, ZantBiosRecordGivesTheIdAndTheDate) {
  Previous();
  tb::ImageBuilder image(kImage);
  image.ZantBios(0x1230, 11 + 13, ZantBiosText("RV5420 BIOS 7", "05/06/2010"));
  EXPECT_EQ(ImageTags(image), 1u);
  EXPECT_STREQ(ImageBios.idString, "RV5420 BIOS 7");
  EXPECT_STREQ(ImageBios.dateText, "05/06/2010");
  EXPECT_STREQ(ImageBios.modelName, "OLDMODEL");
}

TEST_F(ImageRecordsTest, ZantBiosIsSearchedOnlyAt16ByteStepsOfTheTailArea) {
  // 256 KiB: a record in the first half lies before the tail area.
  tb::ImageBuilder image(0x40000);
  image.ZantBios(0x100, 13, ZantBiosText("BEFORE", "")).ZantBios(0x20008, 13, ZantBiosText("MISALIGN", ""));
  EXPECT_EQ(ImageTags(image), 0u);
  image.ZantBios(0x3FF00, 11 + 2, ZantBiosText("OK", "05/06/2010"));
  EXPECT_EQ(ImageTags(image), 1u);
  EXPECT_STREQ(ImageBios.idString, "OK");
}

struct ZantBiosCase {
  const char* name;
  uint8_t length;
  std::vector<uint8_t> text;
  std::string idString;
  std::string dateText;
};

class ImageZantBios : public ImageRecordsTest, public testing::WithParamInterface<ZantBiosCase> {};

TEST_P(ImageZantBios, FirstSoundRecordDecides) {
  const ZantBiosCase& c = GetParam();
  tb::ImageBuilder image(kImage);
  // The case's record first; a sound one behind it takes over when it is passed over.
  image.ZantBios(0x400, c.length, c.text).ZantBios(0x800, 11 + 6, ZantBiosText("SECOND", "07/07/2007"));
  EXPECT_EQ(ImageTags(image), 1u);
  EXPECT_EQ(ImageBios.idString, c.idString);
  EXPECT_EQ(ImageBios.dateText, c.dateText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageZantBios,
    testing::Values(
        ZantBiosCase{"FirstWins", 11 + 5, ZantBiosText("FIRST", "03/15/2009"), "FIRST", "03/15/2009"},
        ZantBiosCase{"ShortestHasNoId", 11, ZantBiosText("", "03/15/2009"), "", "03/15/2009"},
        ZantBiosCase{"NulEndsTheId", 11 + 5, tb::BytesOf(std::string("AB\0CD|03/15/2009", 16)), "AB", "03/15/2009"},
        ZantBiosCase{"LongestIdIsCutAt99", 127, ZantBiosText(std::string(116, 'I'), "03/15/2009"),
                     std::string(99, 'I'), "03/15/2009"},
        ZantBiosCase{"LengthBelow11IsPassedOver", 10, ZantBiosText("", "03/15/2009"), "SECOND", "07/07/2007"},
        ZantBiosCase{"LengthAbove127IsPassedOver", 128, ZantBiosText(std::string(117, 'I'), "03/15/2009"),
                     "SECOND", "07/07/2007"}),
    [](const testing::TestParamInfo<ZantBiosCase>& info) { return info.param.name; });

TEST_F(ImageRecordsTest, ZantBiosTextRunningPastTheEndIsPassedOver) {
  tb::ImageBuilder image(kImage);
  image.ZantBios(kImage - 16, 11 + 6, ZantBiosText("CUTOFF", "07/07/2007"));
  EXPECT_EQ(ImageTags(image), 0u);
  EXPECT_STREQ(ImageBios.idString, "N/A");
}

struct MeoCase {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* model;
};

class ImageMeo : public ImageRecordsTest, public testing::WithParamInterface<MeoCase> {};

// Tags of version 0 around the marker: the one pass that looks for both
// still gives the first marker.
TEST_P(ImageMeo, BuildsTheModelName) {
  tb::ImageBuilder image(kImage);
  image.Text(0x100, "$ZANTAMI$").Meo(0x12345, GetParam().bytes).Text(0x15000, "$ZANTAMI$");
  image.Meo(0x1F000, tb::BytesOf("LATER"));
  EXPECT_EQ(ImageTags(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, GetParam().model);
  EXPECT_STREQ(ImageBios.idString, "N/A");
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageMeo,
                         testing::Values(MeoCase{"LineCharacterBecomesDash", tb::BytesOf("AB12\xC4" "E "), "AB12-E"},
                                         MeoCase{"AtMostEightBytes", tb::BytesOf("ABCDEFGHIJ"), "ABCDEFGH"},
                                         MeoCase{"NulEndsIt", tb::BytesOf(std::string("AB\0CD", 5)), "AB"},
                                         MeoCase{"EmptyModel", tb::BytesOf(" AB12"), ""}),
                         [](const testing::TestParamInfo<MeoCase>& info) { return info.param.name; });

TEST_F(ImageRecordsTest, MeoMarkerAtTheImageEndTakesOnlyWhatIsInside) {
  tb::ImageBuilder image(kImage);
  image.Meo(kImage - 7, tb::BytesOf("RV5"));
  EXPECT_EQ(ImageTags(image), 1u);
  EXPECT_STREQ(ImageBios.modelName, "RV5");
  tb::ImageBuilder bare(kImage);
  bare.Meo(kImage - 4, {});
  EXPECT_EQ(ImageTags(bare), 1u);
  EXPECT_STREQ(ImageBios.modelName, "");
}

TEST_F(ImageRecordsTest, ShortImageIsItsOwnTailArea) {
  tb::ImageBuilder image(0x6000);
  image.ZantBios(0x10, 11 + 5, ZantBiosText("SMALL", "05/06/2010"));
  EXPECT_EQ(ImageTags(image), 1u);
  EXPECT_STREQ(ImageBios.idString, "SMALL");
}

// Through the export

TEST(ImageRecordsExport, TagsWithoutAMemberEndWith304AndShowTheTags) {
  StartDetected();
  tb::ImageBuilder image(0x40000);
  image.ZantBios(0x3F000, 11 + 6, ZantBiosText("RV5420", "05/06/2010")).Meo(0x3F100, tb::BytesOf("RV5420 "));
  FileInfo info = AnalyseImage(image.Build());
  EXPECT_EQ(info.result, 304u);
  EXPECT_EQ(info.idString, "RV5420");
  EXPECT_EQ(info.date, "05/06/2010");
  EXPECT_EQ(info.model, "RV5420");
  EXPECT_EQ(info.amiTagFound, 0u);
  EXPECT_TRUE(ImageRequests().empty());
  ExpectNothingOutstanding();
}

}  // namespace
