// The exported functions: the guard, the answers before any detection, and
// how each one copies the records out to its caller.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "library_state.h"
#include "machine_builder.h"
#include "orrivane.h"

namespace {

// Callers read these as 8-bit values; the DLL caller pins the same on the
// Windows side.
static_assert(std::is_same_v<decltype(Orrivane_CheckLogo()), uint8_t>);
static_assert(std::is_same_v<decltype(Orrivane_CheckPlugins()), uint8_t>);
static_assert(std::is_same_v<decltype(Orrivane_GetBIOSType()), uint8_t>);

constexpr uint8_t kUntouched = 0xA5;
constexpr uint32_t kFileBytes = 3000;

// Every field non-zero, so a 0 from a query can only come from its guard.
void FillRecords() {
  orr::MachineBiosRecord& m = MachineBios;
  std::strcpy(m.romId, "R0M1D");
  m.dateCode = 20240131;
  m.biosType = 2;
  std::strcpy(m.idString, "ID 2024-0131 AB9 R14");
  std::strcpy(m.modelName, "AB9-C");
  std::strcpy(m.versionText, "REV 1.4");
  std::strcpy(m.dateText, "01/31/2024");
  m.logoFlags = 5;
  m.onboardLan = 1;
  m.flashSize = 0x80000;
  std::strcpy(m.descriptionText, "Board description");
  std::strcpy(m.altModelName, "AB9 PRO");
  m.onboardDevices = 0x6;
  m.pluginBlockA[1] = 1;
  m.pluginBlockB[1] = 1;
  m.romSizeCode = 7;
  m.firmwareTagFound = 1;

  orr::ImageBiosRecord& i = ImageBios;
  std::memcpy(i.buildText, "BUILD 0.123", 11);
  i.buildVersion = 123;
  std::strcpy(i.idString, "image id text");
  std::strcpy(i.modelName, "IMG-7");
  std::strcpy(i.versionText, "IMG REV 2");
  std::strcpy(i.dateText, "12/24/2023");
  i.dateCode = 20231224;
  i.amiTagFound = 1;
}

// A file on disk for the exports that take a path; removed afterwards.
class TempFile {
 public:
  TempFile(const std::string& name, uint32_t size) : path_(testing::TempDir() + "orrivane_exports_" + name) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    std::vector<char> bytes(size, 'x');
    if (f) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

struct RomInfoOut {
  char model[60];
  char id[100];
  char version[60];
  char date[30];
  uint32_t dateCode;
  uint32_t extended;
  char description[32];
  RomInfoOut() { std::memset(this, kUntouched, sizeof *this); }
};

struct FileInfoOut {
  char model[60];
  char id[100];
  char version[60];
  char date[32];
  uint32_t dateCode;
  uint32_t found;
  FileInfoOut() { std::memset(this, kUntouched, sizeof *this); }
};

template <typename T>
bool Untouched(const T& out) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&out);
  for (size_t i = 0; i < sizeof out; ++i)
    if (bytes[i] != kUntouched) return false;
  return true;
}

uint32_t GetRomInfo(RomInfoOut& o, uint32_t useAlt = 0) {
  return Orrivane_GetBIOSROMInfo(o.model, o.id, o.version, o.date, &o.dateCode, &o.extended, useAlt, o.description);
}

class Exports : public testing::Test {
 protected:
  void SetUp() override { StartWith(tb::MachineBuilder().Nt()); }
};

TEST_F(Exports, LoadTimeAnswersOfTheUnguardedQueries) {
  EXPECT_EQ(Orrivane_GetBIOSType(), 0);
  EXPECT_EQ(Orrivane_CheckOnboardDev(), 0u);
  EXPECT_EQ(Orrivane_GetROMbuildVersion(), 0u);
  ASSERT_NE(Orrivane_GetROMID(), nullptr);
  EXPECT_STREQ(Orrivane_GetROMID(), "");
  EXPECT_EQ(Orrivane_GetDMIBIOSSize(), 65536u);
  EXPECT_EQ(Orrivane_Uninitialize(), 1u);
}

