// The DLL runner's own rules: the files it refuses, the checks of every call, the stubs' answers and conventions, and
// how the guest sees physical memory, the driver's windows and the ports; guest code is assembled from instructions.
#include "dll_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "image_support.h"
#include "lzh_member.h"
#include "orrivane_exports.h"

namespace {

using namespace std::string_literals;
using dllrun::Convention;
using dllrun::Fault;
using Code = std::vector<uint8_t>;

const std::string kDll = std::getenv("ORRIVANE_DLL") ? std::getenv("ORRIVANE_DLL") : ORRIVANE_DLL_PATH;
const char kCrt[] = "msvcrt.dll", kKernel[] = "KERNEL32.dll", kNtdll[] = "ntdll.dll";
constexpr uint32_t kMinus1 = 0xFFFFFFFF;

// A few x86 instructions.
Code Imm(uint8_t opcode, uint32_t value, Code before = {}) {
  before.push_back(opcode);
  for (int i = 0; i < 4; ++i) before.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return before;
}
Code Push(uint32_t value) { return Imm(0x68, value); }
Code MovEax(uint32_t value) { return Imm(0xB8, value); }
Code LoadEax(uint32_t address) { return Imm(0xA1, address); }               // mov eax, [address]
Code StoreEax(uint32_t address) { return Imm(0xA3, address); }              // mov [address], eax
Code PushFrom(uint32_t address) { return Imm(0x35, address, {0xFF}); }      // push dword [address]
Code LoadEaxPlus(uint32_t offset) { return Imm(0x80, offset, {0x8B}); }     // mov eax, [eax + offset]
Code operator+(Code a, const Code& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Code CallAbsolute(uint32_t address) { return Imm(0xB8, address) + Code{0xFF, 0xD0}; }  // mov eax, address; call eax
Code Calling(uint32_t address, const std::vector<uint32_t>& args) {  // pushed right to left
  Code code;
  for (auto it = args.rbegin(); it != args.rend(); ++it) code = code + Push(*it);
  return code + CallAbsolute(address);
}
const Code kRet{0xC3};

std::string Words(std::vector<uint32_t> w) { return std::string(reinterpret_cast<const char*>(w.data()), 4 * w.size()); }

void ExpectFault(const std::function<void()>& run, const std::string& what) {
  try {
    run();
    ADD_FAILURE() << "the run went on; expected: " << what;
  } catch (const Fault& f) {
    EXPECT_TRUE(std::regex_search(f.what(), std::regex(what))) << f.what();
  }
}

struct CallCheckCase {
  const char* name;
  Code code;
  std::vector<uint32_t> args;
  const char* failure;  // null: the call returns expected
  uint32_t expected;
};

class EmulatorCall : public testing::TestWithParam<CallCheckCase> {};

TEST_P(EmulatorCall, ChecksWhatACallerRelies) {
  const CallCheckCase& c = GetParam();
  dllrun::Emulator cpu;
  const uint32_t at = cpu.AddCode(c.code);
  if (!c.failure) {
    EXPECT_EQ(cpu.Call(at, c.args, Convention::Stdcall, c.name, 1000), c.expected);
    return;
  }
  ExpectFault([&] { cpu.Call(at, c.args, Convention::Stdcall, c.name, 1000); }, c.failure);
  // After a failure the emulator refuses every later call.
  EXPECT_THROW(cpu.Call(cpu.AddCode(kRet), {}, Convention::Stdcall, "later", 1000), Fault);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EmulatorCall,
    testing::Values(
        // Arguments go right to left: [esp+4] is the first. 10 - 3, then ret 8.
        CallCheckCase{"ArgumentOrder", {0x8B, 0x44, 0x24, 4, 0x2B, 0x44, 0x24, 8, 0xC2, 8, 0}, {10, 3}, nullptr, 7},
        CallCheckCase{"StdcallLeavingArguments", kRet, {1}, "ESP -4 bytes from where stdcall leaves it", 0},
        CallCheckCase{"RemovingTooMuch", {0xC2, 0x04, 0x00}, {}, "ESP \\+4 bytes", 0},
        CallCheckCase{"ClobberedEbx", MovEax(0) + Code{0xBB, 1, 0, 0, 0} + kRet, {}, "did not preserve EBX", 0},
        CallCheckCase{"ClobberedEbp", Code{0x31, 0xED} + kRet, {}, "did not preserve EBP", 0},
        CallCheckCase{"NullRead", LoadEax(0) + kRet, {}, "read of unmapped memory: 4 bytes at 0x00000000", 0},
        CallCheckCase{"EndlessLoop", {0xEB, 0xFE}, {}, "still running after 1000 executed blocks", 0},
        CallCheckCase{"Breakpoint", {0xCC}, {}, "processor exception 3", 0},
        CallCheckCase{"NullWrite", MovEax(0) + Code{0xC7, 0x00, 0, 0, 0, 0} + kRet, {}, "write to unmapped", 0}),
    [](const testing::TestParamInfo<CallCheckCase>& row) { return row.param.name; });

using File = std::vector<uint8_t>;
size_t Pe(const File& f) { return size_t{f[0x3C]} | size_t{f[0x3D]} << 8; }
void SetU16(File& f, size_t at, uint16_t v) { std::memcpy(f.data() + at, &v, 2); }

struct RefusalCase {
  const char* name;
  void (*spoil)(File& file);  // null: load `path` instead
  const char* reason;
  std::string path = "";
  const char* missingImport = nullptr;  // an import the runner's table lacks
};

class DllRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(DllRefusal, NamesWhatIsWrong) {
  std::ifstream in(kDll, std::ios::binary);
  File file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(file.size(), 0x1000u) << kDll << " is missing: build the win32 preset first";
  if (GetParam().spoil) GetParam().spoil(file);
  dllrun::ImportTable table = dllrun::DefaultImports();
  if (const char* drop = GetParam().missingImport)
    table.erase(std::find_if(table.begin(), table.end(), [&](auto& d) { return d.name && d.name == std::string(drop); }));
  std::string error;
  EXPECT_FALSE(dllrun::DllRunner().Load(
      GetParam().spoil ? image_test::TempFile(GetParam().name, file).path() : GetParam().path, error, {false, &table}));
  EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DllRefusal,
    testing::Values(RefusalCase{"Text", [](File& f) { f.assign({'h', 'e', 'l', 'l', 'o'}); }, "not a Windows executable"},
                    RefusalCase{"NoPeHeader", [](File& f) { f[Pe(f)] = 'X'; }, "no PE signature"},
                    RefusalCase{"X64", [](File& f) { SetU16(f, Pe(f) + 4, 0x8664); }, "not a 32-bit x86 DLL: built for x86-64"},
                    RefusalCase{"Pe32Plus", [](File& f) { SetU16(f, Pe(f) + 24, 0x020B); }, "PE32+"},
                    RefusalCase{"Program", [](File& f) { f[Pe(f) + 23] &= ~0x20; }, "not a DLL"},
                    RefusalCase{"CutShort", [](File& f) { f.resize(f.size() / 2); }, "outside the image or the file"},
                    RefusalCase{"Missing", nullptr, "cannot read", testing::TempDir() + "no_such.dll"},
                    RefusalCase{"Directory", nullptr, "Is a directory", testing::TempDir()},
                    RefusalCase{"MissingImport", nullptr, "no implementation of KERNEL32.dll!GetVersionExA", kDll,
                                "GetVersionExA"}),
    [](const testing::TestParamInfo<RefusalCase>& row) { return row.param.name; });

// Every export the list names, under its ordinal, and the list as the DLL's export file states it (names, ordinals,
// argument bytes).
TEST(DllLoad, ExportsMatchTheExportFile) {
  dllrun::DllRunner runner;
  std::string error;
  ASSERT_TRUE(runner.Load(kDll, error)) << error;
  std::ifstream def(ORRIVANE_SOURCE_DIR "/src/interface/orrivane.def");
  const std::regex line(R"(^\s+(\w+)@(\d+)(?:\s*=\s*\S+)?\s+@(\d+))");  // NAME@BYTES [= INTERNAL] @ORDINAL
  size_t listed = 0;
  for (std::string text; std::getline(def, text);) {
    std::smatch m;
    if (!std::regex_search(text, m, line)) continue;
    ++listed;
    const dllrun::ExportEntry* entry = dllrun::FindExport(m[1].str().c_str());
    ASSERT_NE(entry, nullptr) << m[1];
    EXPECT_EQ(entry->ordinal, std::stoul(m[3])) << m[1];
    EXPECT_EQ(4 * entry->argc, std::stoul(m[2])) << m[1];
    EXPECT_NE(runner.ExportByName(entry->name), 0u) << m[1];
    EXPECT_EQ(runner.ExportByName(entry->name), runner.ExportByOrdinal(entry->ordinal)) << m[1];
  }
  EXPECT_EQ(listed, dllrun::OrrivaneExports().size());
}

// Guest code run inside a loaded DLL's process, so it can reach the stubs.
class InsideDll : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(runner_.Load(kDll, error)) << error;
  }
  uint32_t Run(const Code& code) { return runner_.CallExport(runner_.Cpu().AddCode(code), {}, "guest code"); }
  uint32_t Stub(const std::string& dll, const std::string& name) {
    std::string missing;
    const uint32_t at = runner_.ResolveByName(dll, name, missing);
    EXPECT_NE(at, 0u) << missing;
    return at;
  }
  uint32_t Put(const std::string& bytes, uint32_t room = 0) {
    const uint32_t at = runner_.Heap().Allocate(std::max<uint32_t>(room, static_cast<uint32_t>(bytes.size())));
    runner_.Memory().Write(at, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return at;
  }
  std::string Get(uint32_t at, size_t size) {
    std::string bytes(size, '\0');
    EXPECT_TRUE(runner_.Memory().Read(at, bytes.data(), static_cast<uint32_t>(size))) << "nothing at " << at;
    return bytes;
  }
  // A stub called as the DLL calls it: the caller removes the arguments of a cdecl one (msvcrt's, wsprintfA), so a
  // stub that removes the wrong amount fails the call's ESP check.
  uint32_t CallStub(const std::string& dll, const std::string& name, const std::vector<uint32_t>& args) {
    const bool cdecl = dll == kCrt || name == "wsprintfA";
    return Run(Calling(Stub(dll, name), args) + (cdecl ? Code{0x83, 0xC4, uint8_t(4 * args.size())} : Code{}) + kRet);
  }
  uint32_t Crt(const char* name, std::vector<uint32_t> args) { return CallStub(kCrt, name, args); }
  uint32_t Kernel(const char* name, std::vector<uint32_t> args) { return CallStub(kKernel, name, args); }
  dllrun::DllRunner runner_;
};

// One value of a stub call, fixed when its row runs: a number; guest memory holding `bytes` in `n` bytes of room and
// `after` once the call returns; argument `n` plus `off`; a module's handle; a stub. As the call's result, memory
// means EAX points at `bytes`, Fails a fault naming `bytes`.
struct Val {
  enum Kind { Num, Mem, ArgPlus, Module, StubOf, Fails, Any } kind;
  uint32_t n, off;
  std::string bytes, after;
};
Val N(uint32_t v) { return {Val::Num, v, 0, "", ""}; }
Val T(const std::string& text, const std::string& after = "") { return {Val::Mem, 0, 0, text + '\0', after}; }
Val Buf(uint32_t room, std::string after = "", std::string before = "") { return {Val::Mem, room, 0, before, after}; }
Val Arg(uint32_t index, uint32_t plus = 0) { return {Val::ArgPlus, index, plus, "", ""}; }
Val Module(const char* name) { return {Val::Module, 0, 0, name, ""}; }
Val StubOf(const char* dll, const char* name) { return {Val::StubOf, 0, 0, dll, name}; }
Val Fails(const char* reason) { return {Val::Fails, 0, 0, reason, ""}; }
const Val kAny{Val::Any, 0, 0, "", ""};

struct StubCase {
  const char* dll;
  const char* name;
  std::vector<Val> args;
  Val eax;
  int64_t lastError = -1;  // the testbed's after the call, shown in the thread block too; -1: not checked
  bool win9x = false;      // the machine's family (NT otherwise)
};

class StubCall : public InsideDll, public testing::WithParamInterface<StubCase> {};

constexpr uint32_t kErrorMark = 0x5EED;  // the thread's last error before each row's call

TEST_P(StubCall, AnswersAsWindowsDoes) {
  const StubCase& row = GetParam();
  tb::StartLibraryOn(row.win9x ? tb::MachineBuilder().Win9x() : tb::MachineBuilder().Nt());
  SetLastError(kErrorMark);
  std::vector<uint32_t> args;
  auto resolve = [&](const Val& v) {
    switch (v.kind) {
      case Val::Mem: return Put(v.bytes, v.n);
      case Val::ArgPlus: return args.at(v.n) + v.off;
      case Val::Module: return runner_.ModuleHandle(v.bytes);
      case Val::StubOf: return Stub(v.bytes, v.after);
      default: return v.n;
    }
  };
  for (const Val& a : row.args) args.push_back(resolve(a));
  if (row.eax.kind == Val::Fails) {
    ExpectFault([&] { CallStub(row.dll, row.name, args); }, row.eax.bytes);
    EXPECT_THROW(Run(kRet), Fault);  // the run is over
    return;
  }
  const uint32_t eax = CallStub(row.dll, row.name, args);
  if (row.eax.kind == Val::Mem) {
    EXPECT_EQ(Get(eax, row.eax.bytes.size()), row.eax.bytes);
  } else if (row.eax.kind != Val::Any) {
    EXPECT_EQ(eax, resolve(row.eax));
  }
  for (size_t i = 0; i < args.size(); ++i) {  // what the call left in its memory arguments
    if (row.args[i].after.empty()) continue;
    EXPECT_EQ(Get(args[i], row.args[i].after.size()), row.args[i].after) << "argument " << i;
  }
  if (row.lastError < 0) return;
  EXPECT_EQ(GetLastError(), row.lastError);
  EXPECT_EQ(Get(runner_.Cpu().Teb() + dllrun::kTebLastError, 4), Words({static_cast<uint32_t>(row.lastError)}));
}

// The runtime's functions on guest memory as msvcrt answers; code page 1252 (0x80 is the euro sign, what it cannot
// hold becomes '?'); the modules the process has, and ntdll.dll there on NT only, as the testbed says, with an
// RtlGetVersion that answers as the testbed's; the last error the testbed's.
INSTANTIATE_TEST_SUITE_P(Rows, StubCall, testing::Values(
    StubCase{kCrt, "strchr", {T("hello"), N('l')}, Arg(0, 2)},
    StubCase{kCrt, "strchr", {T("hello"), N(0)}, Arg(0, 5)},  // the terminator is found
    StubCase{kCrt, "strchr", {T("hello"), N('z')}, N(0)},
    StubCase{kCrt, "strlen", {T("seven!!")}, N(7)},
    StubCase{kCrt, "strcmp", {T("abc"), T("abd")}, N(kMinus1)},
    StubCase{kCrt, "strncmp", {T("abcx"), T("abcy"), N(3)}, N(0)},
    StubCase{kCrt, "atoi", {T("  -42x")}, N(static_cast<uint32_t>(-42))},
    StubCase{kCrt, "atoi", {T("99999999999")}, N(0x7FFFFFFF)},  // saturates as a 32-bit strtol does
    StubCase{kCrt, "wcslen", {T("a\0b\0\0"s)}, N(2)},
    StubCase{kCrt, "memset", {T("hello", "AAAlo\0"s), N('A'), N(3)}, Arg(0)},
    StubCase{kCrt, "strerror", {N(2)}, T("No such file or directory")},
    StubCase{kCrt, "setlocale", {N(0), N(0)}, T("C")},
    StubCase{kCrt, "setlocale", {N(0), T("de_DE")}, N(0)},  // only the C locale
    StubCase{kCrt, "_amsg_exit", {N(31)}, Fails("R6031")},
    StubCase{kCrt, "free", {N(0x01000010)}, Fails("which malloc never returned")},
    StubCase{"USER32.dll", "wsprintfA", {Buf(64, "ab=42|   -7|z  |beef|%\0"s), T("%s=%u|%5d|%-3c|%x|%%"), T("ab"),
                                         N(42), N(static_cast<uint32_t>(-7)), N('z'), N(0xBEEF)}, N(22)},
    StubCase{kKernel, "MultiByteToWideChar", {N(0), N(0), T("a\x80"), N(kMinus1), Buf(16, "a\0\xAC\x20\0\0"s), N(8)}, N(3)},
    StubCase{kKernel, "WideCharToMultiByte", {N(0), N(0), T("a\0\xAC\x20\x3A\x26"s), N(3), Buf(8, "a\x80?"), N(8), N(0),
                                              Buf(4, Words({1}))}, N(3)},  // U+263A has no byte
    StubCase{kKernel, "IsDBCSLeadByteEx", {N(0), N(0x81)}, N(0)},
    StubCase{kKernel, "MultiByteToWideChar", {N(65001), N(0), T("a"), N(kMinus1), Buf(16), N(8)}, Fails("code page 65001")},
    StubCase{kKernel, "SetLastError", {N(5)}, kAny, 5},
    StubCase{kKernel, "GetLastError", {}, N(kErrorMark), kErrorMark},
    StubCase{kKernel, "TlsGetValue", {N(64)}, N(0), 87},  // ERROR_INVALID_PARAMETER: 64 slots
    StubCase{kKernel, "GetModuleHandleA", {T("kernel32")}, Module("kernel32.dll")},
    StubCase{kKernel, "GetProcAddress", {Module("kernel32"), T("GetVersionExA")}, StubOf(kKernel, "GetVersionExA")},
    StubCase{kKernel, "GetProcAddress", {Module("kernel32"), T("CreateFileA")}, Fails("CreateFileA, which the runner")},
    StubCase{kKernel, "GetModuleHandleA", {T("libgcc_s_dw2-1.dll")}, N(0), 126},  // ERROR_MOD_NOT_FOUND
    StubCase{kKernel, "LoadLibraryA", {T("other.dll")}, N(0)},
    StubCase{kKernel, "GetModuleHandleA", {T("ntdll.dll")}, N(0), 126, true},
    StubCase{kKernel, "GetModuleHandleA", {T("NTDLL")}, Module("ntdll.dll")},
    StubCase{kKernel, "GetProcAddress", {Module("ntdll"), T("NtQuerySystemInformation")}, N(0), 127},  // ERROR_PROC_NOT_FOUND
    StubCase{kKernel, "GetProcAddress", {Module("ntdll"), T("RtlGetVersion")}, StubOf(kNtdll, "RtlGetVersion")},
    StubCase{kNtdll, "RtlGetVersion", {Buf(276, Words({276, 5, 1, 2600, 2}), Words({276}))}, N(0)},
    StubCase{kNtdll, "RtlGetVersion", {Buf(276, "", Words({148}))}, N(0xC000000D)}),  // STATUS_INVALID_PARAMETER
    [](const testing::TestParamInfo<StubCase>& row) { return row.param.name + std::to_string(row.index); });

// One thread: TLS slots live in the thread block, and a slot freed twice fails the second time; realloc keeps the
// bytes; semaphores count as on Windows, and a wait that only another thread could end stops the run.
TEST_F(InsideDll, ThreadStateAndHeapKeepTheirState) {
  const uint32_t slot = Kernel("TlsAlloc", {});
  ASSERT_LT(slot, 64u);
  EXPECT_EQ(Kernel("TlsSetValue", {slot, 0x1234}), 1u);
  EXPECT_EQ(Get(runner_.Cpu().Teb() + dllrun::kTebTlsSlots + 4 * slot, 4), Words({0x1234}));
  EXPECT_EQ(Kernel("TlsFree", {slot}), 1u);
  EXPECT_EQ(Kernel("TlsFree", {slot}), 0u);
  const uint32_t block = Crt("malloc", {4});
  runner_.Memory().Write(block, "abc", 4);
  EXPECT_EQ(Get(Crt("realloc", {block, 64}), 4), "abc\0"s);
  const uint32_t semaphore = Kernel("CreateSemaphoreW", {0, 1, 1, 0});
  EXPECT_EQ(Kernel("WaitForSingleObject", {semaphore, kMinus1}), 0u);
  EXPECT_EQ(Kernel("WaitForSingleObject", {semaphore, 0}), 0x102u);  // WAIT_TIMEOUT
  EXPECT_EQ(Kernel("ReleaseSemaphore", {semaphore, 2, 0}), 0u);       // past its maximum
  EXPECT_EQ(Kernel("ReleaseSemaphore", {semaphore, 1, 0}), 1u);
  EXPECT_EQ(Kernel("CloseHandle", {semaphore}), 1u);
  const uint32_t empty = Kernel("CreateSemaphoreW", {0, 0, 1, 0});
  ExpectFault([&] { Kernel("WaitForSingleObject", {empty, kMinus1}); }, "no other thread exists");
}

// The image's pages as VirtualQuery reports them, a protection change, and the DLL's own module handle.
TEST_F(InsideDll, TheImageAsItsProcessSeesIt) {
  const uint32_t info = Put("", 28), old = Put("", 4), base = runner_.Base();
  EXPECT_EQ(Kernel("VirtualQuery", {base + 0x10, info, 28}), 28u);
  EXPECT_EQ(Get(info, 28), Words({base, base, 0x80, 0x1000, 0x1000, 0x02, 0x1000000}));
  const uint32_t text = base + runner_.Image().Sections()[0].rva;
  EXPECT_EQ(Kernel("VirtualProtect", {text, 16, 0x04, old}), 1u);
  EXPECT_EQ(Get(old, 4), Words({0x20}));  // PAGE_EXECUTE_READ before
  EXPECT_EQ(runner_.Memory().ProtectionAt(text), dllrun::kRead | dllrun::kWrite);
  EXPECT_EQ(Kernel("GetModuleHandleA", {Put("ORRIVANE.DLL\0"s)}), base);
}

// A block the guest keeps locked while the service library works on it by handle: the guest's writes reach the
// library, and the library's output reaches the guest's view of the output block.
TEST_F(InsideDll, LockedBlocksAreSharedWithTheServiceLibrary) {
  tb::StartLibraryOn(tb::Machine());
  const std::string content = "EXPANDED BYTES";
  const std::vector<uint8_t> member = tb::LzhMember("m.bin", std::vector<uint8_t>(content.begin(), content.end()),
                                                    tb::LzhMethod::Lh0, false);
  const uint32_t source = Put(std::string(member.begin(), member.end())), size = uint32_t(member.size());
  orr::ImageServiceBlock request{};
  request.outputBlock = Kernel("GlobalAlloc", {0x42, orr::kWorkBlockSize});  // GHND
  request.inputBlock = Kernel("GlobalAlloc", {0x42, orr::kWorkBlockSize});
  const uint32_t block = Put(std::string(reinterpret_cast<const char*>(&request), sizeof request)), views = Put("", 12);
  std::string missing;
  const Code code = Calling(Stub(kKernel, "GlobalLock"), {request.outputBlock}) + StoreEax(views) +
                    Calling(Stub(kKernel, "GlobalLock"), {request.inputBlock}) + StoreEax(views + 4) +
                    Push(size) + Push(source) + PushFrom(views + 4) + CallAbsolute(Stub(kCrt, "memcpy")) +
                    Code{0x83, 0xC4, 0x0C} +  // add esp, 12
                    Calling(runner_.ResolveByOrdinal("ZANTBIOS.dll", 1, missing),
                            {orr::kRequestExpandMember, block, sizeof request, 0, 0, views + 8}) +
                    LoadEax(views) + LoadEaxPlus(orr::kWorkBlockSize - uint32_t(content.size())) + kRet;
  EXPECT_EQ(Run(code), 0x41505845u);  // "EXPA", at the end of the output block
}

// The first megabyte as the machine holds it (page 0 excepted), and PCI configuration mechanism 1 through the port
// instructions.
TEST_F(InsideDll, LowMemoryAndPortsAreTheMachines) {
  tb::StartLibraryOn(tb::MachineBuilder().Win9x().FSegmentText(0x10, "ABCD").Pci(0, 3, 0, 0x8086, 0x1234, 0x020000));
  EXPECT_EQ(Run(LoadEax(0xF0010) + kRet), 0x44434241u);
  const Code pci = Code{0x66, 0xBA, 0xF8, 0x0C} + MovEax(0x80001800) + Code{0xEF} +  // out 0xCF8, eax
                   Code{0x66, 0xBA, 0xFC, 0x0C, 0xED} + kRet;                        // in eax, 0xCFC
  EXPECT_EQ(Run(pci), 0x12348086u);
  ASSERT_EQ(tb::PortAccesses().size(), 2u);
  EXPECT_TRUE(tb::PortAccesses()[0].write);
  EXPECT_EQ(tb::PortAccesses()[1].value, 0x12348086u);

  // NT shows nothing there: the read faults.
  tb::StartLibraryOn(tb::MachineBuilder().Nt().FSegmentText(0x10, "ABCD"));
  ExpectFault([&] { Run(LoadEax(0xF0010) + kRet); }, "read of unmapped memory: 4 bytes at 0x000F0010 \\(the first megabyte");
}

// A driver window appears at the address the driver hands out and is gone once released: a read after the release
// faults.
TEST_F(InsideDll, DriverWindowLastsUntilReleased) {
  tb::StartLibraryOn(tb::MachineBuilder().Nt().BiosType(2).Text(0x00200000, "WINDOW"));
  orr::DriverBlock driver{};
  std::strcpy(driver.name, orr::kDriverName);
  uint32_t serviceError = 0;
  ASSERT_TRUE(BiosServiceCall(orr::kRequestOpenDriver, &driver, sizeof driver, 0, 0, &serviceError));
  const uint32_t io = Put(Words({0x00200000, 0x100}), 16);  // input (address, length), output, returned count
  auto ioctl = [&](uint32_t code, uint32_t in, uint32_t inSize, uint32_t out, uint32_t outSize) {
    return Calling(Stub(kKernel, "DeviceIoControl"), {driver.handle, code, in, inSize, out, outSize, io + 12, 0});
  };
  EXPECT_EQ(Run(ioctl(orr::kIoctlMapPhysical, io, 8, io + 8, 4) + LoadEax(io + 8) + Code{0x8B, 0x00} + kRet), 0x444E4957u);
  uint32_t window = 0;
  ASSERT_TRUE(runner_.Memory().Read(io + 8, &window, 4) && window != 0);
  EXPECT_EQ(Run(LoadEax(window + 2) + kRet), 0x574F444Eu);  // still there in a later call
  ExpectFault([&] { Run(ioctl(orr::kIoctlUnmapPhysical, io + 8, 4, 0, 0) + LoadEax(window) + kRet); },
              "read of unmapped memory");
}

}  // namespace
