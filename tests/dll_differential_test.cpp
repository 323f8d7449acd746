// ORRIVANE.DLL under the emulator held to the host build: each case runs through the linked library and through the
// DLL (a fresh load); the answers and the testbed's records (requests with their bytes, message boxes, debugger lines,
// ports, token and device calls, broken Windows contracts, what is outstanding) must match, with nothing left over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "firmware_input.h"
#include "harness.h"
#include "image_recipe.h"
#include "image_support.h"
#include "orrivane_api.h"
#include "profile.h"
#include "security.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using dllrun::OrrivaneApi;

const std::string kSource = ORRIVANE_SOURCE_DIR;
const std::string kDll = std::getenv("ORRIVANE_DLL") ? std::getenv("ORRIVANE_DLL") : ORRIVANE_DLL_PATH;

// Bytes as text JSON can hold: printable ASCII kept, the rest as \xNN.
std::string Shown(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, static_cast<char>(c)) : hex;
  }
  return out;
}
std::string Shown(const char* text) { return text ? Shown(std::string(text)) : "(null)"; }

json Records() {
  auto requests = [](const std::vector<tb::Request>& list) {
    json out = json::array();
    for (const tb::Request& q : list) out.push_back({{"code", q.code}, {"input", Shown(std::string(q.input.begin(), q.input.end()))}});
    return out;
  };
  json messages = json::array(), ports = json::array();
  for (const tb::MessageBox& m : tb::MessageBoxes())
    messages.push_back({{"text", Shown(m.text)}, {"title", Shown(m.title)}, {"style", m.style},
                        {"owner", reinterpret_cast<uintptr_t>(m.owner)}});
  for (const tb::PortAccess& p : tb::PortAccesses()) ports.push_back({p.write, p.port, p.value});
  return {{"service", requests(tb::ServiceRequests())}, {"driver", requests(tb::DriverRequests())},
          {"messages", messages}, {"debug", tb::DebugLines()}, {"ports", ports}, {"security", tb::SecurityCalls()},
          {"violations", tb::ContractViolations()},
          {"outstanding", {{"windows", tb::OutstandingMappedWindows()}, {"blocks", tb::OutstandingGlobalBlocks()},
                           {"locked", tb::LockedGlobalBlocks()}, {"tokens", tb::OutstandingTokenHandles()},
                           {"sids", tb::OutstandingSids()}, {"deviceSets", tb::OutstandingDeviceSets()}}}};
}

const char* SampleImage() {
  static const image_test::TempFile file("sample.bin",
                                         tb::ImageFromRecipeFile(kSource + "/samples/demo-image.json").bytes);
  return file.path();
}

json RomInfo(const OrrivaneApi& lib, uint32_t useAlt) {
  char model[60] = {}, id[100] = {}, version[60] = {}, date[30] = {}, description[32] = {};
  uint32_t dateCode = 0xA5A5A5A5, extended = 0xA5A5A5A5;
  const uint32_t result = lib.Orrivane_GetBIOSROMInfo(model, id, version, date, &dateCode, &extended, useAlt, description);
  return {{"result", result},    {"model", Shown(model)}, {"id", Shown(id)},      {"version", Shown(version)},
          {"date", Shown(date)}, {"dateCode", dateCode},  {"extended", extended}, {"description", Shown(description)}};
}

json AnalyseFile(const OrrivaneApi& lib, const std::string& file) {
  char model[60] = {}, id[100] = {}, version[60] = {}, date[32] = {};
  uint32_t dateCode = 0xA5A5A5A5, found = 0xA5A5A5A5;
  const uint32_t result = lib.Orrivane_GetBIOSFileInfo(file.c_str(), model, id, version, date, &dateCode, &found);
  return {{"result", result}, {"model", Shown(model)}, {"id", Shown(id)},         {"version", Shown(version)},
          {"date", Shown(date)}, {"dateCode", dateCode}, {"found", found},        {"build", lib.Orrivane_GetROMbuildVersion()},
          {"size", lib.Orrivane_GetBIOSFileSize(file.c_str())}};
}

// What one caller does with a library, written once for both builds.
using Session = std::function<json(const OrrivaneApi&)>;