// The guarded scalar queries, with what each answers once the guard lets it
// through on the filled records.
struct GuardedQuery {
  const char* name;
  std::function<uint32_t(const char* path)> call;
  uint32_t answer;  // kFileBytes for the file size
};

const std::vector<GuardedQuery>& GuardedQueries() {
  static const std::vector<GuardedQuery> queries = {
      {"Orrivane_CheckBIOSTag", [](const char*) { return Orrivane_CheckBIOSTag(); }, 1},
      {"InstallShield_CheckBIOSTag", [](const char*) { return InstallShield_CheckBIOSTag(); }, 2},
      {"Orrivane_GetBIOSFileSize",
       [](const char* path) { return static_cast<uint32_t>(Orrivane_GetBIOSFileSize(path)); }, kFileBytes},
      {"Orrivane_CheckLogo", [](const char*) { return static_cast<uint32_t>(Orrivane_CheckLogo()); }, 5},
      {"InstallShield_CheckLogo", [](const char*) { return InstallShield_CheckLogo(); }, 5},
      {"Orrivane_CheckPlugins", [](const char*) { return static_cast<uint32_t>(Orrivane_CheckPlugins()); }, 1},
      {"InstallShield_CheckPlugins", [](const char*) { return InstallShield_CheckPlugins(); }, 1},
      {"Orrivane_CheckOnboardLan", [](const char*) { return Orrivane_CheckOnboardLan(); }, 1},
      {"Orrivane_GetFlashSize", [](const char*) { return Orrivane_GetFlashSize(); }, 0x80000},
  };
  return queries;
}

TEST_F(Exports, GuardedQueriesAnswerZeroBeforeADetectionWhateverTheRecordsHold) {
  FillRecords();
  g_isNt = 0;  // the file size would otherwise answer 0 for the platform alone
  TempFile file("guard.bin", kFileBytes);
  for (const GuardedQuery& q : GuardedQueries()) {
    SCOPED_TRACE(q.name);
    EXPECT_EQ(q.call(file.path()), 0u);
  }
}

TEST_F(Exports, TheGuardLetsAnyNonZeroResultThrough) {
  FillRecords();
  g_isNt = 0;
  g_initialized = 2;
  TempFile file("guard2.bin", kFileBytes);
  for (const GuardedQuery& q : GuardedQueries()) {
    SCOPED_TRACE(q.name);
    EXPECT_EQ(q.call(file.path()), q.answer);
  }
}

TEST_F(Exports, GuardedCopiesWriteNothingBeforeADetection) {
  FillRecords();
  RomInfoOut rom;
  EXPECT_EQ(GetRomInfo(rom, 1), 0u);
  EXPECT_TRUE(Untouched(rom));

  RomInfoOut installer;
  EXPECT_EQ(InstallShield_GetBIOSROMInfo(installer.model, installer.id), 0u);
  EXPECT_TRUE(Untouched(installer));

  // The image is not even read: a junk file would clear amiTagFound.
  TempFile junk("junk.bin", kFileBytes);
  FileInfoOut file;
  EXPECT_EQ(
      Orrivane_GetBIOSFileInfo(junk.path(), file.model, file.id, file.version, file.date, &file.dateCode, &file.found),
      0u);
  EXPECT_TRUE(Untouched(file));
  EXPECT_EQ(ImageBios.amiTagFound, 1u);
  ExpectNothingOutstanding();
}

TEST_F(Exports, UnguardedQueriesAnswerTheRecordsBeforeADetection) {
  FillRecords();
  MachineBios.biosType = 0x1FE;
  EXPECT_EQ(Orrivane_GetBIOSType(), 0xFE);  // the low byte alone
  EXPECT_EQ(Orrivane_CheckOnboardDev(), 0x6u);
  EXPECT_EQ(Orrivane_GetROMbuildVersion(), 123u);
  EXPECT_STREQ(Orrivane_GetROMID(), "R0M1D");
  EXPECT_EQ(Orrivane_GetROMID(), MachineBios.romId);  // owned by the library, stable across calls
  EXPECT_EQ(Orrivane_GetDMIBIOSSize(), 8u * 65536u);
}

