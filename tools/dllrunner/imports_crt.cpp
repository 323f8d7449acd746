// The C runtime (msvcrt.dll) as the DLL and its static runtime use it:
// memory and string functions working on guest memory in place, a guest
// heap, files and descriptors on the host's files (for reading: the library
// writes nothing), the standard streams on the host's own, and _initterm as
// guest code, since it calls back into the DLL.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dll_runner.h"
#include "guest_format.h"
#include "imports.h"

namespace dllrun {
namespace {

constexpr uint32_t kFileRecordSize = 32;  // msvcrt's FILE
constexpr uint32_t kStreams = 3;          // _iob: stdin, stdout, stderr
constexpr uint32_t kStat32Size = 36;      // struct _stat32, what msvcrt's _fstat fills
constexpr int kEnomem = 12, kEbadf = 9, kEinval = 22;
constexpr uint32_t kEof = 0xFFFFFFFF;
// Descriptor flags of msvcrt's _open.
constexpr uint32_t kOAccess = 0x3, kOAppend = 0x8, kOCreat = 0x100, kOTrunc = 0x200, kOExcl = 0x400,
                   kOTemporary = 0x40;

void SetErrno(ImportCall& c, int error) {
  RuntimeState& s = c.Runner().State();
  if (!s.errnoAddress) s.errnoAddress = c.Runner().Heap().Allocate(4);
  // The numbers below 35 mean the same in msvcrt and on Linux.
  c.PutU32(s.errnoAddress, static_cast<uint32_t>(error > 0 && error < 35 ? error : kEinval));
}

// A fixed text or record in guest memory, made once per runner.
uint32_t Constant(ImportCall& c, const std::string& name, const std::vector<uint8_t>& bytes) {
  auto& constants = c.Runner().State().constants;
  auto it = constants.find(name);
  if (it != constants.end()) return it->second;
  const uint32_t at = c.Runner().Heap().Allocate(static_cast<uint32_t>(bytes.size()));
  if (!at) c.Fail("no guest memory left");
  c.Write(at, bytes.data(), static_cast<uint32_t>(bytes.size()));
  return constants[name] = at;
}

uint32_t ConstantText(ImportCall& c, const std::string& text) {
  return Constant(c, "text:" + text, std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1));
}

// Calls fn on the host bytes of [at, at + n), mapping by mapping, until it
// returns true; stops the run when a part of the range is not accessible.
template <typename Fn>
void EachChunk(ImportCall& c, uint32_t at, uint32_t n, uint32_t access, Fn fn) {
  while (n > 0) {
    const GuestMemory::Mapping* m = c.Memory().Find(at);
    const uint32_t take = m ? static_cast<uint32_t>(std::min<uint64_t>(n, uint64_t{m->start} + m->size - at)) : n;
    uint8_t* bytes = c.Span(at, take, access);  // stops the run with the address when it cannot
    if (fn(bytes, take, at)) return;
    at += take;
    n -= take;
  }
}

// Memory and strings.

void memcpy_(ImportCall& c) {
  const uint32_t dst = c.Arg(0), src = c.Arg(1), n = c.Arg(2);
  if (n) {
    const std::vector<uint8_t> bytes = c.Read(src, n);
    c.Write(dst, bytes.data(), n);
  }
  c.Return(dst);
}

void memset_(ImportCall& c) {
  const uint32_t dst = c.Arg(0), n = c.Arg(2);
  const auto value = static_cast<uint8_t>(c.Arg(1));
  EachChunk(c, dst, n, kWrite, [&](uint8_t* bytes, uint32_t take, uint32_t) {
    std::memset(bytes, value, take);
    return false;
  });
  c.Return(dst);
}

// Like memchr itself, it reads no further than the match.
void memchr_(ImportCall& c) {
  const uint32_t at = c.Arg(0), n = c.Arg(2);
  const auto wanted = static_cast<uint8_t>(c.Arg(1));
  uint32_t found = 0;
  EachChunk(c, at, n, kRead, [&](uint8_t* bytes, uint32_t take, uint32_t chunkAt) {
    const void* hit = std::memchr(bytes, wanted, take);
    if (hit) found = chunkAt + static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - bytes);
    return hit != nullptr;
  });
  c.Return(found);
}

