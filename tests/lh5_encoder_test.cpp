// Our LH5 streams are real LH5: liblhasa and Debian's lhasa read them back, and they compress.
#include <gtest/gtest.h>
#include <lha_decoder.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "image_builder.h"
#include "lh5_encoder.h"
#include "lzh_member.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Decodes straight through liblhasa, without our member parsing in between.
Bytes Liblhasa(const Bytes& packed, size_t originalSize) {
  char name[] = "-lh5-";
  std::pair<const Bytes*, size_t> src{&packed, 0};  // the stream and how much of it was read
  const auto read = [](void* buf, size_t len, void* user) {
    auto& [data, at] = *static_cast<std::pair<const Bytes*, size_t>*>(user);
    const size_t n = std::min(len, data->size() - at);
    std::copy_n(data->begin() + static_cast<std::ptrdiff_t>(at), n, static_cast<uint8_t*>(buf));
    at += n;
    return n;
  };
  LHADecoder* d = lha_decoder_new(lha_decoder_for_name(name), read, &src, originalSize);
  EXPECT_NE(d, nullptr);
  if (!d) return {};
  Bytes out(originalSize + 16, 0xEE);  // room to notice output beyond the length
  size_t got = 0;
  while (size_t n = lha_decoder_read(d, out.data() + got, out.size() - got)) got += n;
  lha_decoder_free(d);
  out.resize(got);
  return out;
}

Bytes Random(size_t n, uint32_t seed) {
  Bytes b(n);
  std::generate(b.begin(), b.end(), [rng = std::mt19937(seed)]() mutable { return static_cast<uint8_t>(rng()); });
  return b;
}

Bytes Repeat(const Bytes& unit, size_t times) {
  Bytes b;
  while (times--) b.insert(b.end(), unit.begin(), unit.end());
  return b;
}

// Literals counted as the Fibonacci numbers, shuffled: their codes must be cut to LH5's 16 bits.
Bytes SkewedLiterals() {
  Bytes b;
  for (uint32_t s = 0, f1 = 1, f2 = 1; s < 24; ++s, f2 += f1, f1 = f2 - f1)
    b.insert(b.end(), f1, static_cast<uint8_t>(s * 7));
  std::shuffle(b.begin(), b.end(), std::mt19937(5));
  return b;
}

Bytes Bios128K() { return tb::SystemBios(0x20000, "ID", "x11/02/09-1.30-RV5420-00", "<RV5420>"); }

TEST(Lh5RoundTrip, LiblhasaDecodesExactlyTheInput) {
  const struct { const char* name; Bytes input; uint32_t blockCodes = tb::kLh5DefaultBlockCodes; } cases[] = {
      {"Empty", {}},
      {"LongRunOfOneByte", Bytes(5000, 0xFF)},  // tables of a single code
      {"RunJustPastLongestMatch", Bytes(1 + 256 + 1, 0x41)},
      {"RepeatAtWholeWindow", Repeat(Random(0x2000, 3), 3)},
      {"RepeatJustBeyondWindow", Repeat(Random(0x2001, 4), 3)},
      {"SkewedLiterals", SkewedLiterals()},
      {"OneCodePerBlock", tb::FirmwareFiller(20000, 9), 1},
      {"LargestBlock", Bios128K(), 0xFFFF}};
  for (const auto& c : cases)
    EXPECT_EQ(Liblhasa(tb::Lh5Encode(c.input, c.blockCodes), c.input.size()), c.input) << c.name;
}

// Random bytes grow by the tables only; a repeated pattern becomes matches; a system BIOS halves.
TEST(Lh5Compression, CompressesAsAnArchiverWould) {
  const Bytes random = Random(0x10000, 11), pattern = Repeat(Random(100, 12), 655), bios = Bios128K();
  EXPECT_LE(tb::Lh5Encode(random).size(), random.size() + random.size() / 50 + 64);
  EXPECT_LT(tb::Lh5Encode(pattern).size(), 1024u);
  EXPECT_LT(tb::Lh5Encode(bios).size(), bios.size() / 2);
}

// lhasa reads our -lh5- members (the system BIOS one, extended headers, empty) and a -lh0- one.
TEST(LhasaArchiver, ExtractsEveryMemberByteForByte) {
  ASSERT_EQ(std::system("command -v lhasa >/dev/null 2>&1"), 0) << "Debian's lhasa tool is needed";
  char pattern[] = "/tmp/orrivane-lh5-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::pair<std::string, Bytes> files[] = {
      {"original.tmp", Bios128K()}, {"stored.bin", tb::FirmwareFiller(30000, 21)}, {"tagged.bin", Random(3000, 22)},
      {"empty.bin", {}}};
  ASSERT_TRUE(tb::WriteImageFile(
      dir + "/members.lzh",
      tb::LzhArchive({tb::LzhMember(files[0].first, files[0].second, tb::LzhMethod::Lh5, true),
                      tb::LzhMember(files[1].first, files[1].second, tb::LzhMethod::Lh0, false),
                      tb::LzhMember(files[2].first, files[2].second, tb::LzhMethod::Lh5, false,
                                    {{0x40, {0x20, 0x00}}, {0x54, {0, 0, 0, 0x4B}}}),
                      tb::LzhMember(files[3].first, files[3].second, tb::LzhMethod::Lh5, false)})));
  EXPECT_EQ(std::system(("(cd '" + dir + "' && lhasa t members.lzh && lhasa xq members.lzh) >/dev/null 2>&1").c_str()),
            0) << "lhasa's own CRC and length test, then the extraction";
  for (const auto& [name, original] : files) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), original) << name;
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
