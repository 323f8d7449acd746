// orrivane image and orrivane check, run as a program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "image_builder.h"
#include "image_recipe.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::ordered_json;
using testing::HasSubstr;
using testing::IsEmpty;

std::string WriteImage(const std::string& name, const std::vector<uint8_t>& bytes) {
  return WriteTempFile(name, std::string(bytes.begin(), bytes.end()));
}

// The sample image the demo pairs with the demo machine: RV5420 of 11/02/09.
const std::string& SampleImage() {
  static const std::string path = WriteImage(
      "sample.bin", tb::ImageFromRecipeFile(std::string(ORRIVANE_SOURCE_DIR) + "/samples/demo-image.json").bytes);
  return path;
}

// An image identified by its AMI record alone.
std::string AmiImage(const std::string& model, const std::string& date) {
  return WriteImage("ami_" + model + ".bin",
                    tb::ImageBuilder(0x20000).AmiRecord(0x100, 2, {model, model + " AMI", date, "A1"}).Build());
}

// An NT machine of BiosType 2 whose F segment names the model and the date.
std::string MachineProfile(const std::string& model, const std::string& date) {
  return WriteTempFile("machine_" + model + ".json", R"({ "platform": "nt", "driver": { "biosType": 2 }, "memory": [
      { "address": "0xFE0C1", "text": ")" + model + R"( MACHINE" },
      { "address": "0xFEC70", "text": "x)" + date + "-1.00-" + model + R"(-00" },
      { "address": "0xFECE0", "text": "<)" + model + R"(>" } ] })");
}

std::vector<std::string> Keys(const json& object) {
  std::vector<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
  return keys;
}

std::vector<json> JsonLines(const std::string& out) {
  std::vector<json> lines;
  for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(json::parse(out.substr(at, end - at)));
  return lines;
}

const std::vector<std::string> kImageKeys = {"file",    "result", "resultText", "model",       "idString",
                                             "version", "date",   "dateCode",   "amiTagFound", "buildVersion"};

TEST(ImageTool, UsageErrorsExitWith2) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"image"}, {"image", "--json"}, {"image", "--unknown", "x.bin"}, {"check"}, {"check", "a.bin", "b.bin"},
           {"check", "--profile"}}) {
    ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_THAT(run.out, IsEmpty()) << args.back();
  }
}

TEST(ImageTool, ProfileErrorsExitWith2AndNameTheFile) {
  const std::string bad = WriteTempFile("image_bad_profile.json", R"({ "driver": { "biosType": "two" } })");
  for (const char* command : {"image", "check"}) {
    ToolRun run = RunTool({command, "--profile", bad, SampleImage()});
    EXPECT_EQ(run.status, 2) << command;
    EXPECT_THAT(run.err, HasSubstr("image_bad_profile.json")) << command;
    EXPECT_THAT(run.out, IsEmpty()) << command;
  }
}

TEST(ImageTool, UndetectedMachineAnalysesNothing) {
  const std::string none = WriteTempFile("image_no_bios.json", R"({ "platform": "nt" })");
  ToolRun run = RunTool({"image", "--profile", none, SampleImage()});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.out, IsEmpty());
  EXPECT_THAT(run.err, HasSubstr("not detected"));
}

TEST(ImageTool, UnreadableFileIsAResultAndTheExitStatusIs1) {
  const std::string missing = testing::TempDir() + "no_such_image.bin";
  ToolRun run = RunTool({"image", "--json", SampleImage(), missing});
  EXPECT_EQ(run.status, 1);
  std::vector<json> lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(lines[1]["file"], missing);
  EXPECT_EQ(lines[1]["result"], 211);
  EXPECT_EQ(lines[1]["resultText"], "the file cannot be read");
}