// A guarded and two unguarded queries before Orrivane_Initialize, then every query of the machine's record and the
// sample file's size (on 9x); with the environment checks and the sample image's analysis when asked.
Session Queries(bool env = false, bool image = false) {
  return [=](const OrrivaneApi& lib) {
    char model[60] = {}, id[100] = {};
    json a = {{"guarded", {RomInfo(lib, 0), lib.Orrivane_CheckLogo(), lib.Orrivane_GetDMIBIOSSize()}},
              {"initialize", lib.Orrivane_Initialize()},
              {"romInfo", RomInfo(lib, 0)}, {"romInfoAlt", RomInfo(lib, 1)},
              {"installerRomInfo", {lib.InstallShield_GetBIOSROMInfo(model, id), Shown(model), Shown(id)}},
              {"romId", Shown(lib.Orrivane_GetROMID())},
              {"biosTag", {lib.Orrivane_CheckBIOSTag(), lib.InstallShield_CheckBIOSTag()}}, {"biosType", lib.Orrivane_GetBIOSType()},
              {"logo", {lib.Orrivane_CheckLogo(), lib.InstallShield_CheckLogo()}},
              {"plugins", {lib.Orrivane_CheckPlugins(), lib.InstallShield_CheckPlugins()}},
              {"onboard", {lib.Orrivane_CheckOnboardLan(), lib.Orrivane_CheckOnboardDev()}},
              {"flashSize", lib.Orrivane_GetFlashSize()}, {"dmiBiosSize", lib.Orrivane_GetDMIBIOSSize()},
              {"fileSize", lib.Orrivane_GetBIOSFileSize(SampleImage())},
              {"buildVersion", lib.Orrivane_GetROMbuildVersion()}, {"uninitialize", lib.Orrivane_Uninitialize()}};
    if (env) {
      a["env"]["administrator"] = lib.Orrivane_IsAdministrator();
      for (const char* text : {"PNP0C14", "", "pnp0c14", "ACPI\\", "*PNP0A0", "NOSUCHDEVICE"})
        a["env"]["acpi"].push_back(lib.InstallShield_CheckACPI(text));
    }
    if (image) a["image"] = AnalyseFile(lib, SampleImage());
    return a;
  };
}

// The image analysis as the fuzz target runs it: a detected machine whose detection is forgotten, then the files;
// `inject` sets up a fault first.
Session ImageQueries(std::vector<std::string> files, std::function<void()> inject = nullptr) {
  return [files, inject](const OrrivaneApi& lib) {
    json a;
    a["initialize"] = lib.Orrivane_Initialize();
    tb::ClearRecords();
    if (inject) inject();
    for (const std::string& f : files) a["files"].push_back(AnalyseFile(lib, f));
    return a;
  };
}

// The session on the host build, then on the DLL from a fresh load (its records start as zero, as the host's do).
void ExpectSame(const tb::Machine& machine, const Session& session, const dllrun::LoadOptions& options = {}) {
  tb::StartLibraryOn(machine);
  const json host = {{"answers", session(dllrun::LinkedLibrary())}, {"records", Records()}};
  dllrun::DllRunner runner;
  std::string error;
  ASSERT_TRUE(runner.Load(kDll, error, options)) << error;
  EXPECT_TRUE(!options.relocate || runner.Base() != runner.Image().ImageBase()) << "not relocated";
  dllrun::BindDll(&runner);
  tb::Reset(machine);
  json dll;
  try {
    dll["answers"] = session(dllrun::DllLibrary());
    dll["records"] = Records();
    runner.Unload();
  } catch (const dllrun::Fault& f) {
    ADD_FAILURE() << "the DLL failed: " << f.what();
  }
  dllrun::BindDll(nullptr);
  if (dll.is_null()) return;
  EXPECT_TRUE(host == dll) << "the DLL's answers or records differ from the host build's (JSON patch from host to DLL):\n"
                           << json::diff(host, dll).dump(1);
  for (const auto& [what, count] : dll["records"]["outstanding"].items()) EXPECT_EQ(count, 0) << what << " left outstanding";
  EXPECT_EQ(dll["records"]["violations"], json::array()) << "Windows contracts broken";
}

