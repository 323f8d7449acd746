// The exported functions: the guard, the answers before any detection, and
// how each one copies the records out to its caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
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

// Every field non-zero, so a 0 from a query can only come from its guard.
void FillRecords() {
  orr::MachineBiosRecord& m = MachineBios;
  std::strcpy(m.romId, "R0M1D"), std::strcpy(m.idString, "ID 2024-0131 AB9 R14"), std::strcpy(m.modelName, "AB9-C");
  std::strcpy(m.altModelName, "AB9 PRO"), std::strcpy(m.versionText, "REV 1.4"), std::strcpy(m.dateText, "01/31/2024");
  std::strcpy(m.descriptionText, "Board description");
  m.dateCode = 20240131, m.biosType = 2, m.logoFlags = 5, m.onboardLan = 1, m.flashSize = 0x80000;
  m.onboardDevices = 0x6, m.pluginBlockA[1] = m.pluginBlockB[1] = 1, m.romSizeCode = 7, m.firmwareTagFound = 1;
  orr::ImageBiosRecord& i = ImageBios;
  std::strcpy(i.idString, "image id text"), std::strcpy(i.modelName, "IMG-7"), std::strcpy(i.versionText, "IMG REV 2");
  std::strcpy(i.dateText, "12/24/2023"), i.buildVersion = 123, i.dateCode = 20231224, i.amiTagFound = 1;
}

struct RomInfoOut {
  char model[60], id[100], version[60], date[30];
  uint32_t dateCode, extended;
  char description[32];
  RomInfoOut() { std::memset(this, kUntouched, sizeof *this); }
  uint32_t Get(uint32_t useAlt) {
    return Orrivane_GetBIOSROMInfo(model, id, version, date, &dateCode, &extended, useAlt, description);
  }
};

struct FileInfoOut {
  char model[60], id[100], version[60], date[32];
  uint32_t dateCode, found;
  FileInfoOut() { std::memset(this, kUntouched, sizeof *this); }
  uint32_t Get(const std::string& path) {
    return Orrivane_GetBIOSFileInfo(path.c_str(), model, id, version, date, &dateCode, &found);
  }
};

template <typename T>
bool Untouched(const T& out) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&out);
  return std::all_of(bytes, bytes + sizeof out, [](uint8_t b) { return b == kUntouched; });
}

// A guarded query answers 0 before a detection whatever the records hold,
// and the records once any non-zero value opened the guard.
template <typename Query>
void ExpectGuarded(Query query, uint32_t answer) {
  g_initialized = 0;
  EXPECT_EQ(static_cast<uint32_t>(query()), 0u);
  g_initialized = 2;
  EXPECT_EQ(static_cast<uint32_t>(query()), answer);
}

// Each test starts on filled records with the guard closed. The exports that
// take a path read this source file: no BIOS image.
class Exports : public testing::Test {
 protected:
  void SetUp() override { StartWith(tb::MachineBuilder().Nt()), FillRecords(); }
  const std::string path = __FILE__, missing = path + ".missing";
  const uint32_t fileBytes = static_cast<uint32_t>(std::filesystem::file_size(path));
};

// The unguarded queries answer the records before a detection; the BIOS
// type is its low byte, the DMI size covers the whole ROM size byte.
TEST_F(Exports, ScalarQueriesByGuard) {
  ExpectGuarded(Orrivane_CheckLogo, 5);
  ExpectGuarded(InstallShield_CheckLogo, 5);
  ExpectGuarded(Orrivane_CheckOnboardLan, 1);
  ExpectGuarded(Orrivane_GetFlashSize, 0x80000);
  g_initialized = 0;
  MachineBios.biosType = 0x1FE;
  EXPECT_EQ(Orrivane_GetBIOSType(), 0xFE);
  EXPECT_EQ(Orrivane_CheckOnboardDev(), 0x6u);
  EXPECT_EQ(Orrivane_GetROMbuildVersion(), 123u);
  EXPECT_STREQ(Orrivane_GetROMID(), "R0M1D");
  EXPECT_EQ(Orrivane_GetROMID(), MachineBios.romId);  // owned by the library, stable across calls
  for (auto [code, bytes] : {std::pair<uint8_t, uint32_t>{0, 0x10000}, {1, 0x20000}, {0xFF, 0x1000000}}) {
    MachineBios.romSizeCode = code;
    EXPECT_EQ(Orrivane_GetDMIBIOSSize(), bytes) << "romSizeCode " << int(code);
  }
}