TEST(ImageTool, ServiceThatGivesNoOutcomeIsAFailure) {
  const std::string silent = WriteTempFile("image_silent_service.json", R"({ "platform": "nt",
      "driver": { "biosType": 2 }, "service": { "statusFailsSilently": true } })");
  ToolRun run = RunTool({"image", "--json", "--profile", silent, SampleImage()});
  EXPECT_EQ(run.status, 1);
  std::vector<json> lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 1u) << run.out;
  EXPECT_EQ(lines[0]["result"], 307);
  EXPECT_EQ(lines[0]["resultText"], "the service library gave no outcome of the expansion");
  EXPECT_EQ(lines[0]["idString"], "N/A");
}

TEST(ImageTool, JsonCarriesExactlyTheImagesAnswers) {
  ToolRun run = RunTool({"image", "--json", SampleImage(), AmiImage("AB12", "03/15/2009")});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<json> lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(Keys(lines[0]), kImageKeys);
  EXPECT_EQ(lines[0], json({{"file", SampleImage()},
                            {"result", 0},
                            {"resultText", "image identified"},
                            {"model", "RV5420"},
                            {"idString", "RV5420 Mainboard BIOS Release 1.30"},
                            {"version", "1.30"},
                            {"date", "11/02/09"},
                            {"dateCode", 1091102},
                            {"amiTagFound", 0},
                            {"buildVersion", 0}}));
  EXPECT_EQ(lines[1]["model"], "AB12");
  EXPECT_EQ(lines[1]["amiTagFound"], 1);
  EXPECT_EQ(lines[1]["dateCode"], 20090315);
}