// The image analysis target's machine and its fault injection: one input in eight is analysed once more with a memory
// fault.
void ExpectSameImage(const std::string& file, const std::vector<uint8_t>& data) {
  static const tb::Machine machine = tb::MachineBuilder().Nt().BiosType(2).FlashSize(0x80000).Build();
  ExpectSame(machine, ImageQueries({file}));
  const uint32_t hash = fz::Hash(data.data(), data.size());
  if (hash % 8 != 0) return;
  const int nth = static_cast<int>(1 + (hash >> 4) % ((hash >> 3) & 1 ? 3 : 6));
  const bool alloc = (hash >> 3) & 1;
  ExpectSame(machine, ImageQueries({file}, [=] { alloc ? tb::FailGlobalAllocAt(nth) : tb::FailGlobalLockAt(nth); }));
}

tb::Machine Profile(const std::string& path) {
  tb::Machine m;
  std::string error;
  EXPECT_TRUE(tb::LoadProfile(path, m, error)) << error;
  return m;
}
const std::string kDemoMachine = kSource + "/profiles/demo-machine.json";

// A case: a file and what turns it into runs; for a variant of a profile, the edit and where the DLL loads.
struct Case {
  std::string name, path;  // name: for the test's name
  void (*run)(const Case& c, const std::vector<uint8_t>& data);
  void (*edit)(tb::Machine& m) = nullptr;
  bool relocate = false;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.path; }

// A profile: every query and the environment checks; a variant analyses the sample image too.
void ProfileRun(const Case& c, const std::vector<uint8_t>&) {
  tb::Machine m = Profile(c.path);
  if (c.edit) c.edit(m);
  ExpectSame(m, Queries(true, c.edit != nullptr), {c.relocate, nullptr});
}

void MachineDetectionRun(const Case&, const std::vector<uint8_t>& data) {
  if (data.size() > 0x30000) GTEST_SKIP() << "larger than the fuzz target takes";
  ExpectSame(fz::MachineOf(fz::DecodeFirmware(data.data(), data.size())), Queries());
}

void ImageRun(const Case& c, const std::vector<uint8_t>& data) { ExpectSameImage(c.path, data); }

// The date and version decoder's input becomes a machine whose F segment holds the text where the decoder reads it
// (cut at the model tag) and the model in its tag; the model's bytes follow the first, whose place takes the '<'.
void DateVersionRun(const Case&, const std::vector<uint8_t>& data) {
  if (data.empty()) GTEST_SKIP() << "empty";
  const auto modelEnd = data.begin() + 1 + static_cast<long>(std::min<size_t>(data[0] % 60, data.size() - 1));
  std::vector<uint8_t> tag(data.begin(), modelEnd), text(modelEnd, data.end());
  tag[0] = '<';
  tag.insert(tag.end(), {'>', 0});
  text.resize(std::min<size_t>(text.size(), tb::kFSegModelTag - tb::kFSegDateVersion));
  ExpectSame(tb::MachineBuilder().Nt().BiosType(2).FSegmentText(tb::kFSegIdString, "DATE AND VERSION BOARD")
                 .FSegmentBytes(tb::kFSegDateVersion, text).FSegmentBytes(tb::kFSegModelTag, tag).Build(),
             Queries());
}

// A member block becomes the first member of an image that the Award banner and its BBSS record mark, so the analysis
// hands it to the expansion.
void MemberRun(const Case&, const std::vector<uint8_t>& member) {
  if (member.size() > 0x40000) GTEST_SKIP() << "larger than the fuzz target takes";
  const uint32_t size = member.size() + 2 <= 0xC000 ? 0x10000 : ((member.size() + 2 + 0xFFFF) & ~0xFFFFu) + 0x10000;
  tb::ImageBuilder image(size);
  image.Member(0, member).AwardBanner(size - 0x4000).Bbss(size - 0x4000 + 0x40, 0xE000, 0x2000);
  ExpectSameImage(image_test::TempFile("member.bin", image.Build()).path(), member);
}

using Run = decltype(Case::run);

void Collect(std::vector<Case>& out, const std::string& from, const std::string& dir, Run run) {
  std::error_code error;
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(dir, error))
    if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    std::string name = from + "_" + f.filename().string();
    std::replace_if(name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    // A profile the loader refuses makes no machine (the tool tests pin each refusal).
    tb::Machine machine;
    std::string why;
    if (run != ProfileRun || (f.extension() == ".json" && f.string().find(".case.json") == std::string::npos &&
                                tb::LoadProfile(f.string(), machine, why)))
      out.push_back({name, f.string(), run});
  }
}

