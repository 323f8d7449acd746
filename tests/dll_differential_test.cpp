// ORRIVANE.DLL under the emulator held to the host build: the demo machine,
// the sample image, every profile the tool tests load and every saved fuzz
// input (turned into a machine or an image as its fuzz target does) run
// through the linked library and through the DLL, each from a fresh load.
// The answers, the testbed's records (service and driver requests with their
// bytes, message boxes, debugger lines, port accesses, token and device
// calls, broken Windows contracts) and what is left outstanding must be
// identical, and nothing may be left outstanding or broken.
#include <gtest/gtest.h>
#include <unistd.h>

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
#include "image_builder.h"
#include "image_recipe.h"
#include "library_reset.h"
#include "machine_builder.h"
#include "orrivane_api.h"
#include "profile.h"
#include "security.h"
#include "testbed.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using dllrun::OrrivaneApi;

const std::string kSource = ORRIVANE_SOURCE_DIR;

std::string DllPath() {
  const char* path = std::getenv("ORRIVANE_DLL");
  return path ? path : ORRIVANE_DLL_PATH;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "orrivane_dll_" + std::to_string(getpid()) + "_" + name;
}

std::string WriteTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  return path;
}

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

std::string Shown(const std::vector<uint8_t>& bytes) { return Shown(std::string(bytes.begin(), bytes.end())); }

json Records() {
  json r;
  auto requests = [](const std::vector<tb::Request>& list) {
    json out = json::array();
    for (const tb::Request& q : list) out.push_back({{"code", q.code}, {"input", Shown(q.input)}});
    return out;
  };
  r["service"] = requests(tb::ServiceRequests());
  r["driver"] = requests(tb::DriverRequests());
  r["messages"] = json::array();
  for (const tb::MessageBox& m : tb::MessageBoxes())
    r["messages"].push_back({{"text", Shown(m.text)},
                             {"title", Shown(m.title)},
                             {"style", m.style},
                             {"owner", reinterpret_cast<uintptr_t>(m.owner)}});
  r["debug"] = tb::DebugLines();
  r["ports"] = json::array();
  for (const tb::PortAccess& p : tb::PortAccesses()) r["ports"].push_back({p.write, p.port, p.value});
  r["security"] = tb::SecurityCalls();
  r["violations"] = tb::ContractViolations();
  r["outstanding"] = {{"windows", tb::OutstandingMappedWindows()},
                      {"blocks", tb::OutstandingGlobalBlocks()},
                      {"locked", tb::LockedGlobalBlocks()},
                      {"tokens", tb::OutstandingTokenHandles()},
                      {"sids", tb::OutstandingSids()},
                      {"deviceSets", tb::OutstandingDeviceSets()}};
  return r;
}

// What one caller does with a library, written once for both builds.
using Session = std::function<json(const OrrivaneApi&)>;

json RomInfo(const OrrivaneApi& lib, uint32_t useAlt) {
  char model[60] = {}, id[100] = {}, version[60] = {}, date[30] = {}, description[32] = {};
  uint32_t dateCode = 0xA5A5A5A5, extended = 0xA5A5A5A5;
  const uint32_t result =
      lib.Orrivane_GetBIOSROMInfo(model, id, version, date, &dateCode, &extended, useAlt, description);
  return {{"result", result},    {"model", Shown(model)}, {"id", Shown(id)},      {"version", Shown(version)},
          {"date", Shown(date)}, {"dateCode", dateCode},  {"extended", extended}, {"description", Shown(description)}};
}

