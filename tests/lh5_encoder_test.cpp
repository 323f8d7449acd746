// Our LH5 streams are real LH5: liblhasa's decoder and Debian's lhasa
// archiver read them back byte for byte, and they really compress.
#include <gtest/gtest.h>
#include <lha_decoder.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "image_builder.h"
#include "lh5_encoder.h"
#include "lzh_member.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Source {
  const Bytes* data;
  size_t at;
};

size_t Read(void* buf, size_t len, void* user) {
  auto* s = static_cast<Source*>(user);
  size_t n = std::min(len, s->data->size() - s->at);
  std::copy_n(s->data->begin() + s->at, n, static_cast<uint8_t*>(buf));
  s->at += n;
  return n;
}

// Decodes straight through liblhasa, without our member parsing in between.
Bytes Liblhasa(const Bytes& packed, size_t originalSize) {
  char name[] = "-lh5-";
  Source src{&packed, 0};
  LHADecoder* d = lha_decoder_new(lha_decoder_for_name(name), Read, &src, originalSize);
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
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

Bytes Repeat(const Bytes& unit, size_t times) {
  Bytes b;
  for (size_t i = 0; i < times; ++i) b.insert(b.end(), unit.begin(), unit.end());
  return b;
}

// Literals with very unequal counts, shuffled.
Bytes SkewedLiterals() {
  Bytes b;
  uint32_t f1 = 1, f2 = 1;
  for (int s = 0; s < 24; ++s) {
    b.insert(b.end(), f1, static_cast<uint8_t>(s * 7));
    uint32_t f3 = f1 + f2;
    f1 = f2;
    f2 = f3;
  }
  std::shuffle(b.begin(), b.end(), std::mt19937(5));
  return b;
}

Bytes Text() {
  const std::string words[] = {"the ", "flash ", "part ", "holds ", "a ", "system ", "BIOS ", "image, ", "and ",
                               "its ", "F segment ", "carries ", "identity ", "texts. "};
  std::mt19937 rng(9);
  std::string t;
  while (t.size() < 40000) t += words[rng() % std::size(words)];
  return Bytes(t.begin(), t.end());
}

struct Case {
  const char* name;
  Bytes input;
  uint32_t blockCodes = tb::kLh5DefaultBlockCodes;
};

std::vector<Case> Cases() {
  Bytes window = Random(0x2000, 3);
  Bytes pastWindow = Random(0x2001, 4);
  return {
      {"Empty", {}},
      {"OneByte", {0x5A}},
      {"TwoBytes", {0x00, 0xFF}},
      {"ThreeEqualBytes", {7, 7, 7}},
      {"LongRunOfOneByte", Bytes(5000, 0xFF)},
      {"RunJustPastLongestMatch", Bytes(1 + 256 + 1, 0x41)},
      {"AllByteValues", Repeat([] { Bytes b(256); for (int i = 0; i < 256; ++i) b[i] = i; return b; }(), 3)},
      {"Random64K", Random(0x10000, 1)},
      {"Random128K", Random(0x20000, 2)},
      {"RepeatAtWholeWindow", Repeat(window, 3)},
      {"RepeatJustBeyondWindow", Repeat(pastWindow, 3)},
      {"Text", Text()},
      {"SkewedLiterals", SkewedLiterals()},
      {"SystemBios64K", tb::SystemBios(0x10000, "ID", "x01/02/03-V-M-00", "<M>")},
      {"SystemBios128K", tb::SystemBios(0x20000, "ID", "x01/02/03-V-M-00", "<M>")},
      {"OneCodePerBlock", Text(), 1},
      {"TwoCodesPerBlock", Bytes(600, 0x33), 2},
      {"LargestBlock", tb::SystemBios(0x20000, "ID", "x01/02/03-V-M-00", "<M>"), 0xFFFF},
  };
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Lh5RoundTrip : public testing::TestWithParam<Case> {};

TEST_P(Lh5RoundTrip, LiblhasaDecodesExactlyTheInput) {
  const Case& c = GetParam();
  Bytes packed = tb::Lh5Encode(c.input, c.blockCodes);
  EXPECT_EQ(Liblhasa(packed, c.input.size()), c.input);
}

INSTANTIATE_TEST_SUITE_P(Inputs, Lh5RoundTrip, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

uint64_t KraftSum(const std::vector<uint8_t>& lengths) {  // in units of 2^-16
  uint64_t sum = 0;
  for (uint8_t len : lengths)
    if (len) sum += uint64_t{1} << (16 - len);
  return sum;
}

TEST(Lh5CodeLengths, FewerThanTwoUsedSymbolsGetNoCode) {
  EXPECT_EQ(tb::Lh5CodeLengths({0, 0, 0}), (std::vector<uint8_t>{0, 0, 0}));
  EXPECT_EQ(tb::Lh5CodeLengths({0, 9, 0}), (std::vector<uint8_t>{0, 0, 0}));
  EXPECT_EQ(tb::Lh5CodeLengths({0, 9, 0, 1}), (std::vector<uint8_t>{0, 1, 0, 1}));
}

TEST(Lh5CodeLengths, FibonacciCountsAreCutToSixteenBitsAndStayComplete) {
  // Unlimited, the rarest of these would need 29 bits.
  std::vector<uint32_t> freq(40, 0);
  uint32_t f1 = 1, f2 = 1;
  for (int s = 0; s < 30; ++s) {
    freq[s + 5] = f1;
    uint32_t f3 = f1 + f2;
    f1 = f2;
    f2 = f3;
  }
  std::vector<uint8_t> len = tb::Lh5CodeLengths(freq);
  for (size_t s = 0; s < freq.size(); ++s) {
    EXPECT_LE(len[s], 16) << s;
    EXPECT_EQ(len[s] != 0, freq[s] != 0) << s;
  }
  EXPECT_EQ(KraftSum(len), uint64_t{1} << 16) << "the decoder's tree would have holes";
}

TEST(Lh5Compression, RandomBytesGrowOnlyByTheTables) {
  Bytes in = Random(0x10000, 11);
  EXPECT_LE(tb::Lh5Encode(in).size(), in.size() + in.size() / 50 + 64);
}

TEST(Lh5Compression, RepeatedPatternBecomesLongMatches) {
  // Literals alone would need at least 7 bits per byte here.
  Bytes in = Repeat(Random(100, 12), 655);
  EXPECT_LT(tb::Lh5Encode(in).size(), 1024u);
}

TEST(Lh5Compression, SystemBiosShrinksBelowHalf) {
  Bytes in = tb::SystemBios(0x20000, "ID", "x01/02/03-V-M-00", "<M>");
  EXPECT_LT(tb::Lh5Encode(in).size(), in.size() / 2);
}

TEST(Lh5Compression, SameInputGivesSameStream) {
  Bytes in = Text();
  EXPECT_EQ(tb::Lh5Encode(in), tb::Lh5Encode(in));
}

// Debian's lhasa reads an archive of our members: -lh5- and -lh0-, the
// system BIOS member's words at 15 and 17, extended headers and an empty
// member.
class LhasaArchiver : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orrivane-lh5-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  int Run(const std::string& args) {
    return std::system(("cd '" + dir_ + "' && lhasa " + args + " >/dev/null 2>&1").c_str());
  }
  Bytes ReadFile(const std::string& name) {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  std::string dir_;
};

TEST_F(LhasaArchiver, ExtractsEveryMemberByteForByte) {
  ASSERT_EQ(std::system("command -v lhasa >/dev/null 2>&1"), 0) << "Debian's lhasa tool is needed";
  struct Entry {
    std::string name;
    Bytes original;
    tb::LzhMethod method;
    bool systemBios;
    std::vector<tb::LzhExtHeader> ext;
  };
  const std::vector<Entry> entries = {
      {"original.tmp", tb::SystemBios(0x20000, "ID", "x11/02/09-1.30-RV5420-00", "<RV5420>"), tb::LzhMethod::Lh5,
       true, {}},
      {"random.bin", Random(30000, 21), tb::LzhMethod::Lh5, false, {}},
      {"text.txt", Text(), tb::LzhMethod::Lh0, false, {}},
      {"tagged.bin", Text(), tb::LzhMethod::Lh5, false, {{0x40, {0x20, 0x00}}, {0x54, {0x00, 0x00, 0x00, 0x4B}}}},
      {"empty.bin", {}, tb::LzhMethod::Lh5, false, {}},
  };
  std::vector<Bytes> members;
  for (const Entry& e : entries) members.push_back(tb::LzhMember(e.name, e.original, e.method, e.systemBios, e.ext));
  ASSERT_TRUE(tb::WriteImageFile(dir_ + "/members.lzh", tb::LzhArchive(members)));

  EXPECT_EQ(Run("t members.lzh"), 0) << "lhasa's own CRC and length test";
  ASSERT_EQ(Run("xq members.lzh"), 0);
  for (const Entry& e : entries) EXPECT_EQ(ReadFile(e.name), e.original) << e.name;
}

}  // namespace