TEST_F(Exports, DmiBiosSizeCoversTheWholeRomSizeByte) {
  const struct {
    uint8_t code;
    uint32_t bytes;
  } cases[] = {{0, 0x10000}, {1, 0x20000}, {7, 0x80000}, {0xFF, 0x1000000}};
  for (const auto& c : cases) {
    MachineBios.romSizeCode = c.code;
    EXPECT_EQ(Orrivane_GetDMIBIOSSize(), c.bytes) << "romSizeCode " << int(c.code);
  }
}

TEST_F(Exports, BiosTagTwinsTellTheFirmwareTagApart) {
  const struct {
    uint32_t biosType, tagFound, tag, installerTag;
  } cases[] = {
      {0, 0, 0, 0}, {3, 0, 1, 1},     {0, 1, 0, 2},
      {4, 1, 1, 2}, {0x100, 0, 1, 1},  // a family whose low byte is 0 still counts
  };
  g_initialized = 1;
  for (const auto& c : cases) {
    MachineBios.biosType = c.biosType;
    MachineBios.firmwareTagFound = c.tagFound;
    SCOPED_TRACE(testing::Message() << "biosType " << c.biosType << " tag " << c.tagFound);
    EXPECT_EQ(Orrivane_CheckBIOSTag(), c.tag);
    EXPECT_EQ(InstallShield_CheckBIOSTag(), c.installerTag);
  }
}

TEST_F(Exports, PluginsNeedBothBlocksToCarryAValueInBytesOneToFour) {
  using Block = std::vector<uint8_t>;
  const struct {
    const char* name;
    Block a, b;
    uint32_t present;
  } cases[] = {
      {"neither", {}, {}, 0},
      {"A only", {0, 1}, {}, 0},
      {"B only", {}, {0, 1}, 0},
      {"bytes 0 and 5 to 20 do not count", {0xFF, 0, 0, 0, 0, 0xFF}, {0xFF, 0, 0, 0, 0, 0xFF}, 0},
      {"both, low byte", {0, 1}, {0, 1}, 1},
      // A value whose low byte is 0 must still read as present, not be cut.
      {"both, high byte", {0, 0, 0, 0, 0x80}, {0, 0, 0x10}, 1},
  };
  g_initialized = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(MachineBios.pluginBlockA, 0, sizeof MachineBios.pluginBlockA);
    std::memset(MachineBios.pluginBlockB, 0, sizeof MachineBios.pluginBlockB);
    std::copy(c.a.begin(), c.a.end(), MachineBios.pluginBlockA);
    std::copy(c.b.begin(), c.b.end(), MachineBios.pluginBlockB);
    EXPECT_EQ(Orrivane_CheckPlugins(), c.present);
    EXPECT_EQ(InstallShield_CheckPlugins(), c.present);
  }
}

TEST_F(Exports, LogoFlagsReachBothTwins) {
  g_initialized = 1;
  MachineBios.logoFlags = 5;
  EXPECT_EQ(Orrivane_CheckLogo(), 5);
  EXPECT_EQ(InstallShield_CheckLogo(), 5u);  // zero-extended: the whole 32-bit result
}

TEST_F(Exports, RomInfoWithEveryOutputNullWritesNothing) {
  FillRecords();
  g_initialized = 1;
  const orr::MachineBiosRecord before = MachineBios;
  EXPECT_EQ(Orrivane_GetBIOSROMInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr), 0u);
  EXPECT_EQ(std::memcmp(&before, &MachineBios, sizeof before), 0);
}