// A guarded and two unguarded queries before Orrivane_Initialize, then
// every query of the machine's record; the sample file's size on 9x.
json MachineQueries(const OrrivaneApi& lib, const std::string& someFile) {
  json a;
  a["guarded"] = {RomInfo(lib, 0), lib.Orrivane_CheckLogo(), lib.Orrivane_GetDMIBIOSSize()};
  a["initialize"] = lib.Orrivane_Initialize();
  a["romInfo"] = RomInfo(lib, 0);
  a["romInfoAlt"] = RomInfo(lib, 1);
  char model[60] = {}, id[100] = {};
  a["installerRomInfo"] = {lib.InstallShield_GetBIOSROMInfo(model, id), Shown(model), Shown(id)};
  const char* romId = lib.Orrivane_GetROMID();
  a["romId"] = romId ? Shown(romId) : "(null)";
  a["biosTag"] = {lib.Orrivane_CheckBIOSTag(), lib.InstallShield_CheckBIOSTag()};
  a["biosType"] = lib.Orrivane_GetBIOSType();
  a["logo"] = {lib.Orrivane_CheckLogo(), lib.InstallShield_CheckLogo()};
  a["plugins"] = {lib.Orrivane_CheckPlugins(), lib.InstallShield_CheckPlugins()};
  a["onboard"] = {lib.Orrivane_CheckOnboardLan(), lib.Orrivane_CheckOnboardDev()};
  a["flashSize"] = lib.Orrivane_GetFlashSize();
  a["dmiBiosSize"] = lib.Orrivane_GetDMIBIOSSize();
  a["fileSize"] = lib.Orrivane_GetBIOSFileSize(someFile.c_str());
  a["buildVersion"] = lib.Orrivane_GetROMbuildVersion();
  a["uninitialize"] = lib.Orrivane_Uninitialize();
  return a;
}

json EnvQueries(const OrrivaneApi& lib) {
  json a;
  a["administrator"] = lib.Orrivane_IsAdministrator();
  for (const char* text : {"PNP0C14", "", "pnp0c14", "ACPI\\", "*PNP0A0", "NOSUCHDEVICE"})
    a["acpi"].push_back(lib.InstallShield_CheckACPI(text));
  return a;
}

json AnalyseFile(const OrrivaneApi& lib, const std::string& file) {
  char model[60] = {}, id[100] = {}, version[60] = {}, date[32] = {};
  uint32_t dateCode = 0xA5A5A5A5, found = 0xA5A5A5A5;
  const uint32_t result = lib.Orrivane_GetBIOSFileInfo(file.c_str(), model, id, version, date, &dateCode, &found);
  return {{"result", result},
          {"model", Shown(model)},
          {"id", Shown(id)},
          {"version", Shown(version)},
          {"date", Shown(date)},
          {"dateCode", dateCode},
          {"found", found},
          {"build", lib.Orrivane_GetROMbuildVersion()},
          {"size", lib.Orrivane_GetBIOSFileSize(file.c_str())}};
}

// The image analysis as the fuzz target runs it: a detected machine whose
// detection is forgotten, then the files; `inject` sets up a fault first.
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

json RunOnHost(const tb::Machine& machine, const Session& session) {
  tb::StartLibraryOn(machine);
  json out;
  out["answers"] = session(dllrun::LinkedLibrary());
  out["records"] = Records();
  return out;
}

// A fresh load per run: the DLL's records start as zero, as the host's do.
json RunOnDll(const tb::Machine& machine, const Session& session, const dllrun::LoadOptions& options = {}) {
  dllrun::DllRunner runner;
  std::string error;
  if (!runner.Load(DllPath(), error, options)) {
    ADD_FAILURE() << error;
    return json();
  }
  dllrun::BindDll(&runner);
  tb::Reset(machine);
  json out;
  try {
    out["answers"] = session(dllrun::DllLibrary());
    out["records"] = Records();
    runner.Unload();
  } catch (const dllrun::Fault& f) {
    ADD_FAILURE() << "the DLL failed: " << f.what();
  }
  dllrun::BindDll(nullptr);
  return out;
}