TEST(ImageTool, TextNamesEachAnswer) {
  ToolRun run = RunTool({"image", SampleImage()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, SampleImage() +
                         ": 0 (image identified)\n"
                         "  model:           RV5420\n"
                         "  identification:  RV5420 Mainboard BIOS Release 1.30\n"
                         "  version:         1.30\n"
                         "  date:            11/02/09\n"
                         "  date code:       1091102\n"
                         "  identity record: not found\n"
                         "  build version:   0\n");
}

// orrivane check

struct CheckCase {
  const char* name;
  std::string machineModel, machineDate;  // empty: the demo machine (RV5420, 05/14/08)
  std::string imageModel, imageDate;      // empty: the sample image (RV5420, 11/02/09)
  const char* verdict;
  int status;
};

class CheckTool : public testing::TestWithParam<CheckCase> {};

TEST_P(CheckTool, Verdict) {
  const CheckCase& c = GetParam();
  std::vector<std::string> args = {"check", "--json"};
  if (!c.machineModel.empty()) args.insert(args.end(), {"--profile", MachineProfile(c.machineModel, c.machineDate)});
  args.push_back(c.imageModel.empty() ? SampleImage() : AmiImage(c.imageModel, c.imageDate));
  ToolRun run = RunTool(args);
  EXPECT_EQ(run.status, c.status) << run.err;
  json out = json::parse(run.out);
  EXPECT_EQ(Keys(out), (std::vector<std::string>{"verdict", "machine", "image"}));
  EXPECT_EQ(out["verdict"], c.verdict);
  EXPECT_EQ(Keys(out["image"]), kImageKeys);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckTool,
    testing::Values(
        CheckCase{"OtherBoard", "", "", "RV5421", "03/15/2009", "other board", 3},
        CheckCase{"OlderImage", "RV5420", "12/31/09", "", "", "older", 1},
        CheckCase{"SameDate", "RV5420", "11/02/09", "", "", "same", 1},
        // 20090105 is the larger number but the earlier date.
        CheckCase{"CalendarDatesNotNumbers", "RV5420", "12/31/09", "RV5420", "01/05/2009", "older", 1},
        CheckCase{"SameDayInBothForms", "RV5420", "03/15/09", "RV5420", "03/15/2009", "same", 1},
        // A record date that goes on behind mm/dd/yyyy still dates the image.
        CheckCase{"RecordDateWithTextBehind", "RV5420", "01/01/09", "RV5420", "03/15/2009 rev B", "newer", 0},
        CheckCase{"ModelIgnoresLetterCase", "", "", "rv5420", "03/15/2009", "newer", 0},
        CheckCase{"DemoPairIsNewer", "", "", "", "", "newer", 0}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

TEST(CheckToolAlone, AlternativeModelSuitsToo) {
  // BiosType 4: the record names TX4410, a top-window marker adds the alternative TX4410B.
  const std::string profile = WriteTempFile("machine_tx4410.json", R"({
    "platform": "nt", "service": { "flashSize": 1048576 }, "driver": { "biosType": 4 },
    "memory": [ { "address": "0xFFF08000",
                  "text": "$ZANTAMI$\u0002TX4410\u0000TX4410 BIOS\u000011/20/2009\u00003.02" },
                { "address": "0xFFFFFF20", "text": "TX4410B ROM" } ] })");
  ToolRun run = RunTool({"check", "--profile", profile, "--json", AmiImage("tx4410b", "12/01/2009")});
  EXPECT_EQ(run.status, 0) << run.err;
  json out = json::parse(run.out);
  EXPECT_EQ(out["verdict"], "newer");
  EXPECT_EQ(out["machine"]["model"], "TX4410");
  EXPECT_EQ(out["machine"]["altModel"], "TX4410B");
}

TEST(CheckToolAlone, TwoDigitRecordYearsCompareAsDates) {
  // BiosType 4 whose record dates itself 11/20/09, against images whose records use either form.
  const std::string profile = WriteTempFile("machine_short_date.json", R"({
    "platform": "nt", "service": { "flashSize": 1048576 }, "driver": { "biosType": 4 },
    "memory": [ { "address": "0xFFF08000", "text": "$ZANTAMI$\u0002TX4410\u0000TX4410 BIOS\u000011/20/09\u00003.02" } ] })");
  const struct {
    const char* date;
    const char* verdict;
  } cases[] = {{"01/05/05", "older"}, {"11/20/2009", "same"}, {"12/01/09", "newer"}};
  for (const auto& c : cases) {
    ToolRun run = RunTool({"check", "--profile", profile, "--json", AmiImage("TX4410", c.date)});
    json out = json::parse(run.out);
    EXPECT_EQ(out["machine"]["dateCode"], 1091120) << c.date;
    EXPECT_EQ(out["verdict"], c.verdict) << c.date;
  }
}

TEST(CheckToolAlone, ImageThatNamesNoModelSuitsNoBoard) {
  const std::string none = WriteTempFile("machine_nomodel.json", R"({ "platform": "nt", "driver": { "biosType": 3 } })");
  ToolRun run = RunTool({"check", "--profile", none, AmiImage("", "03/15/2009")});
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_THAT(run.out, HasSubstr("verdict: other board\n"));
}

TEST(CheckToolAlone, FailedAnalysisExits4) {
  const std::string missing = testing::TempDir() + "no_such_image.bin";
  ToolRun run = RunTool({"check", "--json", missing});
  EXPECT_EQ(run.status, 4);
  json out = json::parse(run.out);
  EXPECT_TRUE(out["verdict"].is_null());
  EXPECT_EQ(out["image"]["result"], 211);
  EXPECT_EQ(out["machine"]["model"], "RV5420");
}

TEST(CheckToolAlone, UndetectedMachineExits5) {
  const std::string none = WriteTempFile("check_no_bios.json", R"({ "platform": "nt" })");
  ToolRun run = RunTool({"check", "--profile", none, SampleImage()});
  EXPECT_EQ(run.status, 5);
  EXPECT_THAT(run.out, HasSubstr("machine: not detected"));
}

TEST(CheckToolAlone, TextShowsBothIdentitiesAndTheVerdict) {
  ToolRun run = RunTool({"check", SampleImage()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "machine: RV5420, RV5420 Mainboard BIOS Release 1.20, version 1.20, date 05/14/08 (2008-05-14)\n"
            "image:   RV5420, RV5420 Mainboard BIOS Release 1.30, version 1.30, date 11/02/09 (2009-11-02)\n"
            "verdict: newer\n");
}

}  // namespace
