#include <gtest/gtest.h>

#include "detect/rom_description.h"
#include "detect_helpers.h"
#include "orrivane.h"

namespace {

using tb::MachineBuilder;

struct DescriptionCase {
  const char* name;
  tb::Platform platform;
  std::vector<std::pair<uint32_t, uint16_t>> markers;  // marker offset, text pointer
  std::vector<std::pair<uint16_t, std::string>> texts;
  std::string expect;  // the whole 32-byte field
};

class RomDescription : public testing::TestWithParam<DescriptionCase> {};

TEST_P(RomDescription, LastUsableMarkerDecides) {
  const DescriptionCase& c = GetParam();
  MachineBuilder b;
  b.Edit().platform = c.platform;
  for (const auto& [marker, pointer] : c.markers) {
    std::vector<uint8_t> bytes = tb::BytesOf("$ZANTAWARD");
    bytes.resize(20, 0);
    bytes[18] = static_cast<uint8_t>(pointer), bytes[19] = static_cast<uint8_t>(pointer >> 8);
    b.FSegmentBytes(marker, bytes);
  }
  for (const auto& [at, text] : c.texts) b.FSegmentText(at, text);
  uint32_t driver = OpenDriverOn(b);
  std::memset(MachineBios.descriptionText, 'x', 31);  // an earlier text of 31 characters
  orr::ReadROMDescription(driver);
  EXPECT_EQ(std::string(MachineBios.descriptionText, 32), c.expect);
  ExpectNothingOutstanding();
}

std::string Field(const std::string& text) {
  std::string field = text;
  field.resize(32, '\0');
  return field;
}

const std::string kEarlier = std::string(31, 'x') + '\0';
const auto Nt = tb::Platform::Nt;
const auto Win9x = tb::Platform::Win9x;

INSTANTIATE_TEST_SUITE_P(
    Cases, RomDescription,
    testing::Values(
        DescriptionCase{"NoMarker", Nt, {}, {{0xEF20, "Text"}}, kEarlier},
        DescriptionCase{"PointerPastNtWindow", Nt, {{0xFFEB, 0xEF20}}, {{0xEF20, "Text"}}, kEarlier},
        DescriptionCase{"PointerInside9xSegment", Win9x, {{0xFFEB, 0xEF20}}, {{0xEF20, "Text"}}, Field("Text")},
        DescriptionCase{"LastPointerInsideNtWindow", Nt, {{0xFFEA, 0xEF20}}, {{0xEF20, "Text"}}, Field("Text")},
        DescriptionCase{"ShortTextClearsTheRest", Nt, {{0x100, 0xEF20}}, {{0xEF20, "Short"}}, Field("Short")},
        DescriptionCase{"CutAt30", Nt, {{0x100, 0x2000}}, {{0x2000, std::string(40, 'D')}}, Field(std::string(30, 'D'))},
        DescriptionCase{"LastMarkerWins", Nt, {{0x3000, 0x2000}, {0x100, 0x2100}}, {{0x2000, "High"}, {0x2100, "Low"}},
                        Field("High")},
        DescriptionCase{"TextEndsAtTheNtWindow", Nt, {{0x100, 0xFFF8}}, {{0xFFF8, "ABCDEFGHIJ"}}, Field("ABCDEF")},
        DescriptionCase{"TextRunsOnIn9x", Win9x, {{0x100, 0xFFF8}}, {{0xFFF8, "ABCDEFGHIJ"}}, Field("ABCDEFGH")}),
    [](const testing::TestParamInfo<DescriptionCase>& info) { return info.param.name; });

TEST(RomDescriptionPath, ReadOnlyForBiosType5) {
  for (uint32_t type : {2u, 5u}) {
    MachineBuilder b = NtMachine(type);
    tb::WriteRomDescription(b, 0x4000, 0x4100, "Award board");
    StartWith(b);
    std::strcpy(MachineBios.descriptionText, "earlier");
    ASSERT_EQ(Orrivane_Initialize(), 1u);
    char description[32] = {};
    Orrivane_GetBIOSROMInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, description);
    EXPECT_STREQ(description, type == 5 ? "Award board" : "earlier");
  }
}

TEST(RomDescriptionPath, FailedWindowLeavesTheText) {
  MachineBuilder b;
  tb::WriteRomDescription(b, 0x4000, 0x4100, "Award board");
  b.FailMapAt(0xF0000);
  uint32_t driver = OpenDriverOn(b);
  std::strcpy(MachineBios.descriptionText, "earlier");
  orr::ReadROMDescription(driver);
  EXPECT_STREQ(MachineBios.descriptionText, "earlier");
}

}  // namespace
