// The DLL runner's own rules: which files it refuses, the checks of every
// call, the stubs' calling conventions, and how the guest sees physical
// memory, the driver's windows and the ports. Guest code is assembled here
// from a few instructions.
#include "dll_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "caller_buffers.h"
#include "hwaccess/contract.h"
#include "hwaccess/service.h"
#include "library_reset.h"
#include "lzh_member.h"
#include "machine_builder.h"
#include "orrivane_exports.h"

namespace {

using dllrun::Convention;
using dllrun::Fault;
using Code = std::vector<uint8_t>;

const std::string kDll = std::getenv("ORRIVANE_DLL") ? std::getenv("ORRIVANE_DLL") : ORRIVANE_DLL_PATH;

std::vector<uint8_t> DllBytes() {
  std::ifstream in(kDll, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

std::string WriteTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = testing::TempDir() + "orrivane_runner_" + std::to_string(getpid()) + "_" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

// A few x86 instructions.
Code Imm(uint8_t opcode, uint32_t value) {
  Code c{opcode};
  for (int i = 0; i < 4; ++i) c.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return c;
}
Code Push(uint32_t value) { return Imm(0x68, value); }
Code MovEax(uint32_t value) { return Imm(0xB8, value); }
Code LoadEax(uint32_t address) { return Imm(0xA1, address); }   // mov eax, [address]
Code StoreEax(uint32_t address) { return Imm(0xA3, address); }  // mov [address], eax
Code PushFrom(uint32_t address) {  // push dword [address]
  Code c = Imm(0x35, address);
  c.insert(c.begin(), 0xFF);
  return c;
}
Code LoadEaxPlus(uint32_t offset) {  // mov eax, [eax + offset]
  Code c = Imm(0x80, offset);
  c.insert(c.begin(), 0x8B);
  return c;
}
Code CallAbsolute(uint32_t address) {
  Code c = MovEax(address);
  c.insert(c.end(), {0xFF, 0xD0});  // call eax
  return c;
}
Code operator+(Code a, const Code& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const Code kRet{0xC3};
const Code kDerefEax{0x8B, 0x00};  // mov eax, [eax]

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
  try {
    cpu.Call(at, c.args, Convention::Stdcall, c.name, 1000);
    ADD_FAILURE() << "the call passed";
  } catch (const Fault& f) {
    EXPECT_TRUE(std::regex_search(f.what(), std::regex(c.failure))) << f.what();
  }
  // After a failure the emulator refuses every later call.
  EXPECT_THROW(cpu.Call(cpu.AddCode(kRet), {}, Convention::Stdcall, "later", 1000), Fault);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EmulatorCall,
    testing::Values(
        // Arguments go right to left: [esp+4] is the first. 10 - 3, then ret 8.
        CallCheckCase{
            "ArgumentOrder", {0x8B, 0x44, 0x24, 0x04, 0x2B, 0x44, 0x24, 0x08, 0xC2, 0x08, 0x00}, {10, 3}, nullptr, 7},
        CallCheckCase{"StdcallLeavingArguments", kRet, {1}, "ESP -4 bytes from where stdcall leaves it", 0},
        CallCheckCase{"RemovingTooMuch", {0xC2, 0x04, 0x00}, {}, "ESP \\+4 bytes", 0},
        CallCheckCase{"ClobberedEbx", MovEax(0) + Code{0xBB, 1, 0, 0, 0} + kRet, {}, "did not preserve EBX", 0},
        CallCheckCase{"ClobberedEbp", Code{0x31, 0xED} + kRet, {}, "did not preserve EBP", 0},
        CallCheckCase{"NullRead", LoadEax(0) + kRet, {}, "read of unmapped memory: 4 bytes at 0x00000000", 0},
        CallCheckCase{"EndlessLoop", {0xEB, 0xFE}, {}, "still running after 1000 executed blocks", 0},
        CallCheckCase{"Breakpoint", {0xCC}, {}, "processor exception 3", 0},
        CallCheckCase{"NullWrite", MovEax(0) + Code{0xC7, 0x00, 0, 0, 0, 0} + kRet, {}, "write to unmapped", 0}),
    [](const testing::TestParamInfo<CallCheckCase>& row) { return row.param.name; });

// Loading: what is refused and why.

struct RefusalCase {
  const char* name;
  void (*spoil)(std::vector<uint8_t>& file);
  const char* reason;
};

class DllRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(DllRefusal, NamesWhatIsWrong) {
  std::vector<uint8_t> file = DllBytes();
  ASSERT_GT(file.size(), 0x1000u) << kDll << " is missing: build the win32 preset first";
  GetParam().spoil(file);
  dllrun::DllRunner runner;
  std::string error;
  EXPECT_FALSE(runner.Load(WriteTemp(GetParam().name, file), error));
  EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
}

void SetU16(std::vector<uint8_t>& f, size_t at, uint16_t v) { std::memcpy(f.data() + at, &v, 2); }
size_t Pe(const std::vector<uint8_t>& f) { return U32At(f, 0x3C); }

INSTANTIATE_TEST_SUITE_P(
    Cases, DllRefusal,
    testing::Values(RefusalCase{"Text",
                                [](std::vector<uint8_t>& f) {
                                  f.assign({'h', 'e', 'l', 'l', 'o'});
                                },
                                "not a Windows executable"},
                    RefusalCase{"NoPeHeader", [](std::vector<uint8_t>& f) { f[Pe(f)] = 'X'; }, "no PE signature"},
                    RefusalCase{"X64", [](std::vector<uint8_t>& f) { SetU16(f, Pe(f) + 4, 0x8664); },
                                "not a 32-bit x86 DLL: built for x86-64"},
                    RefusalCase{"Pe32Plus", [](std::vector<uint8_t>& f) { SetU16(f, Pe(f) + 24, 0x020B); }, "PE32+"},
                    RefusalCase{"Program", [](std::vector<uint8_t>& f) { f[Pe(f) + 23] &= ~0x20; }, "not a DLL"},
                    RefusalCase{"CutShort", [](std::vector<uint8_t>& f) { f.resize(f.size() / 2); },
                                "outside the image or the file"}),
    [](const testing::TestParamInfo<RefusalCase>& row) { return row.param.name; });

TEST(DllLoad, MissingFileAndMissingImportAreNamed) {
  dllrun::DllRunner absent;
  std::string error;
  EXPECT_FALSE(absent.Load(testing::TempDir() + "no_such.dll", error));
  EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
  dllrun::DllRunner directory;
  EXPECT_FALSE(directory.Load(testing::TempDir(), error));
  EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;

  dllrun::ImportTable table = dllrun::DefaultImports();
  table.erase(
      std::remove_if(table.begin(), table.end(),
                     [](const dllrun::ImportDef& d) { return d.name && std::string(d.name) == "GetVersionExA"; }),
      table.end());
  dllrun::DllRunner runner;
  dllrun::LoadOptions options;
  options.imports = &table;
  EXPECT_FALSE(runner.Load(kDll, error, options));
  EXPECT_NE(error.find("no implementation of KERNEL32.dll!GetVersionExA"), std::string::npos) << error;
}

// Every export the list names, under its ordinal, and the list as the DLL's
// export file states it (names, ordinals, argument bytes).
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
  uint32_t Stub(const char* dll, const char* name) {
    std::string missing;
    const uint32_t at = runner_.ResolveByName(dll, name, missing);
    EXPECT_NE(at, 0u) << missing;
    return at;
  }
  uint32_t Scratch(uint32_t size) { return runner_.Heap().Allocate(size); }
  uint32_t Put(const std::string& bytes) {
    const uint32_t at = Scratch(static_cast<uint32_t>(bytes.size()) + 1);
    runner_.Memory().Write(at, bytes.c_str(), static_cast<uint32_t>(bytes.size()) + 1);
    return at;
  }
  std::string Get(uint32_t at, uint32_t size) {
    std::string bytes(size, '\0');
    runner_.Memory().Read(at, bytes.data(), size);
    return bytes;
  }
  // A stub called from guest code: stdcall ones remove their arguments, the
  // caller removes a cdecl one's.
  uint32_t CallStub(const char* dll, const char* name, std::vector<uint32_t> args, bool cdecl = false) {
    Code code;
    for (auto it = args.rbegin(); it != args.rend(); ++it) code = code + Push(*it);
    code = code + CallAbsolute(Stub(dll, name));
    if (cdecl) code = code + Code{0x83, 0xC4, static_cast<uint8_t>(4 * args.size())};  // add esp, n
    return Run(code + kRet);
  }
  uint32_t Crt(const char* name, std::vector<uint32_t> args) { return CallStub("msvcrt.dll", name, args, true); }
  uint32_t Kernel(const char* name, std::vector<uint32_t> args) { return CallStub("KERNEL32.dll", name, args); }
  dllrun::DllRunner runner_;
};

// The runtime's string functions, on guest memory, as msvcrt answers.
TEST_F(InsideDll, RuntimeStringFunctions) {
  const uint32_t hello = Put("hello");
  EXPECT_EQ(Crt("strchr", {hello, 'l'}), hello + 2);
  EXPECT_EQ(Crt("strchr", {hello, 0}), hello + 5);
  EXPECT_EQ(Crt("strchr", {hello, 'z'}), 0u);
  EXPECT_EQ(Crt("strcmp", {Put("abc"), Put("abd")}), static_cast<uint32_t>(-1));
  EXPECT_EQ(Crt("strncmp", {Put("abcx"), Put("abcy"), 3}), 0u);
  EXPECT_EQ(Crt("atoi", {Put("  -42x")}), static_cast<uint32_t>(-42));
  EXPECT_EQ(Crt("atoi", {Put("99999999999")}), 0x7FFFFFFFu);  // saturates as a 32-bit strtol does
  EXPECT_EQ(Crt("wcslen", {Put(std::string("a\0b\0\0", 5))}), 2u);
  EXPECT_EQ(Crt("memset", {hello, 'A', 3}), hello);
  EXPECT_EQ(Get(hello, 6), std::string("AAAlo\0", 6));
  EXPECT_EQ(Get(Crt("strerror", {2}), 26), std::string("No such file or directory\0", 26));
  EXPECT_EQ(Get(Crt("setlocale", {0, 0}), 2), std::string("C\0", 2));
  EXPECT_EQ(Crt("setlocale", {0, Put("de_DE")}), 0u);  // only the C locale
  const uint32_t block = Crt("malloc", {4});
  runner_.Memory().Write(block, "abc", 4);
  const uint32_t grown = Crt("realloc", {block, 64});
  EXPECT_EQ(Get(grown, 4), std::string("abc\0", 4));
  EXPECT_THROW(Crt("free", {block}), Fault);  // realloc freed it
}

// Code page 1252: 0x80 is the euro sign; what it cannot hold becomes '?'.
TEST_F(InsideDll, CodePageConversions) {
  const uint32_t wide = Scratch(16), narrow = Scratch(8), used = Scratch(4);
  EXPECT_EQ(Kernel("MultiByteToWideChar", {0, 0, Put("a\x80"), 0xFFFFFFFF, wide, 8}), 3u);
  EXPECT_EQ(Get(wide, 6), std::string("a\0\xAC\x20\0\0", 6));
  runner_.Memory().Write(wide + 4, "\x3A\x26", 2);  // U+263A
  EXPECT_EQ(Kernel("WideCharToMultiByte", {0, 0, wide, 3, narrow, 8, 0, used}), 3u);
  EXPECT_EQ(Get(narrow, 3), "a\x80?");
  EXPECT_EQ(Get(used, 1), "\x01");
  EXPECT_EQ(Kernel("IsDBCSLeadByteEx", {0, 0x81}), 0u);
  EXPECT_THROW(Kernel("MultiByteToWideChar", {65001, 0, Put("a"), 0xFFFFFFFF, wide, 8}), Fault);
}

// One thread: TLS slots live in the thread block, the last error is the
// testbed's (shown in the thread block too); a semaphore wait that only
// another thread could end stops the run.
TEST_F(InsideDll, ThreadStateAndSemaphores) {
  Kernel("SetLastError", {5});
  EXPECT_EQ(GetLastError(), 5u);
  SetLastError(6);
  EXPECT_EQ(Kernel("GetLastError", {}), 6u);
  EXPECT_EQ(Get(runner_.Cpu().Teb() + 0x34, 4), std::string("\x06\0\0\0", 4));
  const uint32_t slot = Kernel("TlsAlloc", {});
  ASSERT_LT(slot, 64u);
  EXPECT_EQ(Kernel("TlsSetValue", {slot, 0x1234}), 1u);
  EXPECT_EQ(Get(runner_.Cpu().Teb() + 0xE10 + 4 * slot, 4), std::string("\x34\x12\0\0", 4));
  EXPECT_EQ(Kernel("TlsFree", {slot}), 1u);
  EXPECT_EQ(Kernel("TlsFree", {slot}), 0u);
  const uint32_t semaphore = Kernel("CreateSemaphoreW", {0, 1, 1, 0});
  EXPECT_EQ(Kernel("WaitForSingleObject", {semaphore, 0xFFFFFFFF}), 0u);
  EXPECT_EQ(Kernel("WaitForSingleObject", {semaphore, 0}), 0x102u);  // WAIT_TIMEOUT
  EXPECT_EQ(Kernel("ReleaseSemaphore", {semaphore, 2, 0}), 0u);       // past its maximum
  EXPECT_EQ(Kernel("ReleaseSemaphore", {semaphore, 1, 0}), 1u);
  EXPECT_EQ(Kernel("CloseHandle", {semaphore}), 1u);
  const uint32_t empty = Kernel("CreateSemaphoreW", {0, 0, 1, 0});
  EXPECT_THROW(Kernel("WaitForSingleObject", {empty, 0xFFFFFFFF}), Fault);
}

// The image's pages as VirtualQuery reports them, a protection change, and
// the modules the process has.
TEST_F(InsideDll, MemoryAndModuleQueries) {
  const uint32_t info = Scratch(28), old = Scratch(4), base = runner_.Base();
  EXPECT_EQ(Kernel("VirtualQuery", {base + 0x10, info, 28}), 28u);
  uint32_t fields[7];
  runner_.Memory().Read(info, fields, sizeof fields);
  EXPECT_EQ(fields[0], base);            // the page
  EXPECT_EQ(fields[1], base);            // the image
  EXPECT_EQ(fields[4], 0x1000u);         // MEM_COMMIT
  EXPECT_EQ(fields[5], 0x02u);           // PAGE_READONLY: the headers
  EXPECT_EQ(fields[6], 0x1000000u);      // MEM_IMAGE
  const uint32_t text = base + runner_.Image().Sections()[0].rva;
  EXPECT_EQ(Kernel("VirtualProtect", {text, 16, 0x04, old}), 1u);
  EXPECT_EQ(Get(old, 1), "\x20");        // PAGE_EXECUTE_READ before
  EXPECT_EQ(runner_.Memory().ProtectionAt(text), dllrun::kRead | dllrun::kWrite);
  const uint32_t kernel = Kernel("GetModuleHandleA", {Put("kernel32")});
  EXPECT_NE(kernel, 0u);
  EXPECT_EQ(Kernel("GetProcAddress", {kernel, Put("GetVersionExA")}), Stub("KERNEL32.dll", "GetVersionExA"));
  EXPECT_EQ(Kernel("GetModuleHandleA", {Put("libgcc_s_dw2-1.dll")}), 0u);  // not loaded
  EXPECT_EQ(Kernel("LoadLibraryA", {Put("other.dll")}), 0u);
  EXPECT_EQ(Kernel("GetModuleHandleA", {Put("ORRIVANE.DLL")}), base);
  EXPECT_THROW(Kernel("GetProcAddress", {kernel, Put("CreateFileA")}), Fault);
}

TEST_F(InsideDll, RuntimeFailuresStopTheRun) {
  try {
    Crt("_amsg_exit", {31});
    ADD_FAILURE() << "_amsg_exit returned";
  } catch (const Fault& f) {
    EXPECT_NE(std::string(f.what()).find("R6031"), std::string::npos) << f.what();
  }
  EXPECT_THROW(Run(kRet), Fault);  // the run is over
}

// ntdll.dll is there on NT only, as the testbed says, and the
// RtlGetVersion it hands out answers as the testbed's.
TEST_F(InsideDll, NtdllIsTheTestbeds) {
  tb::StartLibraryOn(tb::MachineBuilder().Win9x());
  EXPECT_EQ(Kernel("GetModuleHandleA", {Put("ntdll.dll")}), 0u);
  EXPECT_EQ(Kernel("GetLastError", {}), 126u);  // ERROR_MOD_NOT_FOUND

  tb::StartLibraryOn(tb::MachineBuilder().Nt());
  const uint32_t ntdll = Kernel("GetModuleHandleA", {Put("NTDLL")});
  ASSERT_NE(ntdll, 0u);
  EXPECT_EQ(Kernel("GetProcAddress", {ntdll, Put("NtQuerySystemInformation")}), 0u);
  EXPECT_EQ(Kernel("GetLastError", {}), 127u);  // ERROR_PROC_NOT_FOUND
  const uint32_t rtlGetVersion = Kernel("GetProcAddress", {ntdll, Put("RtlGetVersion")});
  ASSERT_EQ(rtlGetVersion, Stub("ntdll.dll", "RtlGetVersion"));
  const uint32_t record = Scratch(276);
  const uint32_t size = 276;
  runner_.Memory().Write(record, &size, 4);
  EXPECT_EQ(Run(Push(record) + CallAbsolute(rtlGetVersion) + kRet), 0u);
  uint32_t fields[5];
  runner_.Memory().Read(record, fields, sizeof fields);
  EXPECT_EQ(std::vector<uint32_t>(fields + 1, fields + 5), (std::vector<uint32_t>{5, 1, 2600, 2}));
  const uint32_t small = 148;
  runner_.Memory().Write(record, &small, 4);
  EXPECT_EQ(Run(Push(record) + CallAbsolute(rtlGetVersion) + kRet), 0xC000000Du);  // STATUS_INVALID_PARAMETER
}

// strlen is cdecl (the caller removes its argument), TlsGetValue stdcall:
// the call's ESP check fails if a stub removed the wrong amount.
TEST_F(InsideDll, StubsRemoveArgumentsAsTheirConventionSays) {
  const uint32_t text = Scratch(16);
  runner_.Memory().Write(text, "seven!!", 8);
  const Code code = Push(text) + CallAbsolute(Stub("msvcrt.dll", "strlen")) + Code{0x83, 0xC4, 0x04} +  // add esp, 4
                    Code{0x50} + Push(0) + CallAbsolute(Stub("KERNEL32.dll", "TlsGetValue")) +          // push eax
                    Code{0x58} + kRet;                                                                  // pop eax
  EXPECT_EQ(Run(code), 7u);
}

// wsprintfA's arguments come from the guest's stack in the sizes its
// conversions name; the testbed prints them.
TEST_F(InsideDll, WsprintfTakesItsArgumentsFromTheStack) {
  const uint32_t out = Scratch(64), format = Scratch(32), text = Scratch(8);
  runner_.Memory().Write(format, "%s=%u|%5d|%-3c|%x|%%", 21);
  runner_.Memory().Write(text, "ab", 3);
  const Code code = Push(0xBEEF) + Push('z') + Push(static_cast<uint32_t>(-7)) + Push(42) + Push(text) + Push(format) +
                    Push(out) + CallAbsolute(Stub("USER32.dll", "wsprintfA")) + Code{0x83, 0xC4, 0x1C} +
                    kRet;  // add esp, 28
  EXPECT_EQ(Run(code), 22u);
  char printed[64] = {};
  runner_.Memory().Read(out, printed, 23);
  EXPECT_STREQ(printed, "ab=42|   -7|z  |beef|%");
}

// A block the guest keeps locked while the service library works on it by
// handle: the guest's writes reach the library, and the library's output
// reaches the guest's view of the output block.
TEST_F(InsideDll, LockedBlocksAreSharedWithTheServiceLibrary) {
  tb::StartLibraryOn(tb::Machine());
  const std::string content = "EXPANDED BYTES";
  const std::vector<uint8_t> member = tb::LzhMember("m.bin", std::vector<uint8_t>(content.begin(), content.end()),
                                                    tb::LzhMethod::Lh0, false);
  const uint32_t source = Scratch(static_cast<uint32_t>(member.size()));
  runner_.Memory().Write(source, member.data(), static_cast<uint32_t>(member.size()));
  const uint32_t vars = Scratch(32), block = Scratch(sizeof(orr::ImageServiceBlock));
  const uint32_t kBlock = orr::kWorkBlockSize, kGhnd = 0x42;
  std::string missing;
  const uint32_t service = runner_.ResolveByOrdinal("ZANTBIOS.dll", 1, missing);
  const Code code =
      Push(kBlock) + Push(kGhnd) + CallAbsolute(Stub("KERNEL32.dll", "GlobalAlloc")) + StoreEax(vars) +       // output
      Push(kBlock) + Push(kGhnd) + CallAbsolute(Stub("KERNEL32.dll", "GlobalAlloc")) + StoreEax(vars + 4) +   // member
      PushFrom(vars) + CallAbsolute(Stub("KERNEL32.dll", "GlobalLock")) + StoreEax(vars + 8) +
      PushFrom(vars + 4) + CallAbsolute(Stub("KERNEL32.dll", "GlobalLock")) + StoreEax(vars + 12) +
      Push(static_cast<uint32_t>(member.size())) + Push(source) + PushFrom(vars + 12) +
      CallAbsolute(Stub("msvcrt.dll", "memcpy")) + Code{0x83, 0xC4, 0x0C} +
      LoadEax(vars) + StoreEax(block + offsetof(orr::ImageServiceBlock, outputBlock)) + LoadEax(vars + 4) +
      StoreEax(block + offsetof(orr::ImageServiceBlock, inputBlock)) +
      Push(vars + 16) + Push(0) + Push(0) + Push(sizeof(orr::ImageServiceBlock)) + Push(block) +
      Push(orr::kRequestExpandMember) + CallAbsolute(service) +
      LoadEax(vars + 8) + LoadEaxPlus(kBlock - static_cast<uint32_t>(content.size())) + kRet;
  EXPECT_EQ(Run(code), 0x41505845u);  // "EXPA", at the end of the output block
}

// The first megabyte as the machine holds it (page 0 excepted), and PCI
// configuration mechanism 1 through the port instructions.
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
  try {
    Run(LoadEax(0xF0010) + kRet);
    ADD_FAILURE() << "low memory was readable on NT";
  } catch (const Fault& f) {
    EXPECT_NE(std::string(f.what()).find("read of unmapped memory: 4 bytes at 0x000F0010 (the first megabyte"),
              std::string::npos)
        << f.what();
  }
}

// A driver window appears at the address the driver hands out and is gone
// once released: a read after the release faults.
TEST_F(InsideDll, DriverWindowLastsUntilReleased) {
  tb::StartLibraryOn(tb::MachineBuilder().Nt().BiosType(2).Text(0x00200000, "WINDOW"));
  orr::DriverBlock driver{};
  std::strcpy(driver.name, orr::kDriverName);
  uint32_t serviceError = 0;
  ASSERT_TRUE(BiosServiceCall(orr::kRequestOpenDriver, &driver, sizeof driver, 0, 0, &serviceError));
  const uint32_t io = Scratch(16);  // input (address, length), output, returned count
  const uint32_t request[2] = {0x00200000, 0x100};
  runner_.Memory().Write(io, request, sizeof request);
  auto ioctl = [&](uint32_t code, uint32_t in, uint32_t inSize, uint32_t out, uint32_t outSize) {
    return Push(0) + Push(io + 12) + Push(outSize) + Push(out) + Push(inSize) + Push(in) + Push(code) +
           Push(driver.handle) + CallAbsolute(Stub("KERNEL32.dll", "DeviceIoControl"));
  };
  EXPECT_EQ(Run(ioctl(orr::kIoctlMapPhysical, io, 8, io + 8, 4) + LoadEax(io + 8) + kDerefEax + kRet), 0x444E4957u);
  uint32_t window = 0;
  runner_.Memory().Read(io + 8, &window, 4);
  ASSERT_NE(window, 0u);
  EXPECT_EQ(Run(LoadEax(window + 2) + kRet), 0x574F444Eu);  // still there in a later call
  try {
    Run(ioctl(orr::kIoctlUnmapPhysical, io + 8, 4, 0, 0) + LoadEax(window) + kRet);
    ADD_FAILURE() << "the released window was still readable";
  } catch (const Fault& f) {
    EXPECT_NE(std::string(f.what()).find("read of unmapped memory"), std::string::npos) << f.what();
  }
}

}  // namespace