TEST_F(Exports, RomInfoSkipsOnlyTheNullOutput) {
  FillRecords();
  g_initialized = 1;
  for (int skipped = 0; skipped < 7; ++skipped) {
    SCOPED_TRACE(testing::Message() << "null output " << skipped);
    RomInfoOut o;
    auto give = [&](int index, auto* buffer) { return index == skipped ? nullptr : buffer; };
    EXPECT_EQ(Orrivane_GetBIOSROMInfo(give(0, o.model), give(1, o.id), give(2, o.version), give(3, o.date),
                                      give(4, &o.dateCode), give(5, &o.extended), 0, give(6, o.description)),
              0u);
    if (skipped != 0) EXPECT_STREQ(o.model, "AB9-C");
    if (skipped != 1) EXPECT_STREQ(o.id, "ID 2024-0131 AB9 R14");
    if (skipped != 2) EXPECT_STREQ(o.version, "REV 1.4");
    if (skipped != 3) EXPECT_STREQ(o.date, "01/31/2024");
    if (skipped != 4) EXPECT_EQ(o.dateCode, 20240131u);
    if (skipped != 5) EXPECT_EQ(o.extended, 0u);
    if (skipped != 6) EXPECT_STREQ(o.description, "Board description");
    const uint8_t* skippedBytes[] = {reinterpret_cast<uint8_t*>(o.model),      reinterpret_cast<uint8_t*>(o.id),
                                     reinterpret_cast<uint8_t*>(o.version),    reinterpret_cast<uint8_t*>(o.date),
                                     reinterpret_cast<uint8_t*>(&o.dateCode),  reinterpret_cast<uint8_t*>(&o.extended),
                                     reinterpret_cast<uint8_t*>(o.description)};
    EXPECT_EQ(skippedBytes[skipped][0], kUntouched);
  }
}

TEST_F(Exports, AlternativeModelOnlyForTheExtendedFamily) {
  const struct {
    uint32_t biosType, useAlt;
    const char* model;
    uint32_t extended;
  } cases[] = {
      {4, 0, "AB9-C", 1}, {4, 1, "AB9 PRO", 1}, {4, 0xFFFFFFFF, "AB9 PRO", 1}, {2, 1, "AB9-C", 0},
      {5, 1, "AB9-C", 0}, {0, 1, "AB9-C", 0},   {0x104, 1, "AB9-C", 0},  // the whole family code is compared, not its
                                                                         // low byte
  };
  FillRecords();
  g_initialized = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "biosType " << c.biosType << " useAlt " << c.useAlt);
    MachineBios.biosType = c.biosType;
    RomInfoOut o;
    EXPECT_EQ(GetRomInfo(o, c.useAlt), 0u);
    EXPECT_STREQ(o.model, c.model);
    EXPECT_EQ(o.extended, c.extended);
  }
}

TEST_F(Exports, CopiesStayInsideTheFieldSizes) {
  g_initialized = 1;
  // A field that lost its NUL must not carry the copy into the next field or
  // past a caller buffer of the documented size.
  std::memset(MachineBios.modelName, 'M', sizeof MachineBios.modelName);
  // The longest text a field holds comes out whole.
  std::memset(MachineBios.idString, 'I', sizeof MachineBios.idString - 1);
  MachineBios.idString[sizeof MachineBios.idString - 1] = '\0';
  std::memset(MachineBios.dateText, 'D', sizeof MachineBios.dateText);

  char model[64], id[104], date[34];
  std::memset(model, kUntouched, sizeof model);
  std::memset(id, kUntouched, sizeof id);
  std::memset(date, kUntouched, sizeof date);
  Orrivane_GetBIOSROMInfo(model, id, nullptr, date, nullptr, nullptr, 0, nullptr);
  EXPECT_EQ(std::string(model), std::string(59, 'M'));
  EXPECT_EQ(static_cast<uint8_t>(model[60]), kUntouched);
  EXPECT_EQ(std::string(id), std::string(99, 'I'));
  EXPECT_EQ(static_cast<uint8_t>(id[100]), kUntouched);
  EXPECT_EQ(std::string(date), std::string(29, 'D'));
  EXPECT_EQ(static_cast<uint8_t>(date[30]), kUntouched);

  std::memset(model, kUntouched, sizeof model);
  InstallShield_GetBIOSROMInfo(model, id);
  EXPECT_EQ(std::string(model), std::string(59, 'M'));
  EXPECT_EQ(static_cast<uint8_t>(model[60]), kUntouched);
}