void ExpectSame(const tb::Machine& machine, const Session& session, const dllrun::LoadOptions& options = {}) {
  const json host = RunOnHost(machine, session);
  const json dll = RunOnDll(machine, session, options);
  if (dll.is_null()) return;
  EXPECT_TRUE(host == dll)
      << "the DLL's answers or records differ from the host build's (JSON patch from host to DLL):\n"
      << json::diff(host, dll).dump(1);
  for (const auto& [what, count] : dll["records"]["outstanding"].items())
    EXPECT_EQ(count, 0) << what << " left outstanding";
  EXPECT_EQ(dll["records"]["violations"], json::array()) << "Windows contracts broken";
}

// Inputs: saved files of a fuzz target, or profiles.

struct Input {
  std::string name;  // for the test's name
  std::string path;
};

void Collect(std::vector<Input>& out, const std::string& from, const std::string& dir) {
  std::error_code error;
  if (!fs::is_directory(dir, error)) return;
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(dir, error))
    if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    std::string name = from + "_" + f.filename().string();
    for (char& c : name)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    out.push_back({name, f.string()});
  }
}

std::vector<Input> FuzzInputs(const std::string& target) {
  std::vector<Input> out;
  Collect(out, "regressions", kSource + "/fuzz/regressions/" + target);
  Collect(out, "corpus", kSource + "/fuzz/corpus/" + target);
  Collect(out, "seeds", std::string(ORRIVANE_FUZZ_SEEDS) + "/" + target);
  return out;
}

std::string InputName(const testing::TestParamInfo<Input>& info) { return info.param.name; }
void PrintTo(const Input& input, std::ostream* out) { *out << input.path; }

// Every profile the tool tests load, and the demo machine's. A profile the
// loader refuses makes no machine (the tool tests pin each refusal).
std::vector<Input> Profiles() {
  std::vector<Input> out{{"demo_machine", kSource + "/profiles/demo-machine.json"}};
  std::vector<Input> found;
  Collect(found, "machine_tool", kSource + "/tests/data/machine-tool");
  Collect(found, "profiles", kSource + "/tests/data/profiles");
  for (const Input& i : found) {
    tb::Machine machine;
    std::string error;
    if (fs::path(i.path).extension() == ".json" && i.path.find(".case.json") == std::string::npos &&
        tb::LoadProfile(i.path, machine, error))
      out.push_back(i);
  }
  return out;
}

const std::string& SampleImage() {
  static const std::string path =
      WriteTemp("sample.bin", tb::ImageFromRecipeFile(kSource + "/samples/demo-image.json").bytes);
  return path;
}

tb::Machine DemoMachine() {
  tb::Machine m;
  std::string error;
  EXPECT_TRUE(tb::LoadProfile(kSource + "/profiles/demo-machine.json", m, error)) << error;
  return m;
}

class DllProfiles : public testing::TestWithParam<Input> {};

TEST_P(DllProfiles, SameAnswersAndRecords) {
  tb::Machine machine;
  std::string error;
  ASSERT_TRUE(tb::LoadProfile(GetParam().path, machine, error)) << error;
  ExpectSame(machine, [](const OrrivaneApi& lib) {
    json a = MachineQueries(lib, SampleImage());
    a["env"] = EnvQueries(lib);
    return a;
  });
}

INSTANTIATE_TEST_SUITE_P(Tool, DllProfiles, testing::ValuesIn(Profiles()), InputName);

class DllMachineDetectionInputs : public testing::TestWithParam<Input> {};

TEST_P(DllMachineDetectionInputs, SameAnswersAndRecords) {
  const std::vector<uint8_t> data = ReadBytes(GetParam().path);
  if (data.size() > 0x30000) GTEST_SKIP() << "larger than the fuzz target takes";
  ExpectSame(fz::MachineOf(fz::DecodeFirmware(data.data(), data.size())),
             [](const OrrivaneApi& lib) { return MachineQueries(lib, SampleImage()); });
}

INSTANTIATE_TEST_SUITE_P(Fuzz, DllMachineDetectionInputs, testing::ValuesIn(FuzzInputs("machine_detection")),
                         InputName);

