// The simulated physical memory: the first megabyte in a plain buffer, the
// rest of the 4 GiB in a sparse memory file whose holes read as zero.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "testbed.h"

#if defined(__SANITIZE_ADDRESS__)
#define TB_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TB_ASAN 1
#endif
#endif
#ifdef TB_ASAN
#include <sanitizer/asan_interface.h>
#endif
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define TB_MEMCHECK 1
#endif

namespace tb {
namespace {

constexpr uint64_t kSpace = 1ull << 32;
constexpr size_t kPage = 0x1000;

// The checkers learn which bytes of a mapping belong to its window, so a
// read beside the window or of a released one is reported as it was when
// windows were copies.
void Forbid(const void* at, size_t size) {
  if (size == 0) return;
#ifdef TB_ASAN
  ASAN_POISON_MEMORY_REGION(at, size);
#endif
#ifdef TB_MEMCHECK
  VALGRIND_MAKE_MEM_NOACCESS(at, size);
#endif
  (void)at;
}

void Allow(const void* at, size_t size) {
  if (size == 0) return;
#ifdef TB_ASAN
  ASAN_UNPOISON_MEMORY_REGION(at, size);
#endif
#ifdef TB_MEMCHECK
  VALGRIND_MAKE_MEM_DEFINED(at, size);
#endif
  (void)at;
}

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  std::abort();
}

// Full reads and writes of the file; the file is never shorter than 4 GiB.
void ReadFile(int fd, uint64_t at, uint8_t* out, size_t size) {
  while (size > 0) {
    ssize_t got = pread(fd, out, size, static_cast<off_t>(at));
    if (got <= 0) Fail("testbed memory read");
    out += got;
    at += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
}

void WriteFile(int fd, uint64_t at, const uint8_t* bytes, size_t size) {
  while (size > 0) {
    ssize_t put = pwrite(fd, bytes, size, static_cast<off_t>(at));
    if (put <= 0) Fail("testbed memory write");
    bytes += put;
    at += static_cast<uint64_t>(put);
    size -= static_cast<size_t>(put);
  }
}

}  // namespace

PhysicalMemory::PhysicalMemory() = default;

PhysicalMemory::PhysicalMemory(const PhysicalMemory& other) { *this = other; }

// The file and its mappings stay: a window shown from this memory keeps
// showing it, now with the other memory's bytes.
PhysicalMemory& PhysicalMemory::operator=(const PhysicalMemory& other) {
  if (this == &other) return *this;
  low_ = other.low_;
  lowWritten_ = other.lowWritten_;
  for (uint32_t chunk : written_) {
    if (other.written_.count(chunk)) continue;
    if (fallocate(high_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(chunk) * kChunk, kChunk) != 0)
      Fail("testbed memory clear");
  }
  std::vector<uint8_t> buffer(other.written_.empty() ? 0 : kChunk);
  for (uint32_t chunk : other.written_) {
    ReadFile(other.high_, static_cast<uint64_t>(chunk) * kChunk, buffer.data(), kChunk);
    WriteFile(High(), static_cast<uint64_t>(chunk) * kChunk, buffer.data(), kChunk);
  }
  written_ = other.written_;
  return *this;
}

PhysicalMemory::PhysicalMemory(PhysicalMemory&& other) noexcept { Swap(other); }

PhysicalMemory& PhysicalMemory::operator=(PhysicalMemory&& other) noexcept {
  PhysicalMemory gone(std::move(*this));
  Swap(other);
  return *this;
}

PhysicalMemory::~PhysicalMemory() {
  ReleaseMappings();
  if (high_ >= 0) close(high_);
}

void PhysicalMemory::Swap(PhysicalMemory& other) noexcept {
  low_.swap(other.low_);
  std::swap(lowWritten_, other.lowWritten_);
  std::swap(high_, other.high_);
  written_.swap(other.written_);
  mappings_.swap(other.mappings_);
}

int PhysicalMemory::High() {
  if (high_ >= 0) return high_;
  high_ = memfd_create("tb-physical-memory", MFD_CLOEXEC);
  if (high_ < 0) Fail("testbed memory file");
  if (ftruncate(high_, static_cast<off_t>(kSpace)) != 0) Fail("testbed memory size");
  return high_;
}

uint8_t* PhysicalMemory::LowMemory() {
  if (low_.empty()) low_.assign(kLowSize, 0);
  return low_.data();
}

void PhysicalMemory::Clear() {
  for (uint32_t chunk = 0; chunk < kLowSize / kChunk; ++chunk)
    if (lowWritten_ & (1u << chunk)) std::memset(low_.data() + chunk * kChunk, 0, kChunk);
  lowWritten_ = 0;
  for (uint32_t chunk : written_)
    if (fallocate(high_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(chunk) * kChunk, kChunk) != 0)
      Fail("testbed memory clear");
  written_.clear();
}

void PhysicalMemory::ReleaseMappings() {
  for (auto& [range, m] : mappings_) {
    Allow(m.base, m.span + kPage);
    munmap(m.base, m.span + kPage);
  }
  mappings_.clear();
}

void PhysicalMemory::Write(uint32_t address, const uint8_t* bytes, size_t size) {
  while (size > 0) {
    // The address wraps at 4 GiB like the address space.
    if (address < kLowSize) {
      size_t n = std::min<size_t>(size, kLowSize - address);
      std::memcpy(LowMemory() + address, bytes, n);
      for (uint32_t chunk = address / kChunk; chunk <= (address + n - 1) / kChunk; ++chunk) lowWritten_ |= 1u << chunk;
      bytes += n;
      size -= n;
      address += static_cast<uint32_t>(n);
      continue;
    }
    size_t n = std::min<uint64_t>(size, kSpace - address);
    WriteFile(High(), address, bytes, n);
    for (uint64_t chunk = address / kChunk; chunk <= (address + n - 1) / kChunk; ++chunk)
      written_.insert(static_cast<uint32_t>(chunk));
    bytes += n;
    size -= n;
    address = static_cast<uint32_t>(address + n);
  }
}

void PhysicalMemory::WriteText(uint32_t address, const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  Write(address, bytes);
}

void PhysicalMemory::Read(uint32_t address, uint8_t* out, size_t size) const {
  while (size > 0) {
    if (address < kLowSize) {
      size_t n = std::min<size_t>(size, kLowSize - address);
      if (low_.empty())
        std::memset(out, 0, n);
      else
        std::memcpy(out, low_.data() + address, n);
      out += n;
      size -= n;
      address += static_cast<uint32_t>(n);
      continue;
    }
    size_t n = std::min<uint64_t>(size, kSpace - address);
    if (high_ >= 0)
      ReadFile(high_, address, out, n);
    else
      std::memset(out, 0, n);
    out += n;
    size -= n;
    address = static_cast<uint32_t>(address + n);
  }
}

std::vector<uint8_t> PhysicalMemory::Read(uint32_t address, size_t size) const {
  std::vector<uint8_t> out(size);
  Read(address, out.data(), size);
  return out;
}

const uint8_t* PhysicalMemory::View(uint32_t address, uint32_t length) {
  if (address < kLowSize || length == 0 || address + static_cast<uint64_t>(length) > kSpace) return nullptr;
  auto it = mappings_.find({address, length});
  if (it != mappings_.end()) {
    if (it->second.open++ == 0) Allow(it->second.bytes, it->second.length);
    return it->second.bytes;
  }
  const uint64_t first = address & ~static_cast<uint64_t>(kPage - 1);
  const size_t lead = static_cast<size_t>(address - first);
  const size_t span = (lead + length + kPage - 1) & ~(kPage - 1);
  // The pages, then one page that faults, so a read past the last page stops
  // the test even without a checker.
  void* base = mmap(nullptr, span + kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  if (mmap(base, span, PROT_READ, MAP_SHARED | MAP_FIXED, High(), static_cast<off_t>(first)) == MAP_FAILED) {
    munmap(base, span + kPage);
    return nullptr;
  }
  uint8_t* pages = static_cast<uint8_t*>(base);
  Forbid(pages, lead);
  Forbid(pages + lead + length, span - lead - length);
  mappings_.emplace(std::make_pair(address, length), Mapping{pages, span, pages + lead, length, 1});
  return pages + lead;
}

void PhysicalMemory::Retire(const uint8_t* view) {
  for (auto& [range, m] : mappings_)
    if (m.bytes == view && m.open > 0 && --m.open == 0) Forbid(m.bytes, m.length);
}

}  // namespace tb
