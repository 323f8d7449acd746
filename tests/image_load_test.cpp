// Loading an image file: the load's result numbers, the chunked read, the file size export. (Before a
// detection, and a file that cannot be read after an image was: Exports.)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "image/load_image.h"
#include "image_support.h"

namespace {

using image_test::Analyse;
using image_test::AnalyseImage;
using image_test::StartDetected;
using image_test::TempFile;

// An image that the AMI identity record identifies, with a "*MEO" marker besides.
std::vector<uint8_t> AmiImage(const std::string& model) {
  tb::ImageBuilder image(0x20000);
  return image.AmiRecord(0x100, 2, {model, "AMI ID", "03/15/2009", "V2.0"}).Meo(0x400, tb::BytesOf("MEO1 ")).Build();
}

// No path, a directory (a stream on Linux, but no size), an empty file, one beyond 2 GiB - 1, an image
// without marks (304), one with an AMI record (done): none asks the service or leaves a block.
TEST(ImageLoad, ResultsThatNeedNoService) {
  StartDetected();
  TempFile empty("empty.bin"), huge("huge.bin"), markless("markless.bin", tb::ImageBuilder(0x40000).Build());
  TempFile ami("ami.bin", AmiImage("RV5420"));
  ASSERT_EQ(truncate(huge.path(), 0x80000000LL), 0);  // no bytes on disk
  const std::string directory = testing::TempDir();
  const struct {
    const char* path; uint32_t result; std::string id, model; uint32_t dateCode, amiTagFound; int failedLock = 0;
  } cases[] = {{nullptr, 211, "", "", 0, 0},
               {directory.c_str(), 211, "", "", 0, 0},
               {empty.path(), 301, "", "", 0, 0},
               {huge.path(), 211, "", "", 0, 0},
               {markless.path(), 304, "N/A", "", 0, 0},
               {ami.path(), 304, "N/A", "MEO1", 0, 0, 2},  // the record step's lock fails: the tag step finds "*MEO"
               {ami.path(), 0, "AMI ID", "RV5420", 20090315, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path ? c.path : "no path");
    if (c.failedLock) tb::FailGlobalLockAt(c.failedLock);
    const image_test::FileInfo info = Analyse(c.path);
    EXPECT_EQ(info.result, c.result);
    EXPECT_EQ(std::make_tuple(info.idString, info.model, info.dateCode, info.amiTagFound),
              std::make_tuple(c.id, c.model, c.dateCode, c.amiTagFound));
    ExpectNothingOutstanding();
  }
  EXPECT_TRUE(image_test::ImageRequests().empty());
}

// The classification gives an image it does not know back itself (the export would free it anyway).
TEST(ImageLoad, UnknownImageIsReleasedByTheClassification) {
  StartDetected();
  orr::ImageSlot slot{GlobalAlloc(GHND, 0x20000), 0x20000};  // zeros: no mark
  EXPECT_EQ(orr::ClassifyImage(slot), 304u);
  EXPECT_EQ(slot.block, nullptr);
  ExpectNothingOutstanding();
}

TEST(ImageLoad, EveryStepWorksFromTheFilesSizeNotTheBlocks) {
  // GlobalSize may round a block up (here to 4 KiB): the F area, the tail area and the ROM map's
  // flash addresses count from the file's end, and the slack is not image content.
  StartDetected(tb::MachineBuilder().Nt().BiosType(2).GlobalSizeGranularity(0x1000));
  tb::ImageBuilder record(0x20008), packed(0x80010);
  packed.Member(0x20000, image_test::SystemBiosMember("RV5420"))
      .BRomMap(packed.TailArea() + 0x1000, packed.FlashAddress(0x20000), packed.FlashAddress(0x40000), 0, 0);
  EXPECT_EQ(AnalyseImage(image_test::VersionOne(record, 0x100, "AB12").Build()).model, "AB12");
  EXPECT_EQ(AnalyseImage(packed.Build()).model, "RV5420");  // only an expanded member names it
  ExpectNothingOutstanding();
}

// Every read the loader asks for, in order.
std::vector<size_t> g_asks;

size_t WatchedRead(void* dst, size_t size, size_t count, FILE* file) {
  g_asks.push_back(size * count);
  return std::fread(dst, size, count, file);
}

// Reads of at most 32 KiB, never more than is missing; a file that shrank after its size was taken
// ends the loop at the first empty read, and so does a read error.
TEST(ImageChunks, FileShorterThanItsMeasuredSizeOrAReadErrorEndsTheLoop) {
  std::vector<uint8_t> bytes(40000);
  for (uint32_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  TempFile file("chunks.bin", bytes);
  const struct { const char* mode; uint32_t size; std::vector<size_t> asks; } cases[] = {
      {"rb", 40000, {32768, 7232}}, {"rb", 0x10000, {32768, 32768, 25536}},
      {"ab", 0x10000, {32768}}};  // no read allowed: every read fails
  for (const auto& c : cases) {
    FILE* stream = std::fopen(file.path(), c.mode);
    std::vector<uint8_t> dst(c.size);
    g_asks.clear();
    EXPECT_EQ(orr::ReadInChunks(stream, dst.data(), c.size, WatchedRead), c.size == 40000);
    std::fclose(stream);
    EXPECT_EQ(g_asks, c.asks);
    if (c.mode[0] == 'r') EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), dst.begin()));
  }
}

// Orrivane_GetBIOSFileSize (its guard and families: Exports.FileSizeAnswersOnlyOnThe9xFamilyWithAKnownFamily):
// no path, a directory, a size beyond a signed 32-bit number and a file that cannot be opened for writing
// give 0; the analysis still reads that file.
TEST(ImageFileSizeDeathTest, ZeroForWhatCannotBeOpenedForWritingOrIsBeyond2GiB) {
  StartDetected(tb::MachineBuilder().Win9x().BiosType(2));
  EXPECT_EQ(Orrivane_GetBIOSFileSize(testing::TempDir().c_str()), 0);
  EXPECT_EQ(Orrivane_GetBIOSFileSize(nullptr), 0);
  TempFile huge("huge.bin"), file("readonly.bin", AmiImage("RV5420"));
  for (const auto& [size, answer] : {std::pair{0x7FFFFFFFLL, 0x7FFFFFFF}, std::pair{0x80000000LL, 0}}) {
    ASSERT_EQ(truncate(huge.path(), size), 0);
    EXPECT_EQ(Orrivane_GetBIOSFileSize(huge.path()), answer);
  }
  ASSERT_EQ(chmod(file.path(), 0444), 0);
  // The read-write open is refused to anyone but an administrator; the
  // child runs as an ordinary user so the test holds when run as root too.
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
        int fd = open(file.path(), O_RDONLY);
        if (fd < 0) _exit(2);  // unreadable: the test would prove nothing
        close(fd);
        _exit(Orrivane_GetBIOSFileSize(file.path()) == 0 && Analyse(file.path()).result == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