// The date and version decoder's input becomes a machine whose F segment
// holds the text where the decoder reads it (cut at the model tag) and the
// model in its tag.
class DllDateVersionInputs : public testing::TestWithParam<Input> {};

TEST_P(DllDateVersionInputs, SameAnswersAndRecords) {
  const std::vector<uint8_t> data = ReadBytes(GetParam().path);
  if (data.empty()) GTEST_SKIP() << "empty";
  const size_t modelLength = std::min<size_t>(data[0] % 60, data.size() - 1);
    // The model's bytes follow the first; that byte's place takes the '<'.
  std::vector<uint8_t> tag(data.begin(), data.begin() + 1 + static_cast<long>(modelLength));
  tag[0] = '<';
  tag.push_back('>');
  tag.push_back(0);
  std::vector<uint8_t> text(data.begin() + 1 + static_cast<long>(modelLength), data.end());
  text.resize(std::min<size_t>(text.size(), tb::kFSegModelTag - tb::kFSegDateVersion));
  tb::MachineBuilder m;
  m.Nt()
      .BiosType(2)
      .FSegmentText(tb::kFSegIdString, "DATE AND VERSION BOARD")
      .FSegmentBytes(tb::kFSegDateVersion, text);
  m.FSegmentBytes(tb::kFSegModelTag, tag);
  ExpectSame(m.Build(), [](const OrrivaneApi& lib) { return MachineQueries(lib, SampleImage()); });
}

INSTANTIATE_TEST_SUITE_P(Fuzz, DllDateVersionInputs, testing::ValuesIn(FuzzInputs("date_version")), InputName);

// The image analysis target's machine and its fault injection: one input in
// eight is analysed once more with a memory fault.
const tb::Machine& ImageMachine() {
  static const tb::Machine machine = tb::MachineBuilder().Nt().BiosType(2).FlashSize(0x80000).Build();
  return machine;
}

void ExpectSameImage(const std::string& file, uint32_t hash) {
  ExpectSame(ImageMachine(), ImageQueries({file}));
  if (hash % 8 != 0) return;
  const int nth = static_cast<int>(1 + (hash >> 4) % ((hash >> 3) & 1 ? 3 : 6));
  const bool alloc = (hash >> 3) & 1;
  ExpectSame(ImageMachine(),
             ImageQueries({file}, [=] { alloc ? tb::FailGlobalAllocAt(nth) : tb::FailGlobalLockAt(nth); }));
}

class DllImageInputs : public testing::TestWithParam<Input> {};

TEST_P(DllImageInputs, SameAnswersAndRecords) {
  const std::vector<uint8_t> data = ReadBytes(GetParam().path);
  ExpectSameImage(GetParam().path, fz::Hash(data.data(), data.size()));
}

INSTANTIATE_TEST_SUITE_P(Fuzz, DllImageInputs, testing::ValuesIn(FuzzInputs("image_analysis")), InputName);

// A member block becomes the first member of an image that the Award banner
// and its BBSS record mark, so the analysis hands it to the expansion.
class DllMemberInputs : public testing::TestWithParam<Input> {};