// Every profile the tool tests load, and the demo machine's; the demo machine as Windows and the service library may
// also behave: the family it reports (a compatibility mode) and a failing version call, which send the library to
// ntdll.dll; rounded global-memory blocks; the image requests' failures and leftovers; and the DLL loaded away from
// its preferred base, its relocations applied; every saved input of each fuzz target (fuzz/regressions/,
// fuzz/corpus/, the build's seeds).
std::vector<Case> Cases() {
  std::vector<Case> out{
      {"demo_machine", kDemoMachine, ProfileRun},
      {"NtReporting9x", kDemoMachine, ProfileRun, [](tb::Machine& m) { m.reportedPlatform = tb::Platform::Win9x; }},
      {"NtVersionCallFails", kDemoMachine, ProfileRun, [](tb::Machine& m) { m.versionCallFails = true; }},
      {"Win9xReporting9x", kDemoMachine, ProfileRun,
       [](tb::Machine& m) { m.reportedPlatform = m.platform = tb::Platform::Win9x; }},
      {"Win9xReportingNt", kDemoMachine, ProfileRun,
       [](tb::Machine& m) { m.platform = tb::Platform::Win9x, m.reportedPlatform = tb::Platform::Nt; }},
      {"GlobalSizeGranularity", kDemoMachine, ProfileRun, [](tb::Machine& m) { m.globalSizeGranularity = 4096; }},
      {"StatusFailsSilently", kDemoMachine, ProfileRun, [](tb::Machine& m) { m.statusFailsSilently = true; }},
      {"ScribbleBlock", kDemoMachine, ProfileRun, [](tb::Machine& m) { m.scribbleImageBlock = true; }},
      {"ImageServiceError", kDemoMachine, ProfileRun, [](tb::Machine& m) { m.imageServiceError = 0x12D; }},
      {"RefuseExpand", kDemoMachine, ProfileRun, [](tb::Machine& m) { m.refuseExpand = true; }},
      {"Relocated", kDemoMachine, ProfileRun, [](tb::Machine&) {}, true}};
  Collect(out, "machine_tool", kSource + "/tests/data/machine-tool", ProfileRun);
  Collect(out, "profiles", kSource + "/tests/data/profiles", ProfileRun);
  const std::pair<std::string, Run> targets[] = {{"machine_detection", MachineDetectionRun},
                                                 {"date_version", DateVersionRun},
                                                 {"image_analysis", ImageRun},
                                                 {"member_expansion", MemberRun}};
  for (const auto& [target, run] : targets) {
    for (const std::string from : {"regressions", "corpus"})
      Collect(out, target + "_" + from, kSource + "/fuzz/" + from + "/" + target, run);
    Collect(out, target + "_seeds", std::string(ORRIVANE_FUZZ_SEEDS) + "/" + target, run);
  }
  return out;
}

class DllAgainstHost : public testing::TestWithParam<Case> {};

TEST_P(DllAgainstHost, SameAnswersAndRecords) {
  std::ifstream in(GetParam().path, std::ios::binary);
  GetParam().run(GetParam(), std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

INSTANTIATE_TEST_SUITE_P(Cases, DllAgainstHost, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& row) { return row.param.name; });

// The demo pair, files that cannot be analysed, and every memory fault the analysis of the sample image can meet.
TEST(DllSampleImage, SameAnswersAndRecordsWithEveryFault) {
  const image_test::TempFile empty("empty.bin");
  const std::string missing = testing::TempDir() + "orrivane_dll_missing.bin";
  ExpectSame(Profile(kDemoMachine), ImageQueries({SampleImage(), missing, empty.path(), testing::TempDir()}));
  for (int nth = 1; nth <= 3; ++nth)
    ExpectSame(Profile(kDemoMachine), ImageQueries({SampleImage()}, [=] { tb::FailGlobalAllocAt(nth); }));
  for (int nth = 1; nth <= 6; ++nth)
    ExpectSame(Profile(kDemoMachine), ImageQueries({SampleImage()}, [=] { tb::FailGlobalLockAt(nth); }));
}

}  // namespace
