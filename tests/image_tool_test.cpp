// orrivane image and orrivane check, run as a program.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "image_builder.h"
#include "image_recipe.h"
#include "tool_runner.h"

namespace {

using json = nlohmann::ordered_json;

// The sample image the demo pairs with the demo machine: RV5420 of 11/02/09.
std::string SampleImage() {
  static const std::vector<uint8_t> bytes =
      tb::ImageFromRecipeFile(std::string(ORRIVANE_SOURCE_DIR) + "/samples/demo-image.json").bytes;
  static const std::string path = WriteTempFile("sample.bin", std::string(bytes.begin(), bytes.end()));
  return path;
}

// An image identified by its AMI record alone, in a file of its own.
std::string AmiImage(const std::string& model, const std::string& date) {
  static int count = 0;
  const std::vector<uint8_t> bytes =
      tb::ImageBuilder(0x20000).AmiRecord(0x100, 2, {model, model + " AMI", date, "A1"}).Build();
  return WriteTempFile("ami_" + std::to_string(++count) + ".bin", std::string(bytes.begin(), bytes.end()));
}

// An NT machine of BiosType 2 whose F segment names the model and the date.
std::string MachineProfile(const std::string& model, const std::string& date) {
  static int count = 0;
  return WriteTempFile("machine_" + std::to_string(++count) + ".json", R"({ "platform": "nt",
      "driver": { "biosType": 2 }, "memory": [ { "address": "0xFE0C1", "text": ")" + model + R"( MACHINE" },
      { "address": "0xFEC70", "text": "x)" + date + "-1.00-" + model + R"(-00" },
      { "address": "0xFECE0", "text": "<)" + model + R"(>" } ] })");
}

std::string Profile(const std::string& name, const std::string& text) { return WriteTempFile(name + ".json", text); }

std::vector<json> JsonLines(const std::string& out) {
  std::vector<json> lines;
  for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(json::parse(out.substr(at, end - at)));
  return lines;
}

const std::string kMissing = testing::TempDir() + "no_such_image.bin";
const std::vector<std::string> kImageKeys = {"file",    "result", "resultText", "model",       "idString",
                                             "version", "date",   "dateCode",   "amiTagFound", "buildVersion"};

TEST(ImageTool, RefusesBadArgumentsAndProfiles) {
  const std::string bad = Profile("image_bad_profile", R"({ "driver": { "biosType": "two" } })");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"image", "--json"}, "files is required"},
      {{"image", "--unknown", "x.bin"}, "--unknown"},
      {{"check"}, "image is required"},
      {{"check", "a.bin", "b.bin"}, "b.bin"},
      {{"check", "--profile"}, "--profile"},
      {{"image", "--profile", bad, SampleImage()}, "orrivane image: " + bad + ": driver.biosType"},
      {{"check", "--profile", bad, SampleImage()}, "orrivane check: " + bad + ": driver.biosType"}};
  for (const auto& [args, reason] : cases) ExpectRefused(args, reason);
}

// One JSON line per file with exactly the image's answers; a file that
// cannot be read is a result, and any failed file makes the exit status 1, as
// does a service that gives no outcome; without a detected machine nothing
// is analysed.
TEST(ImageTool, JsonCarriesExactlyTheImagesAnswers) {
  ToolRun run = RunTool({"image", "--json", SampleImage(), AmiImage("AB12", "03/15/2009"), kMissing});
  EXPECT_EQ(run.status, 1) << run.err;
  std::vector<json> lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(Keys(lines[0]), kImageKeys);
  EXPECT_EQ(lines[0], json::parse(R"({"file": ")" + SampleImage() + R"(", "result": 0, "resultText": "image identified",
      "model": "RV5420", "idString": "RV5420 Mainboard BIOS Release 1.30", "version": "1.30", "date": "11/02/09",
      "dateCode": 1091102, "amiTagFound": 0, "buildVersion": 0})"));
  EXPECT_EQ(std::make_tuple(lines[1]["model"], lines[1]["amiTagFound"], lines[1]["dateCode"]),
            std::make_tuple(json("AB12"), json(1), json(20090315)));
  EXPECT_EQ(std::make_tuple(lines[2]["file"], lines[2]["result"], lines[2]["resultText"]),
            std::make_tuple(json(kMissing), json(211), json("the file cannot be read")));
  run = RunTool({"image", "--json", "--profile", Profile("image_silent_service", R"({ "platform": "nt",
      "driver": { "biosType": 2 }, "service": { "statusFailsSilently": true } })"), SampleImage()});
  EXPECT_EQ(run.status, 1);
  lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 1u) << run.out;
  EXPECT_EQ(std::make_tuple(lines[0]["result"], lines[0]["resultText"], lines[0]["idString"]),
            std::make_tuple(json(307), json("the service library gave no outcome of the expansion"), json("N/A")));
  run = RunTool({"image", "--json", "--profile", Profile("image_no_bios", R"({ "platform": "nt" })"), SampleImage()});
  EXPECT_EQ(std::make_tuple(run.status, run.out), std::make_tuple(1, std::string()));
  EXPECT_NE(run.err.find("not detected"), std::string::npos) << run.err;
}

