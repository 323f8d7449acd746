#include "lh5_encoder.h"

#include <algorithm>
#include <queue>

namespace tb {

namespace {

constexpr uint32_t kWindow = 1u << 13;  // 8 KiB history
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 256;
constexpr uint32_t kMaxChain = 256;       // candidates tried per position
constexpr int kCodeSymbols = 510;         // 256 literals, then match lengths 3..256
constexpr int kCodeBits = 9;              // width of the code table's count
constexpr int kOffsetSymbols = 14;        // distance bit lengths 0..13
constexpr int kOffsetBits = 4;
constexpr int kTempSymbols = 19;          // zero runs 0..2, then code lengths 1..16
constexpr int kTempBits = 5;
constexpr int kMaxCodeLength = 16;

struct Token {
  uint16_t symbol;  // a literal byte, or 256 + length - 3
  uint16_t offset;  // distance - 1, for a match
};

class BitWriter {
 public:
  // The low count bits of value, highest first.
  void Put(uint32_t count, uint32_t value) {
    for (uint32_t i = count; i-- > 0;) {
      acc_ = static_cast<uint8_t>(acc_ << 1 | ((value >> i) & 1));
      if (++fill_ == 8) {
        out_.push_back(acc_);
        acc_ = 0;
        fill_ = 0;
      }
    }
  }
  std::vector<uint8_t> Finish() {
    if (fill_) out_.push_back(static_cast<uint8_t>(acc_ << (8 - fill_)));
    fill_ = 0;
    acc_ = 0;
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
  uint8_t acc_ = 0;
  uint32_t fill_ = 0;
};

}  // namespace

// Frequencies are halved (keeping every used symbol) until the longest code
// fits.
std::vector<uint8_t> Lh5CodeLengths(const std::vector<uint32_t>& counts) {
  std::vector<uint32_t> freq = counts;
  const int n = static_cast<int>(freq.size());
  std::vector<uint8_t> lengths(n, 0);
  for (;;) {
    using Node = std::pair<uint64_t, int>;
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
    std::vector<int> parent;
    for (int i = 0; i < n; ++i) {
      if (freq[i]) {
        queue.push({freq[i], static_cast<int>(parent.size())});
        parent.push_back(-1);
      }
    }
    if (parent.size() < 2) return lengths;
    while (queue.size() > 1) {
      Node a = queue.top();
      queue.pop();
      Node b = queue.top();
      queue.pop();
      int id = static_cast<int>(parent.size());
      parent.push_back(-1);
      parent[a.second] = id;
      parent[b.second] = id;
      queue.push({a.first + b.first, id});
    }
    int longest = 0;
    int leaf = 0;
    for (int i = 0; i < n; ++i) {
      if (!freq[i]) continue;
      int depth = 0;
      for (int p = leaf; parent[p] != -1; p = parent[p]) ++depth;
      lengths[i] = static_cast<uint8_t>(depth);
      longest = std::max(longest, depth);
      ++leaf;
    }
    if (longest <= kMaxCodeLength) return lengths;
    for (auto& f : freq) f = f ? (f + 1) / 2 : 0;
  }
}

namespace {

// Canonical codes: shorter codes first, equal lengths in symbol order, as the
// decoder rebuilds its tree from the lengths alone.
std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  std::vector<uint16_t> codes(lengths.size(), 0);
  uint32_t code = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len) {
    for (size_t s = 0; s < lengths.size(); ++s) {
      if (lengths[s] == len) codes[s] = static_cast<uint16_t>(code++);
    }
    code <<= 1;
  }
  return codes;
}

int UsedSymbols(const std::vector<uint32_t>& freq, int* single) {
  int used = 0;
  for (size_t i = 0; i < freq.size(); ++i) {
    if (freq[i]) {
      ++used;
      *single = static_cast<int>(i);
    }
  }
  return used;
}

int TrimmedCount(const std::vector<uint8_t>& lengths) {
  int n = static_cast<int>(lengths.size());
  while (n > 0 && lengths[n - 1] == 0) --n;
  return n;
}

int OffsetSymbol(uint32_t offset) {
  int bits = 0;
  while (offset) {
    ++bits;
    offset >>= 1;
  }
  return bits;
}

// Lengths of the temporary and offset tables: 0 to 6 in three bits, longer
// ones as 7 followed by (length - 7) one bits and a zero. The temporary table
// lets the decoder skip up to three zero lengths after its third entry.
void WriteSmallTable(BitWriter& w, const std::vector<uint8_t>& lengths, int countBits, int skipAfter) {
  int n = TrimmedCount(lengths);
  w.Put(countBits, n);
  int i = 0;
  while (i < n) {
    int k = lengths[i++];
    if (k <= 6)
      w.Put(3, k);
    else
      w.Put(k - 3, (1u << (k - 3)) - 2);
    if (i == skipAfter) {
      int skip = 0;
      while (skip < 3 && i < n && lengths[i] == 0) {
        ++i;
        ++skip;
      }
      w.Put(2, skip);
    }
  }
}

// The code table's lengths as temporary-table symbols: 0 one zero, 1 a run
// of 3 to 18 zeros (4 more bits), 2 a run of 20 or more (9 more bits), and
// length k as symbol k + 2. Calls emit(symbol, extraBits, extraValue).
template <typename Emit>
void CodeTableSymbols(const std::vector<uint8_t>& lengths, Emit emit) {
  int n = TrimmedCount(lengths);
  int i = 0;
  while (i < n) {
    int k = lengths[i++];
    if (k != 0) {
      emit(k + 2, 0, 0);
      continue;
    }
    int run = 1;
    while (i < n && lengths[i] == 0) {
      ++i;
      ++run;
    }
    if (run <= 2) {
      for (int r = 0; r < run; ++r) emit(0, 0, 0);
    } else if (run <= 18) {
      emit(1, 4, run - 3);
    } else if (run == 19) {
      emit(0, 0, 0);
      emit(1, 4, 15);
    } else {
      emit(2, kCodeBits, run - 20);
    }
  }
}

void WriteBlock(BitWriter& w, const Token* tokens, uint32_t count) {
  std::vector<uint32_t> codeFreq(kCodeSymbols, 0);
  std::vector<uint32_t> offsetFreq(kOffsetSymbols, 0);
  for (uint32_t i = 0; i < count; ++i) {
    ++codeFreq[tokens[i].symbol];
    if (tokens[i].symbol >= 256) ++offsetFreq[OffsetSymbol(tokens[i].offset)];
  }

  w.Put(16, count);

  int single = 0;
  std::vector<uint8_t> codeLen = Lh5CodeLengths(codeFreq);
  std::vector<uint16_t> code = CanonicalCodes(codeLen);
  if (UsedSymbols(codeFreq, &single) == 1) {
    // One symbol: both tables in their single-code form, zero bits per code.
    w.Put(kTempBits, 0);
    w.Put(kTempBits, 0);
    w.Put(kCodeBits, 0);
    w.Put(kCodeBits, single);
  } else {
    std::vector<uint32_t> tempFreq(kTempSymbols, 0);
    CodeTableSymbols(codeLen, [&](int s, int, int) { ++tempFreq[s]; });
    std::vector<uint8_t> tempLen = Lh5CodeLengths(tempFreq);
    std::vector<uint16_t> tempCode = CanonicalCodes(tempLen);
    if (UsedSymbols(tempFreq, &single) == 1) {
      w.Put(kTempBits, 0);
      w.Put(kTempBits, single);
    } else {
      WriteSmallTable(w, tempLen, kTempBits, 3);
    }
    w.Put(kCodeBits, TrimmedCount(codeLen));
    CodeTableSymbols(codeLen, [&](int s, int extraBits, int extra) {
      w.Put(tempLen[s], tempCode[s]);
      w.Put(extraBits, extra);
    });
  }

  std::vector<uint8_t> offsetLen = Lh5CodeLengths(offsetFreq);
  std::vector<uint16_t> offsetCode = CanonicalCodes(offsetLen);
  int offsetsUsed = UsedSymbols(offsetFreq, &single);
  if (offsetsUsed <= 1) {
    w.Put(kOffsetBits, 0);
    w.Put(kOffsetBits, offsetsUsed ? single : 0);
  } else {
    WriteSmallTable(w, offsetLen, kOffsetBits, -1);
  }

  for (uint32_t i = 0; i < count; ++i) {
    const Token& t = tokens[i];
    w.Put(codeLen[t.symbol], code[t.symbol]);
    if (t.symbol < 256) continue;
    int bits = OffsetSymbol(t.offset);
    w.Put(offsetLen[bits], offsetCode[bits]);
    if (bits > 1) w.Put(bits - 1, t.offset & ((1u << (bits - 1)) - 1));
  }
}

class MatchFinder {
 public:
  explicit MatchFinder(const std::vector<uint8_t>& in) : in_(in), prev_(in.size(), -1), head_(1 << 16, -1) {}