TEST_F(Exports, BiosTagTwinsTellTheFirmwareTagApart) {
  const struct { uint32_t biosType, tagFound, tag, installerTag; } cases[] = {
      {0, 0, 0, 0}, {3, 0, 1, 1}, {0, 1, 0, 2}, {4, 1, 1, 2}, {0x100, 0, 1, 1}};  // 0x100: its low byte 0 still counts
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "biosType " << c.biosType << " tag " << c.tagFound);
    MachineBios.biosType = c.biosType, MachineBios.firmwareTagFound = c.tagFound;
    ExpectGuarded(Orrivane_CheckBIOSTag, c.tag);
    ExpectGuarded(InstallShield_CheckBIOSTag, c.installerTag);
  }
}

TEST_F(Exports, PluginsNeedBothBlocksToCarryAValueInBytesOneToFour) {
  using Block = std::vector<uint8_t>;
  const struct { const char* name; Block a, b; uint32_t present; } cases[] = {
      {"A only", {0, 1}, {}, 0}, {"B only", {}, {0, 1}, 0}, {"both, low byte", {0, 1}, {0, 1}, 1},
      {"bytes 0 and 5 to 20 do not count", {0xFF, 0, 0, 0, 0, 0xFF}, {0xFF, 0, 0, 0, 0, 0xFF}, 0},
      {"both, high byte: not cut to its low byte", {0, 0, 0, 0, 0x80}, {0, 0, 0x10}, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(MachineBios.pluginBlockA, 0, 21), std::copy(c.a.begin(), c.a.end(), MachineBios.pluginBlockA);
    std::memset(MachineBios.pluginBlockB, 0, 21), std::copy(c.b.begin(), c.b.end(), MachineBios.pluginBlockB);
    ExpectGuarded(Orrivane_CheckPlugins, c.present);
    ExpectGuarded(InstallShield_CheckPlugins, c.present);
  }
}

TEST_F(Exports, FileSizeAnswersOnlyOnThe9xFamilyWithAKnownFamily) {
  const struct { const char* name; uint32_t isNt, biosType; std::string path; uint32_t size; } cases[] = {
      {"NT", 1, 2, path, 0}, {"no family", 0, 0, path, 0}, {"missing file", 0, 2, missing, 0},
      {"9x with a family", 0, 2, path, fileBytes}};
  const orr::ImageBiosRecord image = ImageBios;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_isNt = c.isNt, MachineBios.biosType = c.biosType;
    ExpectGuarded([&] { return Orrivane_GetBIOSFileSize(c.path.c_str()); }, c.size);
    EXPECT_EQ(std::memcmp(&image, &ImageBios, sizeof image), 0);  // measuring is not analysing
  }
}

// The alternative model only for family 4, compared whole (not its low
// byte); the installer's copy never offers it. Before a detection neither
// copy writes anything; a null output is skipped, the ones after it written.
TEST_F(Exports, RomInfoGivesTheAlternativeModelOnlyForTheExtendedFamily) {
  RomInfoOut closed, installerClosed;
  EXPECT_EQ(closed.Get(1) + InstallShield_GetBIOSROMInfo(installerClosed.model, installerClosed.id), 0u);
  EXPECT_TRUE(Untouched(closed) && Untouched(installerClosed));
  const struct { uint32_t biosType, useAlt; const char* model; uint32_t extended; } cases[] = {
      {4, 0, "AB9-C", 1}, {4, 1, "AB9 PRO", 1}, {4, 0xFFFFFFFF, "AB9 PRO", 1}, {2, 1, "AB9-C", 0},
      {5, 1, "AB9-C", 0}, {0, 1, "AB9-C", 0},   {0x104, 1, "AB9-C", 0}};
  g_initialized = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "biosType " << c.biosType << " useAlt " << c.useAlt);
    MachineBios.biosType = c.biosType;
    RomInfoOut o, installer;
    EXPECT_EQ(o.Get(c.useAlt) + InstallShield_GetBIOSROMInfo(installer.model, installer.id), 0u);
    EXPECT_EQ(std::string(o.model) + "|" + o.id + "|" + o.version + "|" + o.date + "|" + o.description,
              c.model + std::string("|ID 2024-0131 AB9 R14|REV 1.4|01/31/2024|Board description"));
    EXPECT_EQ(o.dateCode, 20240131u);
    EXPECT_EQ(o.extended, c.extended);
    EXPECT_EQ(std::string(installer.model) + "|" + installer.id, "AB9-C|ID 2024-0131 AB9 R14");
  }
  RomInfoOut o, installer;
  EXPECT_EQ(Orrivane_GetBIOSROMInfo(nullptr, o.id, nullptr, o.date, nullptr, &o.extended, 1, o.description), 0u);
  EXPECT_EQ(std::string(o.id) + "|" + o.date + "|" + o.description,
            "ID 2024-0131 AB9 R14|01/31/2024|Board description");
  EXPECT_EQ(Orrivane_GetBIOSROMInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr), 0u);
  EXPECT_EQ(InstallShield_GetBIOSROMInfo(nullptr, installer.id), 0u);
  EXPECT_STREQ(installer.id, "ID 2024-0131 AB9 R14");
}