void memcmp_(ImportCall& c) {
  const uint32_t a = c.Arg(0), b = c.Arg(1), n = c.Arg(2);
  int result = 0;
  if (n) {
    const uint8_t* pa = c.Memory().Span(a, n, kRead);
    const uint8_t* pb = c.Memory().Span(b, n, kRead);
    if (pa && pb) {
      result = std::memcmp(pa, pb, n);
    } else {
      const std::vector<uint8_t> va = c.Read(a, n), vb = c.Read(b, n);
      result = std::memcmp(va.data(), vb.data(), n);
    }
  }
  c.Return(static_cast<uint32_t>(result < 0 ? -1 : result > 0 ? 1 : 0));
}

void strlen_(ImportCall& c) { c.Return(static_cast<uint32_t>(c.Text(c.Arg(0)).size())); }

void strchr_(ImportCall& c) {
  const uint32_t at = c.Arg(0);
  const std::string text = c.Text(at);
  const char wanted = static_cast<char>(c.Arg(1));
  const size_t hit = wanted ? text.find(wanted) : text.size();
  c.Return(hit == std::string::npos ? 0 : at + static_cast<uint32_t>(hit));
}

int Compare(const std::string& a, const std::string& b) {
  const int r = std::strcmp(a.c_str(), b.c_str());
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

void strcmp_(ImportCall& c) { c.Return(static_cast<uint32_t>(Compare(c.Text(c.Arg(0)), c.Text(c.Arg(1))))); }

// At most n characters of the text at address, reading no further.
std::string TextUpTo(ImportCall& c, uint32_t address, uint32_t n) {
  std::string text;
  for (uint32_t i = 0; i < n; ++i) {
    const char ch = static_cast<char>(c.Read(address + i, 1)[0]);
    if (!ch) break;
    text.push_back(ch);
  }
  return text;
}

void strncmp_(ImportCall& c) {
  const uint32_t n = c.Arg(2);
  c.Return(static_cast<uint32_t>(Compare(TextUpTo(c, c.Arg(0), n), TextUpTo(c, c.Arg(1), n))));
}

void wcslen_(ImportCall& c) {
  uint32_t n = 0;
  for (uint32_t at = c.Arg(0);; at += 2, ++n) {
    const std::vector<uint8_t> unit = c.Read(at, 2);
    if (unit[0] == 0 && unit[1] == 0) break;
  }
  c.Return(n);
}

// msvcrt's atoi: white space, a sign, decimal digits; out of range it
// saturates as strtol does with a 32-bit long.
void atoi_(ImportCall& c) {
  const std::string text = c.Text(c.Arg(0));
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
  }
  value = negative ? -value : value;
  if (value > INT32_MAX) value = INT32_MAX;
  c.Return(static_cast<uint32_t>(static_cast<int32_t>(value)));
}

void strerror_(ImportCall& c) {
  const int error = c.SignedArg(0);
  const std::string text = error >= 0 && error < 35 ? std::strerror(error) : "Unknown error";
  c.Return(ConstantText(c, text));
}

// The heap.

void malloc_(ImportCall& c) {
  const uint32_t at = c.Runner().Heap().Allocate(c.Arg(0));
  if (!at) SetErrno(c, kEnomem);
  c.Return(at);
}

void calloc_(ImportCall& c) {
  const uint64_t bytes = uint64_t{c.Arg(0)} * c.Arg(1);
  const uint32_t at = bytes > 0xFFFFFFFFu ? 0 : c.Runner().Heap().Allocate(static_cast<uint32_t>(bytes));
  if (!at) SetErrno(c, kEnomem);
  c.Return(at);
}

void free_(ImportCall& c) {
  const uint32_t at = c.Arg(0);
  if (at && !c.Runner().Heap().Free(at))
    c.Fail("frees " + c.Runner().Cpu().Describe(at) + ", which malloc never returned");
}

void realloc_(ImportCall& c) {
  const uint32_t old = c.Arg(0), size = c.Arg(1);
  GuestHeap& heap = c.Runner().Heap();
  if (old && !heap.SizeOf(old))
    c.Fail("reallocates " + c.Runner().Cpu().Describe(old) + ", which malloc never returned");
  if (old && size == 0) {
    heap.Free(old);
    return c.Return(0);
  }
  const uint32_t at = heap.Allocate(size);
  if (!at) {
    SetErrno(c, kEnomem);
    return c.Return(0);
  }
  if (old) {
    const uint32_t keep = std::min(size, heap.SizeOf(old));
    const std::vector<uint8_t> bytes = c.Read(old, keep);
    c.Write(at, bytes.data(), keep);
    heap.Free(old);
  }
  c.Return(at);
}

// Files.