  // Enters every position before upTo into the hash chains.
  void InsertUpTo(uint32_t upTo) {
    for (; inserted_ < upTo && inserted_ + kMinMatch <= in_.size(); ++inserted_) {
      uint32_t h = Hash(inserted_);
      prev_[inserted_] = head_[h];
      head_[h] = static_cast<int32_t>(inserted_);
    }
  }

  // The longest earlier match at pos within the window; length 0 if none of
  // at least kMinMatch bytes.
  uint32_t Longest(uint32_t pos, uint32_t* distance) {
    InsertUpTo(pos);
    uint32_t limit = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, in_.size() - pos));
    if (limit < kMinMatch) return 0;
    uint32_t best = 0;
    int32_t cand = head_[Hash(pos)];
    for (uint32_t tries = 0; cand >= 0 && tries < kMaxChain; ++tries, cand = prev_[cand]) {
      uint32_t dist = pos - static_cast<uint32_t>(cand);
      if (dist > kWindow) break;
      uint32_t len = 0;
      while (len < limit && in_[cand + len] == in_[pos + len]) ++len;
      if (len > best) {
        best = len;
        *distance = dist;
        if (len == limit) break;
      }
    }
    return best >= kMinMatch ? best : 0;
  }

 private:
  uint32_t Hash(uint32_t pos) const {
    return (in_[pos] << 8 ^ in_[pos + 1] << 4 ^ in_[pos + 2]) & 0xFFFF;
  }

  const std::vector<uint8_t>& in_;
  std::vector<int32_t> prev_;
  std::vector<int32_t> head_;
  uint32_t inserted_ = 0;
};

