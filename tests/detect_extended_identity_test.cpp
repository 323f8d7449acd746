#include <gtest/gtest.h>

#include "detect/extended_identity.h"
#include "detect/rom_id.h"
#include "detect_helpers.h"

namespace {

using tb::AmiTexts;
using tb::MachineBuilder;

constexpr uint32_t kFlash = 0x80000;
constexpr uint32_t kTop = 0xFFFFFF00;

const AmiTexts kRecord{"VM3G8", "VM3G8 BIOS 2.10", "03/15/2009", "2.10", "Deluxe", "Media board", "BUILD00-123"};

AmiTexts Named(const std::string& model) {
  AmiTexts t = kRecord;
  t.model = model;
  return t;
}

// Runs the probe as the detection does, right after the flash size is known.
void Probe(const MachineBuilder& b, uint32_t flashSize = kFlash) {
  uint32_t driver = OpenDriverOn(b);
  MachineBios.flashSize = flashSize;
  std::strcpy(MachineBios.descriptionText, "earlier description");
  std::strcpy(MachineBios.romId, "OLDID");
  MachineBios.dateCode = 7;
  orr::ProbeExtendedIdentity(driver);
}

bool FlashMapped(uint32_t flashSize) {
  const auto maps = MapRequests();
  return std::count(maps.begin(), maps.end(), std::make_pair(0u - flashSize, flashSize - 1)) > 0;
}

TEST(ExtendedIdentity, NoRecordLeavesTheIdentityButStillCopiesAndSearches) {
  MachineBuilder b;
  b.Bytes(0xFFFFFFE0, tb::BytesOf("ROMID123"));
  uint32_t driver = OpenDriverOn(b);
  MachineBios.flashSize = kFlash;
  std::strcpy(MachineBios.modelName, "EARLIER");
  MachineBios.dateCode = 7;
  orr::ProbeExtendedIdentity(driver);
  EXPECT_STREQ(MachineBios.modelName, "EARLIER");
  EXPECT_STREQ(MachineBios.altModelName, "EARLIER");
  EXPECT_EQ(MachineBios.dateCode, 7u);
  EXPECT_STREQ(MachineBios.romId, "ROMID");
  ExpectNothingOutstanding();
}

TEST(ExtendedIdentity, FlashTooSmallIsNotSearched) {
  for (uint32_t size : {0u, 15u}) {
    MachineBuilder b;
    Probe(b, size);
    EXPECT_FALSE(FlashMapped(size)) << size;
    EXPECT_EQ(MachineBios.dateCode, 7u);
  }
}

TEST(ExtendedIdentity, Version1InTheFSegmentWinsAndTheFlashIsNotSearched) {
  MachineBuilder b;
  tb::WriteAmiRecordVersion1(b, 0x9000, Named("SECOND"));
  tb::WriteAmiRecordVersion1(b, 0x8000, Named("FIRST"));
  b.FSegmentBytes(0x7000, tb::AmiRecordStrings(2, Named("FSEG-V2")));  // not version 1: passed over here
  tb::WriteAmiRecordInFlash(b, kFlash, 0x100, 4, Named("FLASH"));
  Probe(b);
  EXPECT_STREQ(MachineBios.modelName, "FIRST");
  EXPECT_STREQ(MachineBios.idString, "VM3G8 BIOS 2.10");
  EXPECT_STREQ(MachineBios.versionText, "2.10");
  EXPECT_EQ(MachineBios.dateCode, 20090315u);
  EXPECT_STREQ(MachineBios.descriptionText, "earlier description");
  EXPECT_FALSE(FlashMapped(kFlash));
  ExpectNothingOutstanding();
}

TEST(ExtendedIdentity, FlashSkipsVersion1AndTakesTheFirstLaterRecord) {
  MachineBuilder b;
  b.Bytes(0u - kFlash + 0x100, tb::AmiRecordStrings(1, Named("V1")));
  b.Bytes(0u - kFlash + 0x200, tb::AmiRecordStrings(0, Named("V0")));
  tb::WriteAmiRecordInFlash(b, kFlash, 0x300, 2, Named("V2"));
  tb::WriteAmiRecordInFlash(b, kFlash, 0x400, 4, Named("LATER"));
  Probe(b);
  EXPECT_STREQ(MachineBios.modelName, "V2");  // no edition from a version-2 record
  EXPECT_STREQ(MachineBios.descriptionText, "earlier description");
  EXPECT_TRUE(FlashMapped(kFlash));
  ExpectNothingOutstanding();
}

struct VersionCase {
  const char* name;
  uint8_t version;
  std::string edition, description;
  const char* model;
  const char* descriptionText;
};

class RecordVersion : public testing::TestWithParam<VersionCase> {};

// The top window holds a marker of rule 3: it applies only while the name
// is still exactly the model text.
TEST_P(RecordVersion, EditionAndDescription) {
  const VersionCase& c = GetParam();
  AmiTexts texts = kRecord;
  texts.edition = c.edition;
  texts.description = c.description;
  MachineBuilder b;
  tb::WriteAmiRecordInFlash(b, kFlash, 0x7F000, c.version, texts);
  b.Bytes(kTop + 0x20, tb::BytesOf("VM3G8P  ROM"));
  Probe(b);
  EXPECT_STREQ(MachineBios.modelName, c.model);
  EXPECT_STREQ(MachineBios.descriptionText, c.descriptionText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordVersion,
    testing::Values(VersionCase{"V3EmptyEdition", 3, "", "d", "VM3G8(Premium)", "earlier description"},
                    VersionCase{"V3Edition", 3, "Deluxe", "d", "VM3G8(Deluxe)", "earlier description"},
                    VersionCase{"V4Description", 4, "Deluxe", "Media board", "VM3G8(Deluxe)", "Media board"},
                    VersionCase{"V5DescriptionCutAt30", 5, "", std::string(40, 'D'), "VM3G8(Premium)",
                                "DDDDDDDDDDDDDDDDDDDDDDDDDDDDDD"}),
    [](const testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST(ExtendedIdentity, LongTextsAreCutAndTheListStaysInStep) {
  AmiTexts texts = kRecord;
  texts.model = std::string(57, 'M');
  texts.idString = std::string(120, 'I');
  texts.date = "03/15/2009 and more text than the date field can hold";
  MachineBuilder b;
  tb::WriteAmiRecordInFlash(b, kFlash, 0x100, 4, texts);
  Probe(b);
  EXPECT_EQ(std::string(MachineBios.modelName), std::string(57, 'M') + "(D");  // cut like the image analysis does
  EXPECT_EQ(std::string(MachineBios.idString), std::string(99, 'I'));
  EXPECT_EQ(std::string(MachineBios.dateText), texts.date.substr(0, 29));
  EXPECT_STREQ(MachineBios.versionText, "2.10");
  EXPECT_STREQ(MachineBios.descriptionText, "Media board");
  EXPECT_EQ(MachineBios.dateCode, 20090315u);
}

TEST(ExtendedIdentity, LastFlashOffsetIsSearchedAndItsTextEndsAtTheWindow) {
  constexpr uint32_t kMiB = 0x100000;
  MachineBuilder b;
  b.Bytes(0u - kMiB + 0xFFFF0, tb::BytesOf("$ZANTAMI$\x02MODEL"));  // the NUL would be past the window
  Probe(b, kMiB);
  EXPECT_TRUE(FlashMapped(kMiB));
  EXPECT_STREQ(MachineBios.modelName, "MODEL");
  EXPECT_STREQ(MachineBios.idString, "");

  MachineBuilder past;
  past.Bytes(0u - kMiB + 0xFFFF1, tb::BytesOf("$ZANTAMI$\x02M"));
  Probe(past, kMiB);
  EXPECT_STREQ(MachineBios.modelName, "");
}

TEST(ExtendedIdentity, Version1TextsEndAtTheNtWindow) {
  MachineBuilder b;
  b.FSegmentBytes(0x8000, tb::AmiRecordVersion1(0xFFFA, 0xFFFE, 0x9000, 0x9000));
  b.FSegmentBytes(0xFFFA, tb::BytesOf("ABCDEF"));
  b.FSegmentText(0x9000, "01/02/2003");
  Probe(b);
  EXPECT_STREQ(MachineBios.modelName, "ABCD");  // offsets 0xFFFA to 0xFFFD
  EXPECT_STREQ(MachineBios.idString, "");
  EXPECT_EQ(MachineBios.dateCode, 20030102u);
}

struct RuleCase {
  const char* name;
  tb::Platform platform;
  std::string model;
  std::vector<std::pair<uint32_t, std::string>> topMarkers;  // offset in the top window, marker
  std::string fsegmentText;
  const char* expectModel;
  const char* expectAlt;
};

class SpecialCase : public testing::TestWithParam<RuleCase> {};

TEST_P(SpecialCase, Applies) {
  const RuleCase& c = GetParam();
  MachineBuilder b;
  b.Edit().platform = c.platform;
  tb::WriteAmiRecordInFlash(b, kFlash, 0x100, 2, Named(c.model));
  for (const auto& [offset, marker] : c.topMarkers) b.Bytes(kTop + offset, tb::BytesOf(marker));
  if (!c.fsegmentText.empty()) b.FSegmentText(0x4321, c.fsegmentText);
  Probe(b);
  EXPECT_STREQ(MachineBios.modelName, c.expectModel);
  EXPECT_STREQ(MachineBios.altModelName, c.expectAlt);
  ExpectNothingOutstanding();
}

const auto Nt = tb::Platform::Nt;
const auto Win9x = tb::Platform::Win9x;

INSTANTIATE_TEST_SUITE_P(
    Rules, SpecialCase,
    testing::Values(
        RuleCase{"NoMarker", Nt, "VM3G8", {}, "", "VM3G8", "VM3G8"},
        RuleCase{"MarkerCaseMatters", Nt, "VM3G8", {{0, "vm3g8p  rom"}}, "", "VM3G8", "VM3G8"},
        RuleCase{"MarkerCutByNtWindow", Nt, "TX4410", {{0xF4, "TX4410B ROM"}}, "", "TX4410", "TX4410"},
        RuleCase{"LastNtMarkerOffset", Nt, "TX4410", {{0xF3, "TX4410B ROM"}}, "", "TX4410", "TX4410B"},
        RuleCase{"Marker9xWindowIsLonger", Win9x, "TX4410", {{0xF5, "TX4410B ROM"}}, "", "TX4410", "TX4410B"},
        RuleCase{"R6NBasic", Nt, "R6N", {{0x40, "R6NB    ROM"}}, "", "R6N(BASIC)", "R6N"},
        RuleCase{"ModelCaseIgnored", Nt, "vm3g8", {{0x10, "VM3G8P  ROM"}}, "", "vm3g8(Premium)", "vm3g8"},
        RuleCase{"TableOrderBreaksTies", Nt, "VM3G8", {{0x10, "VM3G8P  ROM"}, {0x80, "VM3G8   ROM"}}, "",
                 "VM3G8(Basic)", "VM3G8"},
        RuleCase{"Vm3g8Pro", Nt, "VM3G8", {{0x10, "VM3G8PROROM"}}, "", "VM3G8(PRO)", "VM3G8"},
        RuleCase{"Vm3r8Premium", Nt, "VM3R8", {{0x10, "VM3R8P  ROM"}, {0x30, "VM3G8D  ROM"}}, "", "VM3R8(Premium)",
                 "VM3R8"},
        RuleCase{"PavilionLowerCaseModel", Nt, "tx4410-e", {}, "HP Pavilion", "tx4410-e", "tx4410-e"},
        RuleCase{"PavilionTextAbsent", Nt, "TX4410-E", {{0, "TX4410B ROM"}}, "HP Pavi", "TX4410-E", "TX4410-E"},
        RuleCase{"Pavilion", Nt, "XTX4410-E2", {}, "HP Pavilion", "N/A", "N/A"}),
    [](const testing::TestParamInfo<RuleCase>& info) { return info.param.name; });

struct RomIdCase {
  const char* name;
  std::vector<std::pair<uint32_t, std::string>> candidates;  // offset in the last 64 KiB
  const char* romId;
};

class RomId : public testing::TestWithParam<RomIdCase> {};

TEST_P(RomId, TakesTheHighestQualifyingCandidate) {
  const RomIdCase& c = GetParam();
  MachineBuilder b;
  for (const auto& [offset, bytes] : c.candidates) b.Bytes(0xFFFF0000u + offset, tb::BytesOf(bytes));
  uint32_t driver = OpenDriverOn(b);
  std::strcpy(MachineBios.romId, "OLDID");
  orr::FindRomId(driver);
  EXPECT_STREQ(MachineBios.romId, c.romId);
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RomId,
    testing::Values(RomIdCase{"BelowTheLowestCandidate", {{0xEFF0, "ABCDEFGH"}}, "OLDID"},
                    RomIdCase{"OffTheStep", {{0xFFE8, "ABCDEFGH"}}, "OLDID"},
                    RomIdCase{"SevenAndABlank", {{0xFFE0, "ABCDEFG "}, {0xF000, "abc1234 "}}, "OLDID"},
                    RomIdCase{"HighBitByte", {{0xFFD0, "ABCD\xC4" "FGH"}}, "OLDID"},
                    RomIdCase{"TopCandidate", {{0xFFE0, "ABCDEFGH"}}, "ABCDE"},
                    RomIdCase{"LowestCandidate", {{0xF000, "z9y8x7w6"}}, "z9y8x"},
                    RomIdCase{"HighestFirst", {{0xF000, "LOWER123"}, {0xFFD0, "HIGHER12"}, {0xFFE0, "NOT-ONE!"}},
                              "HIGHE"}),
    [](const testing::TestParamInfo<RomIdCase>& info) { return info.param.name; });

TEST(RomIdWindow, FailedWindowWritesNothing) {
  MachineBuilder b;
  b.Bytes(0xFFFFFFE0, tb::BytesOf("ABCDEFGH")).FailMapAt(0xFFFF0000);
  uint32_t driver = OpenDriverOn(b);
  std::strcpy(MachineBios.romId, "OLDID");
  orr::FindRomId(driver);
  EXPECT_STREQ(MachineBios.romId, "OLDID");
}

}  // namespace