uint32_t StreamBase(ImportCall& c) { return c.Runner().DataAddress("msvcrt.dll", "_iob"); }

// The FILE behind a guest pointer: one of _iob's three or one fopen made.
CrtFile FileOf(ImportCall& c, uint32_t file) {
  const uint32_t streams = StreamBase(c);
  if (streams && file >= streams && file < streams + kStreams * kFileRecordSize &&
      (file - streams) % kFileRecordSize == 0)
    return CrtFile{nullptr, static_cast<int>((file - streams) / kFileRecordSize)};
  auto it = c.Runner().State().files.find(file);
  if (it == c.Runner().State().files.end())
    c.Fail("the FILE pointer " + c.Runner().Cpu().Describe(file) + " was never opened");
  return it->second;
}

// Writes to stdout and stderr go to the host's; files are open for reading only.
uint32_t Put(ImportCall& c, uint32_t file, const void* bytes, uint32_t size) {
  const CrtFile f = FileOf(c, file);
  if (f.stream != 1 && f.stream != 2) {
    SetErrno(c, kEbadf);
    return 0;
  }
  std::FILE* out = f.stream == 1 ? stdout : stderr;
  return static_cast<uint32_t>(std::fwrite(bytes, 1, size, out));
}

void fwrite_(ImportCall& c) {
  const uint64_t total = uint64_t{c.Arg(1)} * c.Arg(2);
  if (total == 0) return c.Return(0);
  if (total > 0x7FFFFFFF) c.Fail("writes more than 2 GiB");
  const std::vector<uint8_t> bytes = c.Read(c.Arg(0), static_cast<uint32_t>(total));
  c.Return(Put(c, c.Arg(3), bytes.data(), static_cast<uint32_t>(total)) / c.Arg(1));
}

void fputs_(ImportCall& c) {
  const std::string text = c.Text(c.Arg(0));
  c.Return(Put(c, c.Arg(1), text.data(), static_cast<uint32_t>(text.size())) == text.size() ? 0 : kEof);
}

void fputc_(ImportCall& c) {
  const auto ch = static_cast<uint8_t>(c.Arg(0));
  c.Return(Put(c, c.Arg(1), &ch, 1) == 1 ? ch : kEof);
}

void vfprintf_(ImportCall& c) {
  const std::string text = RenderFormat(c, c.Text(c.Arg(1)), c.Arg(2), FormatDialect::Msvcrt, PrintWithHost);
  const uint32_t put = Put(c, c.Arg(0), text.data(), static_cast<uint32_t>(text.size()));
  c.Return(put == text.size() ? put : kEof);
}

void fopen_(ImportCall& c) {
  const std::string path = c.Text(c.Arg(0)), mode = c.Text(c.Arg(1));
  if (mode.empty() || mode[0] != 'r' || mode.find('+') != std::string::npos)
    c.Fail("opens \"" + path + "\" with mode \"" + mode + "\"; the runner opens files for reading only");
  std::FILE* host = std::fopen(path.c_str(), "rb");
  if (!host) {
    SetErrno(c, errno);
    return c.Return(0);
  }
  const uint32_t record = c.Runner().Heap().Allocate(kFileRecordSize);
  if (!record) {
    (void)std::fclose(host);  // only read from: nothing to lose
    SetErrno(c, kEnomem);
    return c.Return(0);
  }
  c.Runner().State().files[record] = CrtFile{host, -1};
  c.Return(record);
}

std::FILE* OpenedFile(ImportCall& c, uint32_t file) {
  const CrtFile f = FileOf(c, file);
  if (!f.host) c.Fail("reads or positions a standard stream, which the runner does not provide");
  return f.host;
}

void fclose_(ImportCall& c) {
  const uint32_t file = c.Arg(0);
  std::FILE* host = OpenedFile(c, file);
  c.Runner().State().files.erase(file);
  c.Runner().Heap().Free(file);
  c.Return(std::fclose(host) == 0 ? 0 : kEof);
}

void fread_(ImportCall& c) {
  const uint32_t dst = c.Arg(0), size = c.Arg(1), count = c.Arg(2);
  std::FILE* host = OpenedFile(c, c.Arg(3));
  const uint64_t total = uint64_t{size} * count;
  if (total == 0) return c.Return(0);
  if (total > 0xFFFFFFFFu) c.Fail("reads more than 4 GiB at once");
  // Straight into the guest's pages when the buffer lies in one mapping.
  if (uint8_t* bytes = c.Memory().Span(dst, static_cast<uint32_t>(total), kWrite))
    return c.Return(static_cast<uint32_t>(std::fread(bytes, size, count, host)));
  std::vector<uint8_t> bytes(total);
  const size_t got = std::fread(bytes.data(), size, count, host);
  c.Write(dst, bytes.data(), static_cast<uint32_t>(got * size));
  c.Return(static_cast<uint32_t>(got));
}