// Greedy parse with one step of lazy evaluation: a match is put off by one
// byte when the next position offers a longer one.
std::vector<Token> Parse(const std::vector<uint8_t>& in) {
  std::vector<Token> tokens;
  MatchFinder finder(in);
  uint32_t pos = 0;
  const uint32_t n = static_cast<uint32_t>(in.size());
  while (pos < n) {
    uint32_t dist = 0;
    uint32_t len = finder.Longest(pos, &dist);
    if (len && len < kMaxMatch && pos + 1 < n) {
      uint32_t nextDist = 0;
      uint32_t next = finder.Longest(pos + 1, &nextDist);
      if (next > len) {
        tokens.push_back({in[pos], 0});
        ++pos;
        continue;
      }
    }
    if (len) {
      tokens.push_back({static_cast<uint16_t>(256 + len - kMinMatch), static_cast<uint16_t>(dist - 1)});
      pos += len;
    } else {
      tokens.push_back({in[pos], 0});
      ++pos;
    }
  }
  return tokens;
}

}  // namespace

std::vector<uint8_t> Lh5Encode(const std::vector<uint8_t>& input, uint32_t maxBlockCodes) {
  if (maxBlockCodes == 0) maxBlockCodes = 1;
  if (maxBlockCodes > 0xFFFF) maxBlockCodes = 0xFFFF;
  std::vector<Token> tokens = Parse(input);
  BitWriter w;
  for (size_t at = 0; at < tokens.size(); at += maxBlockCodes) {
    uint32_t count = static_cast<uint32_t>(std::min<size_t>(maxBlockCodes, tokens.size() - at));
    WriteBlock(w, tokens.data() + at, count);
  }
  return w.Finish();
}

}  // namespace tb
