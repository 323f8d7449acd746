// Loading an image file: the result numbers of the load, the chunked read,
// and the file size export.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "image/load_image.h"
#include "image_support.h"

namespace {

using image_test::Analyse;
using image_test::AnalyseImage;
using image_test::FileInfo;
using image_test::ImageRequests;
using image_test::StartDetected;
using image_test::TempFile;

// An image that the AMI identity record alone identifies.
std::vector<uint8_t> AmiImage(const std::string& model) {
  return tb::ImageBuilder(0x20000).AmiRecord(0x100, 2, {model, "AMI ID", "03/15/2009", "V2.0"}).Build();
}

TEST(ImageLoad, BeforeInitializationAnswersZeroAndWritesNothing) {
  StartWith(tb::MachineBuilder().Nt().BiosType(2));
  TempFile file("ami.bin", AmiImage("RV5420"));
  FileInfo info = Analyse(file.path());
  EXPECT_EQ(info.result, 0u);
  EXPECT_EQ(info.idString, "untouched");
  EXPECT_EQ(info.amiTagFound, 0xDEADBEEFu);
  EXPECT_TRUE(tb::ServiceRequests().empty());
  ExpectNothingOutstanding();
}

TEST(ImageLoad, MissingFileGives211AndRepeatsThePreviousImage) {
  StartDetected();
  ASSERT_EQ(AnalyseImage(AmiImage("RV5420")).result, 0u);
  FileInfo info = Analyse((testing::TempDir() + "no-such-image.bin").c_str());
  EXPECT_EQ(info.result, 211u);
  EXPECT_EQ(info.model, "RV5420");
  EXPECT_EQ(info.idString, "AMI ID");
  EXPECT_EQ(info.version, "V2.0");
  EXPECT_EQ(info.date, "03/15/2009");
  EXPECT_EQ(info.amiTagFound, 1u);
  ExpectNothingOutstanding();
}

TEST(ImageLoad, UnreadablePathsGive211) {
  StartDetected();
  EXPECT_EQ(Analyse(nullptr).result, 211u);
  // A directory opens as a stream on Linux but has no size to read.
  EXPECT_EQ(Analyse(testing::TempDir().c_str()).result, 211u);
  ExpectNothingOutstanding();
}

TEST(ImageLoad, FileBeyondTheLargestImageGives211WithoutAllocating) {
  StartDetected();
  TempFile file("huge.bin");
  int fd = open(file.path(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 0x80000000LL), 0);  // sparse: 2 GiB, one byte past the largest
  close(fd);
  EXPECT_EQ(Analyse(file.path()).result, 211u);
  ExpectNothingOutstanding();
}

struct LoadFailure {
  const char* name;
  int failAllocAt;
  int failLockAt;
  uint32_t result;
};

class ImageLoadFailure : public testing::TestWithParam<LoadFailure> {};

TEST_P(ImageLoadFailure, GivesItsNumberAndLeavesNoBlock) {
  const LoadFailure& c = GetParam();
  StartDetected();
  TempFile file("ami.bin", AmiImage("RV5420"));
  if (c.failAllocAt) tb::FailGlobalAllocAt(c.failAllocAt);
  if (c.failLockAt) tb::FailGlobalLockAt(c.failLockAt);
  FileInfo info = Analyse(file.path());
  EXPECT_EQ(info.result, c.result);
  // The load stopped before the classification: nothing of the image reached the record.
  EXPECT_EQ(info.model, "");
  EXPECT_EQ(info.amiTagFound, 0u);
  ExpectNothingOutstanding();
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageLoadFailure,
                         testing::Values(LoadFailure{"NoMemoryForTheImage", 1, 0, 302},
                                         LoadFailure{"ImageCannotBeLocked", 0, 1, 303}),
                         [](const testing::TestParamInfo<LoadFailure>& info) { return info.param.name; });

TEST(ImageLoad, EmptyFileGives301) {
  StartDetected();
  EXPECT_EQ(AnalyseImage({}, "empty.bin").result, 301u);
  ExpectNothingOutstanding();
}

TEST(ImageLoad, FileWithoutAnyMarkGives304BeforeAnyServiceRequest) {
  StartDetected();
  FileInfo info = AnalyseImage(tb::ImageBuilder(0x40000).Build());
  EXPECT_EQ(info.result, 304u);
  EXPECT_EQ(info.idString, "N/A");
  EXPECT_EQ(info.date, "N/A");
  EXPECT_EQ(info.amiTagFound, 0u);
  EXPECT_TRUE(ImageRequests().empty());
  ExpectNothingOutstanding();
}

TEST(ImageLoad, AmiRecordFinishesTheAnalysisWithoutTheService) {
  StartDetected();
  FileInfo info = AnalyseImage(AmiImage("RV5420"));
  EXPECT_EQ(info.result, 0u);
  EXPECT_EQ(info.amiTagFound, 1u);
  EXPECT_EQ(info.model, "RV5420");
  EXPECT_EQ(info.dateCode, 20090315u);
  EXPECT_TRUE(ImageRequests().empty());
  ExpectNothingOutstanding();
}

TEST(ImageLoad, EveryStepWorksFromTheFilesSizeNotTheBlocks) {
  // GlobalSize may report more than was asked for: here blocks round up to
  // 4 KiB. The F area, the tail area and the flash addresses of the ROM map
  // all count from the file's end, and the slack is not image content.
  StartDetected(tb::MachineBuilder().Nt().BiosType(2).GlobalSizeGranularity(0x1000));
  tb::ImageBuilder record(0x20008);
  record.AmiRecordV1(0x100, 0x1000, 0x1100, 0x1200, 0x1300)
      .Text(record.FArea() + 0x1000, "AB12")
      .Text(record.FArea() + 0x1100, "AB12 ID")
      .Text(record.FArea() + 0x1200, "03/15/2009")
      .Text(record.FArea() + 0x1300, "V1");
  FileInfo info = AnalyseImage(record.Build());
  EXPECT_EQ(info.result, 0u);
  EXPECT_EQ(info.model, "AB12");

  tb::ImageBuilder packed(0x80010);
  packed.Meo(0x400, tb::BytesOf("TAGMODEL "))
      .Member(0x20000, image_test::SystemBiosMember("RV5420"))
      .BRomMap(packed.TailArea() + 0x1000, packed.FlashAddress(0x20000), packed.FlashAddress(0x40000), 0, 0);
  info = AnalyseImage(packed.Build());
  EXPECT_EQ(info.result, 0u);
  EXPECT_EQ(info.model, "RV5420");
  ExpectNothingOutstanding();
}

TEST(ImageLoad, SecondChunkLandsBehindTheFirst) {
  // 32,769 bytes: the model marker straddles the two reads.
  StartDetected();
  tb::ImageBuilder image(32769);
  image.Meo(32769 - 8, tb::BytesOf("RV54"));
  FileInfo info = AnalyseImage(image.Build());
  EXPECT_EQ(info.model, "RV54");
  ExpectNothingOutstanding();
}

// Every read the loader asks for, in order.
std::vector<size_t> g_asks;

size_t WatchedRead(void* dst, size_t size, size_t count, FILE* file) {
  g_asks.push_back(size * count);
  return std::fread(dst, size, count, file);
}

TEST(ImageChunks, ReadErrorEndsTheLoop) {
  TempFile file("chunks.bin", std::vector<uint8_t>(0x10000, 0xA5));
  FILE* stream = std::fopen(file.path(), "ab");  // no read allowed: every read fails
  ASSERT_NE(stream, nullptr);
  std::vector<uint8_t> dst(0x10000);
  EXPECT_FALSE(orr::ReadInChunks(stream, dst.data(), 0x10000));
  std::fclose(stream);
}

TEST(ImageChunks, FileShorterThanItsMeasuredSizeEndsTheLoop) {
  // As if the file shrank after its size was taken.
  TempFile file("chunks.bin", std::vector<uint8_t>(40000, 0xA5));
  FILE* stream = std::fopen(file.path(), "rb");
  std::vector<uint8_t> dst(0x10000);
  g_asks.clear();
  EXPECT_FALSE(orr::ReadInChunks(stream, dst.data(), 0x10000, WatchedRead));
  std::fclose(stream);
  EXPECT_EQ(g_asks, (std::vector<size_t>{32768, 32768, 25536}));  // the empty third read ends it
}

TEST(ImageChunks, ReadsAtMost32KiBAndNeverMoreThanIsMissing) {
  std::vector<uint8_t> bytes;
  for (uint32_t i = 0; i < 32769; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
  TempFile file("chunks.bin", bytes);
  FILE* stream = std::fopen(file.path(), "rb");
  std::vector<uint8_t> dst(32769);
  g_asks.clear();
  ASSERT_TRUE(orr::ReadInChunks(stream, dst.data(), 32769, WatchedRead));
  std::fclose(stream);
  EXPECT_EQ(g_asks, (std::vector<size_t>{32768, 1}));
  EXPECT_EQ(dst, bytes);
}

// Orrivane_GetBIOSFileSize

TEST(ImageFileSize, NtFamilyAlwaysAnswersZero) {
  StartDetected(tb::MachineBuilder().Nt().BiosType(2));
  TempFile file("size.bin", std::vector<uint8_t>(0x80000, 0));
  EXPECT_EQ(Orrivane_GetBIOSFileSize(file.path()), 0);
}

TEST(ImageFileSize, UnopenablePathsGiveZero) {
  StartDetected(tb::MachineBuilder().Win9x().BiosType(2));
  EXPECT_EQ(Orrivane_GetBIOSFileSize((testing::TempDir() + "no-such-file.bin").c_str()), 0);
  EXPECT_EQ(Orrivane_GetBIOSFileSize(testing::TempDir().c_str()), 0);  // a directory cannot be opened for writing
  EXPECT_EQ(Orrivane_GetBIOSFileSize(nullptr), 0);
}

TEST(ImageFileSize, SizeBeyondASigned32BitNumberGivesZero) {
  StartDetected(tb::MachineBuilder().Win9x().BiosType(2));
  TempFile file("huge.bin");
  int fd = open(file.path(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 0x7FFFFFFFLL), 0);
  close(fd);
  EXPECT_EQ(Orrivane_GetBIOSFileSize(file.path()), 0x7FFFFFFF);
  fd = open(file.path(), O_WRONLY);
  ASSERT_EQ(ftruncate(fd, 0x80000000LL), 0);
  close(fd);
  EXPECT_EQ(Orrivane_GetBIOSFileSize(file.path()), 0);
}

TEST(ImageFileSize, NinetyXFamilyReportsTheSize) {
  StartDetected(tb::MachineBuilder().Win9x().BiosType(2));
  TempFile file("size.bin", std::vector<uint8_t>(0x80000, 0));
  EXPECT_EQ(Orrivane_GetBIOSFileSize(file.path()), 524288);
  // Nothing of the image record is touched.
  EXPECT_EQ(ImageBios.amiTagFound, 0u);
}

TEST(ImageFileSizeDeathTest, ReadOnlyFileGivesZeroWhileTheAnalysisReadsIt) {
  StartDetected(tb::MachineBuilder().Win9x().BiosType(2));
  TempFile file("readonly.bin", AmiImage("RV5420"));
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
