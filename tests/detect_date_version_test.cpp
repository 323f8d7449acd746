#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/ami_record.h"
#include "firmware/date_version.h"

namespace orr {
namespace {

struct Decoded {
  std::string date, version;
  uint32_t code;
};

Decoded Decode(const std::string& text, const char* model) {
  // Fields start out full of an earlier call's bytes: every output must be rewritten.
  char version[kVersionTextSize], date[30];
  std::memset(version, 'v', sizeof version - 1);
  version[sizeof version - 1] = '\0';
  std::memset(date, 'd', sizeof date - 1);
  date[sizeof date - 1] = '\0';
  uint32_t code = 0xDEADBEEF;
  DecodeDateVersionString(ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()), version, model, date,
                          &code);
  return Decoded{date, version, code};
}

struct Case {
  const char* name;
  std::string text;
  const char* model;
  std::string date;
  uint32_t code;
  std::string version;
};

class DateVersion : public testing::TestWithParam<Case> {};

struct RecordDate {
  std::string text;
  uint32_t code;
};

class RecordDateCodes : public testing::TestWithParam<RecordDate> {};

// The one rule for a record's date text, on the machine and in images alike.
TEST_P(RecordDateCodes, FromTheRecordsDateText) {
  char field[32] = {};
  std::memcpy(field, GetParam().text.data(), GetParam().text.size());
  EXPECT_EQ(RecordDateCode(field, sizeof field), GetParam().code) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordDateCodes,
    testing::Values(RecordDate{"03/15/2009", 20090315}, RecordDate{"03-15-2009", 20090315},  // separators unread
                    // Whatever follows a leading mm/dd/yyyy.
                    RecordDate{"03/15/2009-Rev B 2nd release..", 20090315}, RecordDate{"04/01/2010 ", 20100401},
                    // mm/dd/yy: years from 1900, below 70 in the 2000s.
                    RecordDate{"11/20/09", 1091120}, RecordDate{"05/17/99", 990517}, RecordDate{"01/01/70", 700101},
                    // Eight characters but not that form: the positions as they stand.
                    RecordDate{"11/20/0x", 0}, RecordDate{"1/20/09 ", 9},
                    RecordDate{"N/A", 0}, RecordDate{"03/15/20O9", 20},
                    // An earlier, longer text behind the NUL does not count.
                    RecordDate{std::string("03/15\0/2009", 10), 0}));

TEST(RecordDateCodeField, TheFieldEndEndsTheText) {
  // Eight characters up to the field's end are the mm/dd/yy form.
  EXPECT_EQ(RecordDateCode("03/15/2009", 8), 1200315u);
  EXPECT_EQ(RecordDateCode("03/15/2009", 9), 200u);
}

TEST_P(DateVersion, Decodes) {
  const Case& c = GetParam();
  Decoded d = Decode(c.text, c.model);
  EXPECT_EQ(d.date, c.date);
  EXPECT_EQ(d.code, c.code);
  EXPECT_EQ(d.version, c.version);
}

const std::string k70 = std::string(70, 'V');

INSTANTIATE_TEST_SUITE_P(
    Cases, DateVersion,
    testing::Values(
        // Where the text defines no version text.
        Case{"NoDashAtAll", "X12/31/09 A1B2 TX4410", "TX4410", "12/31/09 A", 1091231, ""},
        Case{"EmptyModel", "X12/31/09-A1B2-TX4410", "", "12/31/09", 1091231, ""},
        Case{"ModelAbsent", "X05/17/99-A1B2-TX4410", "R6N", "05/17/99", 990517, ""},
        Case{"ModelOnlyAtPosition0", "M05/17/99-A1B2", "M", "05/17/99", 990517, ""},
        Case{"ModelRightAfterTheDashes", "X12/31/09--TX4410", "TX4410", "12/31/09", 1091231, ""},
        Case{"ModelOneCharacterIn", "X12/31/09--_TX4410", "TX4410", "12/31/09", 1091231, ""},
        // A model name that also appears in the date or at the version
        // text's start: the occurrence behind that start ends it.
        Case{"ModelAlsoInTheDate", "X12/31/09-A1B2-12-00", "12", "12/31/09", 1091231, "A1B2"},
        Case{"ModelAtTheVersionStart", "X12/31/09-AB-X-AB", "AB", "12/31/09", 1091231, "AB-X"},
        // Date forms and the century rule.
        Case{"EightCharacters", "X12/31/09-A1B2-TX4410-00", "TX4410", "12/31/09", 1091231, "A1B2"},
        Case{"TenCharacters", "X01/05/2009-R01-TX4410", "TX4410", "01/05/2009", 20090105, "R01"},
        Case{"Year69", "X02/03/69-V-M", "M", "02/03/69", 1690203, "V"},
        Case{"Year70", "X02/03/70-V-M", "M", "02/03/70", 700203, "V"},
        Case{"NegativeYearKept", "X02/03/-1-V-M", "M", "02/03/-1", 0u - 10000u + 203u, "1-V"},
        // A NUL on a digit position zeroes all six; one on a separator stays.
        Case{"NulInDay", std::string("X12/3\0/09-A-M", 13), "M", "00/00/00", 1000000, ""},
        Case{"NulOnSeparator", std::string("X12\0" "31/09-A-M", 13), "M", "12", 1091231, ""},
        // The date is read to position 10 however short the window is.
        Case{"WindowEndsInsideTheDate", "X12/3", "M", "00/00", 1000000, ""},
        // The version text.
        Case{"RunOfDashes", "X12/31/09---A1B2-TX4410", "TX4410", "12/31/09", 1091231, "A1B2"},
        Case{"DashInsideTheDate", "X12-31/09/A1B2 TX4410", "TX4410", "12-31/09/A", 1091231, "31/09/A1B2"},
        Case{"DashAtPosition0", "-12/31/09 A1B2 TX4410", "TX4410", "12/31/09 A", 1091231, "12/31/09 A1B2"},
        Case{"VersionCutAt59", "X12/31/09-" + k70 + "-M", "M", "12/31/09", 1091231, k70.substr(0, 59)}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
}  // namespace orr