void fseek_(ImportCall& c) {
  std::FILE* host = OpenedFile(c, c.Arg(0));
  const int origin = c.SignedArg(2);
  if (origin < 0 || origin > 2) {
    SetErrno(c, kEinval);
    return c.Return(kEof);
  }
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  c.Return(fseeko(host, c.SignedArg(1), whence) == 0 ? 0 : kEof);
}

// A position beyond the 32-bit long is an error, as msvcrt reports it.
void ftell_(ImportCall& c) {
  const off_t at = ftello(OpenedFile(c, c.Arg(0)));
  if (at < 0 || at > INT32_MAX) {
    SetErrno(c, at < 0 ? errno : kEinval);
    return c.Return(kEof);
  }
  c.Return(static_cast<uint32_t>(at));
}

// Descriptors.

void _open_(ImportCall& c) {
  const std::string path = c.Text(c.Arg(0));
  const uint32_t flags = c.Arg(1);
  if (flags & (kOAppend | kOCreat | kOTrunc | kOExcl | kOTemporary))
    c.Fail("opens \"" + path + "\" with flags " + std::to_string(flags) + "; the runner creates and changes no files");
  const uint32_t access = flags & kOAccess;
  if (access == kOAccess) {
    SetErrno(c, kEinval);
    return c.Return(kEof);
  }
  const int host = open(path.c_str(), (access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR) | O_CLOEXEC);
  if (host < 0) {
    SetErrno(c, errno);
    return c.Return(kEof);
  }
  RuntimeState& s = c.Runner().State();
  const int fd = s.nextDescriptor++;
  s.descriptors[fd] = host;
  c.Return(static_cast<uint32_t>(fd));
}

void _close_(ImportCall& c) {
  auto& descriptors = c.Runner().State().descriptors;
  auto it = descriptors.find(c.SignedArg(0));
  if (it == descriptors.end()) {
    SetErrno(c, kEbadf);
    return c.Return(kEof);
  }
  const int result = close(it->second);
  descriptors.erase(it);
  c.Return(result == 0 ? 0 : kEof);
}

void _fstat_(ImportCall& c) {
  auto& descriptors = c.Runner().State().descriptors;
  auto it = descriptors.find(c.SignedArg(0));
  struct stat st;
  if (it == descriptors.end() || fstat(it->second, &st) != 0) {
    SetErrno(c, kEbadf);
    return c.Return(kEof);
  }
  if (st.st_size > INT32_MAX) {  // too large for _stat32's 32-bit size
    SetErrno(c, kEinval);
    return c.Return(kEof);
  }
  uint16_t mode = S_ISDIR(st.st_mode) ? 0x4000 : S_ISCHR(st.st_mode) ? 0x2000 : S_ISFIFO(st.st_mode) ? 0x1000 : 0x8000;
  mode |= 0x0124;                                  // readable by everyone
  if (st.st_mode & S_IWUSR) mode |= 0x0092;        // writable
  uint8_t record[kStat32Size] = {};
  const auto size = static_cast<uint32_t>(st.st_size);
  const auto times = {static_cast<uint32_t>(st.st_atime), static_cast<uint32_t>(st.st_mtime),
                      static_cast<uint32_t>(st.st_ctime)};
  std::memcpy(record + 6, &mode, 2);
  record[8] = 1;  // st_nlink
  std::memcpy(record + 20, &size, 4);
  uint32_t at = 24;
  for (uint32_t t : times) {
    std::memcpy(record + at, &t, 4);
    at += 4;
  }
  c.Write(c.Arg(1), record, sizeof record);
  c.Return(0);
}

// Locale: only the C locale.

void setlocale_(ImportCall& c) {
  const uint32_t locale = c.Arg(1);
  const std::string wanted = locale ? c.Text(locale) : "C";
  c.Return(wanted.empty() || wanted == "C" ? ConstantText(c, "C") : 0);
}