TEST_P(DllMemberInputs, SameAnswersAndRecords) {
  const std::vector<uint8_t> member = ReadBytes(GetParam().path);
  if (member.size() > 0x40000) GTEST_SKIP() << "larger than the fuzz target takes";
  const uint32_t size = member.size() + 2 <= 0xC000 ? 0x10000 : ((member.size() + 2 + 0xFFFF) & ~0xFFFFu) + 0x10000;
  tb::ImageBuilder image(size);
  image.Member(0, member).AwardBanner(size - 0x4000).Bbss(size - 0x4000 + 0x40, 0xE000, 0x2000);
  const std::string file = WriteTemp(GetParam().name + ".bin", image.Build());
  ExpectSameImage(file, fz::Hash(member.data(), member.size()));
  std::remove(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(Fuzz, DllMemberInputs, testing::ValuesIn(FuzzInputs("member_expansion")), InputName);

// The demo pair, files that cannot be analysed, and every memory fault the
// analysis of the sample image can meet.
TEST(DllSampleImage, SameAnswersAndRecordsWithEveryFault) {
  const std::string empty = WriteTemp("empty.bin", {});
  const std::vector<std::string> files = {SampleImage(), TempPath("missing.bin"), empty, testing::TempDir()};
  ExpectSame(DemoMachine(), ImageQueries(files));
  for (int nth = 1; nth <= 3; ++nth)
    ExpectSame(DemoMachine(), ImageQueries({SampleImage()}, [=] { tb::FailGlobalAllocAt(nth); }));
  for (int nth = 1; nth <= 6; ++nth)
    ExpectSame(DemoMachine(), ImageQueries({SampleImage()}, [=] { tb::FailGlobalLockAt(nth); }));
  std::remove(empty.c_str());
}

// The demo machine as Windows and the service library may also behave: the
// family it reports (a compatibility mode) and a failing version call, which
// send the library to ntdll.dll; rounded global-memory blocks; and the
// image requests' failures and leftovers. Each answers every query and
// analyses the sample image.
struct Variant {
  const char* name;
  void (*edit)(tb::Machine& m);
};

class DllMachineVariants : public testing::TestWithParam<Variant> {};

TEST_P(DllMachineVariants, SameAnswersAndRecords) {
  tb::Machine machine = DemoMachine();
  GetParam().edit(machine);
  ExpectSame(machine, [](const OrrivaneApi& lib) {
    json a = MachineQueries(lib, SampleImage());
    a["env"] = EnvQueries(lib);
    a["image"] = AnalyseFile(lib, SampleImage());
    return a;
  });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DllMachineVariants,
    testing::Values(Variant{"NtReporting9x", [](tb::Machine& m) { m.reportedPlatform = tb::Platform::Win9x; }},
                    Variant{"NtVersionCallFails", [](tb::Machine& m) { m.versionCallFails = true; }},
                    Variant{"Win9xReporting9x",
                            [](tb::Machine& m) {
                              m.platform = tb::Platform::Win9x;
                              m.reportedPlatform = tb::Platform::Win9x;
                            }},
                    Variant{"Win9xReportingNt",
                            [](tb::Machine& m) {
                              m.platform = tb::Platform::Win9x;
                              m.reportedPlatform = tb::Platform::Nt;
                            }},
                    Variant{"GlobalSizeGranularity", [](tb::Machine& m) { m.globalSizeGranularity = 4096; }},
                    Variant{"StatusFailsSilently", [](tb::Machine& m) { m.statusFailsSilently = true; }},
                    Variant{"ScribbleBlock", [](tb::Machine& m) { m.scribbleImageBlock = true; }},
                    Variant{"ImageServiceError", [](tb::Machine& m) { m.imageServiceError = 0x12D; }},
                    Variant{"RefuseExpand", [](tb::Machine& m) { m.refuseExpand = true; }}),
    [](const testing::TestParamInfo<Variant>& row) { return row.param.name; });

// Loaded away from its preferred base, with its base relocations applied.
TEST(DllRelocated, SameAnswersAndRecords) {
  dllrun::LoadOptions away;
  away.relocate = true;
  dllrun::DllRunner runner;
  std::string error;
  ASSERT_TRUE(runner.Load(DllPath(), error, away)) << error;
  EXPECT_NE(runner.Base(), runner.Image().ImageBase());
  ExpectSame(
      DemoMachine(),
      [](const OrrivaneApi& lib) {
        json a = MachineQueries(lib, SampleImage());
        a["env"] = EnvQueries(lib);
        a["image"] = AnalyseFile(lib, SampleImage());
        return a;
      },
      away);
}

}  // namespace
