// The ROM description of family 5: the text the last usable "$ZANTAWARD"
// marker of the F segment points at. (Which families read it: BiosTypePath.)
#include <gtest/gtest.h>

#include <tuple>

#include "detect/rom_description.h"
#include "detect_helpers.h"

namespace {

std::string Field(const std::string& text) {
  std::string field = text;
  field.resize(32, '\0');
  return field;
}

// The field starts with an earlier text of 31 characters; the whole 32-byte
// field is compared.
TEST(RomDescription, LastUsableMarkerDecides) {
  const auto Nt = tb::Platform::Nt, Win9x = tb::Platform::Win9x;
  const std::string kEarlier = std::string(31, 'x') + '\0';
  const struct {
    const char* name; tb::Platform platform;
    std::vector<std::tuple<uint32_t, uint16_t, std::string>> markers;  // marker offset, text offset, text
    std::string expect; bool failWindow = false;
  } cases[] = {
      {"NoMarker", Nt, {}, kEarlier},
      {"PointerPastNtWindow", Nt, {{0xFFEB, 0xEF20, "Text"}}, kEarlier},
      {"PointerInside9xSegment", Win9x, {{0xFFEB, 0xEF20, "Text"}}, Field("Text")},
      {"LastPointerInsideNtWindow", Nt, {{0xFFEA, 0xEF20, "Text"}}, Field("Text")},
      {"ShortTextClearsTheRest", Nt, {{0x100, 0xEF20, "Short"}}, Field("Short")},
      {"CutAt30", Nt, {{0x100, 0x2000, std::string(40, 'D')}}, Field(std::string(30, 'D'))},
      {"LastMarkerWins", Nt, {{0x3000, 0x2000, "High"}, {0x100, 0x2100, "Low"}}, Field("High")},
      {"TextEndsAtTheNtWindow", Nt, {{0x100, 0xFFF8, "ABCDEFGHIJ"}}, Field("ABCDEF")},
      {"TextRunsOnIn9x", Win9x, {{0x100, 0xFFF8, "ABCDEFGHIJ"}}, Field("ABCDEFGH")},
      {"FailedWindowLeavesTheText", Nt, {{0x100, 0xEF20, "Text"}}, kEarlier, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tb::MachineBuilder b = MachineOn(c.platform);
    for (const auto& [marker, at, text] : c.markers) tb::WriteRomDescription(b, marker, at, text);
    if (c.failWindow) b.FailMapAt(0xF0000);
    uint32_t driver = OpenDriverOn(b);
    std::memset(MachineBios.descriptionText, 'x', 31);
    orr::ReadROMDescription(driver);
    EXPECT_EQ(std::string(MachineBios.descriptionText, 32), c.expect);
    ExpectNothingOutstanding();
  }
}

}  // namespace
