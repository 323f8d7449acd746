// The extended family's identity: the AMI record in the F segment or the
// flash part, the model editions, and the ROM id.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "detect/extended_identity.h"
#include "detect/rom_id.h"
#include "detect_helpers.h"

namespace {

using tb::AmiTexts;
using tb::MachineBuilder;
using Build = std::function<void(MachineBuilder&)>;

constexpr uint32_t kFlash = 0x80000, kMiB = 0x100000;
constexpr uint32_t kTop = 0xFFFFFF00;

const AmiTexts kRecord{"VM3G8", "VM3G8 BIOS 2.10", "03/15/2009", "2.10", "Deluxe", "Media board", "BUILD00-123"};

AmiTexts Named(const std::string& model, const std::string& edition = "Deluxe",
               const std::string& description = "Media board") {
  AmiTexts t = kRecord;
  t.model = model, t.edition = edition, t.description = description;
  return t;
}

// Runs the probe as the detection does, right after the flash size is known,
// over fields an earlier run left; a ROM id candidate is always there.
void Probe(MachineBuilder b, uint32_t flashSize) {
  uint32_t driver = OpenDriverOn(b.Bytes(0xFFFFFFE0, tb::BytesOf("ROMID123")));
  MachineBios.flashSize = flashSize;
  std::strcpy(MachineBios.modelName, "EARLIER");
  std::strcpy(MachineBios.descriptionText, "earlier");
  MachineBios.dateCode = 7;
  orr::ProbeExtendedIdentity(driver);
}

void InFlash(MachineBuilder& b, uint32_t offset, uint8_t version, const AmiTexts& texts) {
  tb::WriteAmiRecordInFlash(b, kFlash, offset, version, texts);
}

bool FlashMapped(uint32_t flashSize) {
  const auto maps = MapRequests();
  return std::count(maps.begin(), maps.end(), std::make_pair(0u - flashSize, flashSize - 1)) > 0;
}

// A version-1 record in the F segment wins and the flash is not searched;
// the flash gives the first record of version 2 or later (what each version
// carries: image_records_test.cpp, same reader). The date code is replaced
// only when a record is found; each text ends at its field's or window's
// end. The top window's VM3G8 premium marker applies only while the name is
// still exactly the model text.
TEST(ExtendedIdentity, RecordSourcesAndTheirLimits) {
  const std::string id = kRecord.idString;
  const struct {
    const char* name; Build setup; uint32_t flashSize; std::string model, id, version; uint32_t dateCode;
    const char* description; bool flashMapped;
  } cases[] = {
      {"NoRecord", [](MachineBuilder&) {}, kFlash, "EARLIER", "", "", 7, "earlier", true},
      {"FlashSize0", [](MachineBuilder&) {}, 0, "EARLIER", "", "", 7, "earlier", false},
      {"FlashSize15", [](MachineBuilder&) {}, 15, "EARLIER", "", "", 7, "earlier", false},
      {"Version1InTheFSegmentWins", [](MachineBuilder& b) {  // FSEG-V2 is not version 1: passed over here
         tb::WriteAmiRecordVersion1(b, 0x9000, Named("SECOND")), tb::WriteAmiRecordVersion1(b, 0x8000, Named("FIRST"));
         b.FSegmentBytes(0x7000, tb::AmiRecordStrings(2, Named("FSEG-V2"))), InFlash(b, 0x100, 4, Named("FLASH"));
       }, kFlash, "FIRST", id, "2.10", 20090315, "earlier", false},
      {"FlashSkipsVersion1", [](MachineBuilder& b) {  // and a version-2 record has no edition
         b.Bytes(0u - kFlash + 0x100, tb::AmiRecordStrings(1, Named("V1")));
         b.Bytes(0u - kFlash + 0x200, tb::AmiRecordStrings(0, Named("V0")));
         InFlash(b, 0x300, 2, Named("V2")), InFlash(b, 0x400, 4, kRecord);
       }, kFlash, "V2", id, "2.10", 20090315, "earlier", true},
      {"V3EmptyEdition", [](MachineBuilder& b) { InFlash(b, 0x7F000, 3, Named("VM3G8", "")); },
       kFlash, "VM3G8(Premium)", id, "2.10", 20090315, "earlier", true},
      {"V5DescriptionCutAt30",
       [](MachineBuilder& b) { InFlash(b, 0x7F000, 5, Named("VM3G8", "", std::string(40, 'D'))); }, kFlash,
       "VM3G8(Premium)", id, "2.10", 20090315, "DDDDDDDDDDDDDDDDDDDDDDDDDDDDDD", true},
      {"LongTextsAreCutAndTheListStaysInStep", [](MachineBuilder& b) {
         AmiTexts texts = Named(std::string(57, 'M'));
         texts.idString = std::string(120, 'I'), texts.date = "03/15/2009 and more text than the date field can hold";
         InFlash(b, 0x100, 4, texts);
       }, kFlash, std::string(57, 'M') + "(D", std::string(99, 'I'), "2.10", 20090315, "Media board", true},
      {"LastFlashOffsetTextEndsAtTheWindow",  // the NUL would be past the window
       [](MachineBuilder& b) { b.Bytes(0u - kMiB + 0xFFFF0, tb::BytesOf("$ZANTAMI$\x02MODEL")); }, kMiB, "MODEL", "",
       "", 0, "earlier", true},
      {"PastTheLastFlashOffset", [](MachineBuilder& b) { b.Bytes(0u - kMiB + 0xFFFF1, tb::BytesOf("$ZANTAMI$\x02M")); },
       kMiB, "EARLIER", "", "", 7, "earlier", true},
      {"Version1TextsEndAtTheNtWindow", [](MachineBuilder& b) {  // the model at 0xFFFA to 0xFFFD
         b.FSegmentBytes(0x8000, tb::AmiRecordVersion1(0xFFFA, 0xFFFE, 0x9000, 0x9000));
         b.FSegmentBytes(0xFFFA, tb::BytesOf("ABCDEF")).FSegmentText(0x9000, "01/02/2003");
       }, kFlash, "ABCD", "", "01/02/2003", 20030102, "earlier", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MachineBuilder b;
    c.setup(b);
    Probe(b.Bytes(kTop + 0x20, tb::BytesOf("VM3G8P  ROM")), c.flashSize);
    const orr::MachineBiosRecord& m = MachineBios;
    EXPECT_EQ(std::make_tuple(std::string(m.modelName), std::string(m.idString), std::string(m.versionText), m.dateCode,
                              std::string(m.descriptionText)),
              std::make_tuple(c.model, c.id, c.version, c.dateCode, std::string(c.description)));
    EXPECT_EQ(FlashMapped(c.flashSize), c.flashMapped);
    // The alternative model is the name copied before the top marker's edition, record or not.
    EXPECT_EQ(MachineBios.altModelName, c.model == "VM3G8(Premium)" ? "VM3G8" : c.model);
    EXPECT_STREQ(MachineBios.romId, "ROMID");  // searched whatever the record
    ExpectNothingOutstanding();
  }
}

// The editions: a marker in the top window (NT reads 0xFE bytes of it, 9x
// 0x100) or the Pavilion text in the F segment.
TEST(ExtendedIdentity, ModelSpecialCases) {
  using Markers = std::vector<std::pair<uint32_t, std::string>>;  // offset in the top window, marker
  const auto Nt = tb::Platform::Nt, Win9x = tb::Platform::Win9x;
  const struct {
    const char* name; tb::Platform platform; std::string model; Markers top; std::string fsegmentText;
    const char *expectModel, *expectAlt;
  } cases[] = {
      {"NoMarker", Nt, "VM3G8", {}, "", "VM3G8", "VM3G8"},
      {"MarkerCaseMatters", Nt, "VM3G8", {{0, "vm3g8p  rom"}}, "", "VM3G8", "VM3G8"},
      {"MarkerCutByNtWindow", Nt, "TX4410", {{0xF4, "TX4410B ROM"}}, "", "TX4410", "TX4410"},
      {"LastNtMarkerOffset", Nt, "TX4410", {{0xF3, "TX4410B ROM"}}, "", "TX4410", "TX4410B"},
      {"Marker9xWindowIsLonger", Win9x, "TX4410", {{0xF5, "TX4410B ROM"}}, "", "TX4410", "TX4410B"},
      {"R6NBasic", Nt, "R6N", {{0x40, "R6NB    ROM"}}, "", "R6N(BASIC)", "R6N"},
      {"ModelCaseIgnored", Nt, "vm3g8", {{0x10, "VM3G8P  ROM"}}, "", "vm3g8(Premium)", "vm3g8"},
      {"TableOrderBreaksTies", Nt, "VM3G8", {{0x10, "VM3G8P  ROM"}, {0x80, "VM3G8   ROM"}}, "", "VM3G8(Basic)",
       "VM3G8"},
      {"Vm3g8Pro", Nt, "VM3G8", {{0x10, "VM3G8PROROM"}}, "", "VM3G8(PRO)", "VM3G8"},
      {"Vm3r8Premium", Nt, "VM3R8", {{0x10, "VM3R8P  ROM"}, {0x30, "VM3G8D  ROM"}}, "", "VM3R8(Premium)", "VM3R8"},
      {"PavilionLowerCaseModel", Nt, "tx4410-e", {}, "HP Pavilion", "tx4410-e", "tx4410-e"},
      {"PavilionTextAbsent", Nt, "TX4410-E", {{0, "TX4410B ROM"}}, "HP Pavi", "TX4410-E", "TX4410-E"},
      {"Pavilion", Nt, "XTX4410-E2", {}, "HP Pavilion", "N/A", "N/A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MachineBuilder b = MachineOn(c.platform);
    InFlash(b, 0x100, 2, Named(c.model));
    for (const auto& [offset, marker] : c.top) b.Bytes(kTop + offset, tb::BytesOf(marker));
    if (!c.fsegmentText.empty()) b.FSegmentText(0x4321, c.fsegmentText);
    Probe(b, kFlash);
    EXPECT_STREQ(MachineBios.modelName, c.expectModel);
    EXPECT_STREQ(MachineBios.altModelName, c.expectAlt);
    ExpectNothingOutstanding();
  }
}

// Eight letters or digits at a 16-byte step from 0xFFE0 down to 0xF000 of
// the last 64 KiB; the first five are kept.
TEST(RomId, TakesTheHighestQualifyingCandidate) {
  const struct {
    const char* name;
    std::vector<std::pair<uint32_t, std::string>> candidates;  // offset in the last 64 KiB
    bool failWindow;
    const char* romId;
  } cases[] = {
      {"BelowTheLowestCandidate", {{0xEFF0, "ABCDEFGH"}}, false, "OLDID"},
      {"OffTheStep", {{0xFFE8, "ABCDEFGH"}}, false, "OLDID"}, {"TopCandidate", {{0xFFE0, "ABCDEFGH"}}, false, "ABCDE"},
      {"SevenAndABlank", {{0xFFE0, "ABCDEFG "}, {0xF000, "abc1234 "}}, false, "OLDID"},
      {"HighBitByte", {{0xFFD0, "ABCD\xC4" "FGH"}}, false, "OLDID"},
      {"LowestCandidate", {{0xF000, "z9y8x7w6"}}, false, "z9y8x"},
      {"HighestFirst", {{0xF000, "LOWER123"}, {0xFFD0, "HIGHER12"}, {0xFFE0, "NOT-ONE!"}}, false, "HIGHE"},
      {"FailedWindowWritesNothing", {{0xFFE0, "ABCDEFGH"}}, true, "OLDID"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MachineBuilder b;
    for (const auto& [offset, bytes] : c.candidates) b.Bytes(0xFFFF0000u + offset, tb::BytesOf(bytes));
    if (c.failWindow) b.FailMapAt(0xFFFF0000);
    uint32_t driver = OpenDriverOn(b);
    std::strcpy(MachineBios.romId, "OLDID");
    orr::FindRomId(driver);
    EXPECT_STREQ(MachineBios.romId, c.romId);
    ExpectNothingOutstanding();
  }
}

}  // namespace