// struct lconv: ten text pointers, then eight chars (CHAR_MAX: not available).
void localeconv_(ImportCall& c) {
  const uint32_t point = ConstantText(c, "."), empty = ConstantText(c, "");
  std::vector<uint8_t> record(48, 127);
  for (uint32_t i = 0; i < 10; ++i) {
    const uint32_t text = i == 0 ? point : empty;
    std::memcpy(record.data() + size_t{4} * i, &text, 4);
  }
  c.Return(Constant(c, "lconv", record));
}

// The rest of the runtime's bookkeeping.

void _errno_(ImportCall& c) {
  RuntimeState& s = c.Runner().State();
  if (!s.errnoAddress) s.errnoAddress = c.Runner().Heap().Allocate(4);
  c.Return(s.errnoAddress);
}

void _lock_(ImportCall& c) { ++c.Runner().State().crtLocks; }

void _unlock_(ImportCall& c) {
  if (c.Runner().State().crtLocks-- <= 0) c.Fail("releases a runtime lock it does not hold");
}

void abort_(ImportCall& c) { c.Fail("the DLL called abort()"); }

void _amsg_exit_(ImportCall& c) {
  c.Fail("the DLL's runtime stopped with error R60" + std::to_string(c.Arg(0)) + " (_amsg_exit)");
}

// _initterm(begin, end): calls every non-null function pointer in
// [begin, end) in order; the calls go into the DLL, so it runs as guest code.
std::vector<uint8_t> InitTermCode() {
  return {
      0x56,                    // push esi
      0x57,                    // push edi
      0x8B, 0x74, 0x24, 0x0C,  // mov esi, [esp+12]   begin
      0x8B, 0x7C, 0x24, 0x10,  // mov edi, [esp+16]   end
      0x39, 0xFE,              // next: cmp esi, edi
      0x73, 0x0D,              // jae done
      0x8B, 0x06,              // mov eax, [esi]
      0x85, 0xC0,              // test eax, eax
      0x74, 0x02,              // jz skip
      0xFF, 0xD0,              // call eax
      0x83, 0xC6, 0x04,        // skip: add esi, 4
      0xEB, 0xEF,              // jmp next
      0x5F,                    // done: pop edi
      0x5E,                    // pop esi
      0xC3,                    // ret
  };
}

std::vector<uint8_t> StreamRecords() { return std::vector<uint8_t>(size_t{kStreams} * kFileRecordSize, 0); }
std::vector<uint8_t> MbCurMax() { return {1, 0, 0, 0}; }  // single-byte characters

}  // namespace

void AddCrtImports(ImportTable& t) {
  const char* crt = "msvcrt.dll";
  t.insert(t.end(), {
      Cdecl(crt, "memcpy", memcpy_),
      Cdecl(crt, "memset", memset_),
      Cdecl(crt, "memchr", memchr_),
      Cdecl(crt, "memcmp", memcmp_),
      Cdecl(crt, "strlen", strlen_),
      Cdecl(crt, "strchr", strchr_),
      Cdecl(crt, "strcmp", strcmp_),
      Cdecl(crt, "strncmp", strncmp_),
      Cdecl(crt, "wcslen", wcslen_),
      Cdecl(crt, "atoi", atoi_),
      Cdecl(crt, "strerror", strerror_),
      Cdecl(crt, "malloc", malloc_),
      Cdecl(crt, "calloc", calloc_),
      Cdecl(crt, "realloc", realloc_),
      Cdecl(crt, "free", free_),
      Cdecl(crt, "fopen", fopen_),
      Cdecl(crt, "fclose", fclose_),
      Cdecl(crt, "fread", fread_),
      Cdecl(crt, "fseek", fseek_),
      Cdecl(crt, "ftell", ftell_),
      Cdecl(crt, "fwrite", fwrite_),
      Cdecl(crt, "fputs", fputs_),
      Cdecl(crt, "fputc", fputc_),
      Cdecl(crt, "vfprintf", vfprintf_),
      Cdecl(crt, "_open", _open_),
      Cdecl(crt, "_close", _close_),
      Cdecl(crt, "_fstat", _fstat_),
      Cdecl(crt, "setlocale", setlocale_),
      Cdecl(crt, "localeconv", localeconv_),
      Cdecl(crt, "_errno", _errno_),
      Cdecl(crt, "_lock", _lock_),
      Cdecl(crt, "_unlock", _unlock_),
      Cdecl(crt, "abort", abort_),
      Cdecl(crt, "_amsg_exit", _amsg_exit_),
      GuestCode(crt, "_initterm", InitTermCode),
      Data(crt, "_iob", StreamRecords),
      Data(crt, "__mb_cur_max", MbCurMax),
  });
}

}  // namespace dllrun