// A field that lost its NUL must not carry the copy into the next field or
// past a caller buffer of the documented size; the longest text a field
// holds comes out whole.
TEST_F(Exports, CopiesStayInsideTheFieldSizes) {
  g_initialized = 1;
  std::memset(MachineBios.modelName, 'M', sizeof MachineBios.modelName);
  std::memset(MachineBios.idString, 'I', sizeof MachineBios.idString - 1);
  MachineBios.idString[sizeof MachineBios.idString - 1] = '\0';
  char model[64], id[104], installerModel[64];
  std::memset(model, kUntouched, 64), std::memset(id, kUntouched, 104), std::memset(installerModel, kUntouched, 64);
  Orrivane_GetBIOSROMInfo(model, id, nullptr, nullptr, nullptr, nullptr, 0, nullptr);
  InstallShield_GetBIOSROMInfo(installerModel, nullptr);
  for (auto [buffer, text] : {std::pair<const char*, std::string>{model, std::string(59, 'M')},
                              {id, std::string(99, 'I')}, {installerModel, std::string(59, 'M')}}) {
    EXPECT_EQ(std::string(buffer), text);
    EXPECT_EQ(static_cast<uint8_t>(buffer[text.size() + 1]), kUntouched);
  }
}

// Before a detection the file is not even read: this file, no image, would
// clear amiTagFound.
TEST_F(Exports, FileInfoCopiesTheImageRecordEvenWhenTheFileCannotBeRead) {
  FileInfoOut closed, o;
  EXPECT_EQ(closed.Get(path), 0u);
  EXPECT_TRUE(Untouched(closed));
  EXPECT_EQ(ImageBios.amiTagFound, 1u);
  g_initialized = 1;
  EXPECT_EQ(o.Get(missing), ORRIVANE_ERR_OPEN);
  EXPECT_EQ(std::string(o.model) + "|" + o.id + "|" + o.version + "|" + o.date + "|" + std::to_string(o.dateCode) +
                "|" + std::to_string(o.found), "IMG-7|image id text|IMG REV 2|12/24/2023|20231224|1");
  // Null outputs are skipped; the result still reaches the caller.
  EXPECT_EQ(Orrivane_GetBIOSFileInfo(missing.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            ORRIVANE_ERR_OPEN);
  ExpectNothingOutstanding();
}

TEST_F(Exports, UninitializeKeepsTheDetectionAndAFailedInitializeClosesTheGuard) {
  g_initialized = 1;
  const orr::MachineBiosRecord machine = MachineBios;
  const orr::ImageBiosRecord image = ImageBios;
  EXPECT_EQ(Orrivane_Uninitialize(), 1u);
  EXPECT_EQ(g_initialized, 1u);
  EXPECT_EQ(std::memcmp(&machine, &MachineBios, sizeof machine), 0);
  EXPECT_EQ(std::memcmp(&image, &ImageBios, sizeof image), 0);
  tb::Reset(tb::MachineBuilder().Nt().OpenError(103).BiosType(2));
  EXPECT_EQ(Orrivane_Initialize(), 0u);
  EXPECT_EQ(g_initialized, 0u);
  EXPECT_EQ(Orrivane_CheckLogo(), 0);
}

}  // namespace