// The text of both commands: every answer under its label.
TEST(ImageTool, TextOfImageAndCheckLabelsEveryAnswer) {
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
  run = RunTool({"check", SampleImage()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "machine: RV5420, RV5420 Mainboard BIOS Release 1.20, version 1.20, date 05/14/08 (2008-05-14)\n"
            "image:   RV5420, RV5420 Mainboard BIOS Release 1.30, version 1.30, date 11/02/09 (2009-11-02)\n"
            "verdict: newer\n");
}

// orrivane check: the verdict and exit status of each pair; the machine is
// reported whatever the image gives.
TEST(CheckTool, VerdictAndExitStatus) {
  // BiosType 4: the record names TX4410, a top-window marker adds the alternative TX4410B.
  const std::string alternative = Profile("machine_tx4410", R"({
    "platform": "nt", "service": { "flashSize": 1048576 }, "driver": { "biosType": 4 },
    "memory": [ { "address": "0xFFF08000",
                  "text": "$ZANTAMI$\u0002TX4410\u0000TX4410 BIOS\u000011/20/2009\u00003.02" },
                { "address": "0xFFFFFF20", "text": "TX4410B ROM" } ] })");
  // machine: the profile, empty for the demo machine (RV5420, 05/14/08); verdict: null for none (the
  // analysis failed or the machine was not detected); altModel: the machine's alternative model, which suits too.
  const struct {
    const char* name; std::string machine, image; const char* verdict; int status; const char* altModel = nullptr;
  } cases[] = {
      {"OtherBoard", "", AmiImage("RV5421", "03/15/2009"), "other board", 3},
      {"ImageThatNamesNoModelSuitsNoBoard", "", AmiImage("", "03/15/2009"), "other board", 3},
      // BiosType 3 with nothing to read: a machine without a model is not suited by an image without one.
      {"NoModelOnEitherSideSuitsNoBoard",
       Profile("machine_nomodel", R"({ "platform": "nt", "driver": { "biosType": 3 } })"), AmiImage("", "03/15/2009"),
       "other board", 3},
      {"OlderImage", MachineProfile("RV5420", "12/31/09"), SampleImage(), "older", 1},
      {"SameDate", MachineProfile("RV5420", "11/02/09"), SampleImage(), "same", 1},
      // 20090105 is the larger number but the earlier date.
      {"CalendarDatesNotNumbers", MachineProfile("RV5420", "12/31/09"), AmiImage("RV5420", "01/05/2009"), "older", 1},
      {"SameDayInBothForms", MachineProfile("RV5420", "03/15/09"), AmiImage("RV5420", "03/15/2009"), "same", 1},
      {"ModelIgnoresLetterCase", "", AmiImage("rv5420", "03/15/2009"), "newer", 0},
      {"DemoPairIsNewer", "", SampleImage(), "newer", 0},
      {"AlternativeModelSuitsToo", alternative, AmiImage("tx4410b", "12/01/2009"), "newer", 0, "TX4410B"},
      {"FailedAnalysisExits4", "", kMissing, nullptr, 4},
      {"UndetectedMachineExits5", Profile("check_no_bios", R"({ "platform": "nt" })"), SampleImage(), nullptr, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"check", "--json"};
    if (!c.machine.empty()) args.insert(args.end(), {"--profile", c.machine});
    args.push_back(c.image);
    ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    json out = json::parse(run.out);
    EXPECT_EQ(Keys(out), (std::vector<std::string>{"verdict", "machine", "image"}));
    EXPECT_EQ(out["verdict"], c.verdict ? json(c.verdict) : json());
    if (c.status == 5) continue;
    EXPECT_EQ(Keys(out["image"]), kImageKeys);
    EXPECT_EQ(out["machine"]["model"] == "", std::string(c.name) == "NoModelOnEitherSideSuitsNoBoard");
    if (c.altModel) EXPECT_EQ(out["machine"]["altModel"], c.altModel);
  }
}

}  // namespace