TEST_F(Exports, InstallerRomInfoNeverOffersTheAlternativeModel) {
  FillRecords();
  MachineBios.biosType = 4;
  g_initialized = 1;
  RomInfoOut o;
  EXPECT_EQ(InstallShield_GetBIOSROMInfo(o.model, o.id), 0u);
  EXPECT_STREQ(o.model, "AB9-C");
  EXPECT_STREQ(o.id, "ID 2024-0131 AB9 R14");
  // A null buffer is skipped rather than written through.
  RomInfoOut half;
  EXPECT_EQ(InstallShield_GetBIOSROMInfo(nullptr, half.id), 0u);
  EXPECT_STREQ(half.id, "ID 2024-0131 AB9 R14");
  EXPECT_EQ(InstallShield_GetBIOSROMInfo(half.model, nullptr), 0u);
  EXPECT_STREQ(half.model, "AB9-C");
}

TEST_F(Exports, FileSizeAnswersOnlyOnThe9xFamilyWithAKnownFamily) {
  TempFile file("size.bin", kFileBytes);
  const std::string missing = std::string(file.path()) + ".missing";
  const struct {
    const char* name;
    uint32_t isNt, biosType;
    const char* path;
    int32_t size;
  } cases[] = {
      {"NT", 1, 2, file.path(), 0},
      {"no family", 0, 0, file.path(), 0},
      {"missing file", 0, 2, missing.c_str(), 0},
      {"9x with a family", 0, 2, file.path(), static_cast<int32_t>(kFileBytes)},
  };
  g_initialized = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_isNt = c.isNt;
    MachineBios.biosType = c.biosType;
    EXPECT_EQ(Orrivane_GetBIOSFileSize(c.path), c.size);
  }
}

TEST_F(Exports, FileInfoCopiesTheImageRecordEvenWhenTheFileCannotBeRead) {
  FillRecords();
  g_initialized = 1;
  FileInfoOut o;
  const std::string missing = testing::TempDir() + "orrivane_exports_no_such_image.bin";
  EXPECT_EQ(Orrivane_GetBIOSFileInfo(missing.c_str(), o.model, o.id, o.version, o.date, &o.dateCode, &o.found),
            ORRIVANE_ERR_OPEN);
  EXPECT_STREQ(o.model, "IMG-7");
  EXPECT_STREQ(o.id, "image id text");
  EXPECT_STREQ(o.version, "IMG REV 2");
  EXPECT_STREQ(o.date, "12/24/2023");
  EXPECT_EQ(o.dateCode, 20231224u);
  EXPECT_EQ(o.found, 1u);
  ExpectNothingOutstanding();

  // Null outputs are skipped; the result still reaches the caller.
  EXPECT_EQ(Orrivane_GetBIOSFileInfo(missing.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            ORRIVANE_ERR_OPEN);
}

TEST_F(Exports, UninitializeKeepsTheDetectionAndTheRecords) {
  FillRecords();
  g_initialized = 1;
  const orr::MachineBiosRecord machine = MachineBios;
  const orr::ImageBiosRecord image = ImageBios;
  EXPECT_EQ(Orrivane_Uninitialize(), 1u);
  EXPECT_EQ(g_initialized, 1u);
  EXPECT_EQ(std::memcmp(&machine, &MachineBios, sizeof machine), 0);
  EXPECT_EQ(std::memcmp(&image, &ImageBios, sizeof image), 0);
  EXPECT_EQ(Orrivane_CheckLogo(), 5);
  EXPECT_EQ(Orrivane_GetFlashSize(), 0x80000u);
}

TEST_F(Exports, AFailedInitializeClosesTheGuardAgain) {
  FillRecords();
  g_initialized = 1;
  tb::Reset(tb::MachineBuilder().Nt().OpenError(103).BiosType(2));
  EXPECT_EQ(Orrivane_Initialize(), 0u);
  EXPECT_EQ(g_initialized, 0u);
  EXPECT_EQ(Orrivane_CheckLogo(), 0);
  EXPECT_EQ(Orrivane_GetFlashSize(), 0u);
}

}  // namespace
