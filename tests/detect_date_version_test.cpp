// The date-and-version text of the identity area and the one rule for a
// record's date text, on the machine and in images alike.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/ami_record.h"
#include "firmware/date_version.h"

namespace orr {
namespace {

// `size` is the field's size, whose end ends the text.
TEST(RecordDateCodes, FromTheRecordsDateText) {
  const struct { std::string text; uint32_t size, code; } cases[] = {
      {"03/15/2009", 32, 20090315}, {"03-15-2009", 32, 20090315},  // separators unread
      // Whatever follows a leading mm/dd/yyyy; mm/dd/yy counts from 1900, below 70 in the 2000s.
      {"03/15/2009-Rev B 2nd release..", 32, 20090315}, {"04/01/2010 ", 32, 20100401},
      {"11/20/09", 32, 1091120}, {"05/17/99", 32, 990517}, {"01/01/70", 32, 700101}, {"02/03/69", 32, 1690203},
      // Eight characters but not that form: the positions as they stand.
      {"11/20/0x", 32, 0}, {"1/20/09 ", 32, 9}, {"N/A", 32, 0}, {"03/15/20O9", 32, 20},
      // An earlier, longer text behind the NUL does not count; eight characters
      // up to the field's end are the mm/dd/yy form.
      {std::string("03/15\0/2009", 10), 32, 0}, {"03/15/2009", 8, 1200315}, {"03/15/2009", 9, 200},
  };
  for (const auto& c : cases) {
    char field[32] = {};
    std::memcpy(field, c.text.data(), c.text.size());
    EXPECT_EQ(RecordDateCode(field, c.size), c.code) << c.text << " in " << c.size;
  }
}

// Every output starts full of an earlier call's bytes and must be rewritten.
TEST(DateVersion, Decodes) {
  const std::string k70 = std::string(70, 'V');
  const struct {
    const char* name; std::string text; const char* model; std::string date; uint32_t code; std::string version;
  } cases[] = {
      // Where the text defines no version text.
      {"NoDashAtAll", "X12/31/09 A1B2 TX4410", "TX4410", "12/31/09 A", 1091231, ""},
      {"EmptyModel", "X12/31/09-A1B2-TX4410", "", "12/31/09", 1091231, ""},
      {"ModelAbsent", "X05/17/99-A1B2-TX4410", "R6N", "05/17/99", 990517, ""},
      {"ModelOnlyAtPosition0", "M05/17/99-A1B2", "M", "05/17/99", 990517, ""},
      {"ModelRightAfterTheDashes", "X12/31/09--TX4410", "TX4410", "12/31/09", 1091231, ""},
      {"ModelOneCharacterIn", "X12/31/09--_TX4410", "TX4410", "12/31/09", 1091231, ""},
      // A model name that also appears in the date or at the version
      // text's start: the occurrence behind that start ends it.
      {"ModelAlsoInTheDate", "X12/31/09-A1B2-12-00", "12", "12/31/09", 1091231, "A1B2"},
      {"ModelAtTheVersionStart", "X12/31/09-AB-X-AB", "AB", "12/31/09", 1091231, "AB-X"},
      // Date forms and the century rule.
      {"EightCharacters", "X12/31/09-A1B2-TX4410-00", "TX4410", "12/31/09", 1091231, "A1B2"},
      {"TenCharacters", "X01/05/2009-R01-TX4410", "TX4410", "01/05/2009", 20090105, "R01"},
      {"Year69", "X02/03/69-V-M", "M", "02/03/69", 1690203, "V"},
      {"NegativeYearKept", "X02/03/-1-V-M", "M", "02/03/-1", 0u - 10000u + 203u, "1-V"},
      // A NUL on a digit position zeroes all six; one on a separator stays.
      {"NulInDay", std::string("X12/3\0/09-A-M", 13), "M", "00/00/00", 1000000, ""},
      {"NulOnSeparator", std::string("X12\0" "31/09-A-M", 13), "M", "12", 1091231, ""},
      // The date is read to position 10 however short the window is.
      {"WindowEndsInsideTheDate", "X12/3", "M", "00/00", 1000000, ""},
      // The version text.
      {"RunOfDashes", "X12/31/09---A1B2-TX4410", "TX4410", "12/31/09", 1091231, "A1B2"},
      {"DashInsideTheDate", "X12-31/09/A1B2 TX4410", "TX4410", "12-31/09/A", 1091231, "31/09/A1B2"},
      {"DashAtPosition0", "-12/31/09 A1B2 TX4410", "TX4410", "12/31/09 A", 1091231, "12/31/09 A1B2"},
      {"VersionCutAt59", "X12/31/09-" + k70 + "-M", "M", "12/31/09", 1091231, k70.substr(0, 59)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    char version[kVersionTextSize], date[30];
    std::memset(version, 'v', sizeof version - 1), std::memset(date, 'd', sizeof date - 1);
    version[sizeof version - 1] = date[sizeof date - 1] = '\0';
    uint32_t code = 0xDEADBEEF;
    DecodeDateVersionString(ByteView(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()), version,
                            c.model, date, &code);
    EXPECT_EQ(date, c.date);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(version, c.version);
  }
}

}  // namespace
}  // namespace orr
