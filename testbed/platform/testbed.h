// The simulated machine behind the host build: what the Windows API subset,
// the service library, the access driver, the port instructions and physical
// memory answer, and the record of every request the library made.
#pragma once

#include <windows.h>

#include <array>
#include <cstdlib>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tb {

enum class Platform { Nt, Win9x };

// Physical memory over the whole 4 GiB space; bytes never written read 0.
// The first megabyte is kept whole (from its first write or LowMemory call)
// so the 9x path can read it in place; the rest lives in a sparse memory
// file, so a window above it can be shown in place instead of copied.
class PhysicalMemory {
 public:
  PhysicalMemory();
  PhysicalMemory(const PhysicalMemory& other);
  PhysicalMemory& operator=(const PhysicalMemory& other);
  PhysicalMemory(PhysicalMemory&& other) noexcept;
  PhysicalMemory& operator=(PhysicalMemory&& other) noexcept;
  ~PhysicalMemory();

  void Write(uint32_t address, const uint8_t* bytes, size_t size);
  void Write(uint32_t address, const std::vector<uint8_t>& bytes) { Write(address, bytes.data(), bytes.size()); }
  void WriteText(uint32_t address, const std::string& text);  // the characters, then a NUL
  void Read(uint32_t address, uint8_t* out, size_t size) const;
  std::vector<uint8_t> Read(uint32_t address, size_t size) const;
  // The first megabyte in place, for reading; writes go through Write.
  uint8_t* LowMemory();
  // Every byte back to 0, at the cost of what was written: the written
  // 64 KiB chunks are cleared, the rest is not touched. Views stay valid.
  void Clear();

  // The length bytes from address, read in place: a read-only mapping that
  // shows later writes and lives as long as this memory. Only for ranges
  // above the first megabyte that do not wrap at 4 GiB; null otherwise or
  // when the mapping cannot be made. The same range gives the same mapping.
  const uint8_t* View(uint32_t address, uint32_t length);
  // One user of a view is done with it; when none is left its bytes are
  // unreadable to the memory checkers until it is asked for again, as a
  // released driver window is.
  void Retire(const uint8_t* view);

 private:
  struct Mapping {
    uint8_t* base;  // the pages mapped, then one inaccessible page
    size_t span;    // bytes mapped from the file, a whole number of pages
    const uint8_t* bytes;
    uint32_t length;
    int open;  // users that have not retired it
  };
  static constexpr uint32_t kLowSize = 0x100000;
  static constexpr uint32_t kChunk = 0x10000;
  void Swap(PhysicalMemory& other) noexcept;
  int High();  // the memory file, made at the first write or view
  void ReleaseMappings();

  std::vector<uint8_t> low_;  // empty until the first write or LowMemory call: all zero
  uint32_t lowWritten_ = 0;   // one bit per 64 KiB chunk of the first megabyte written
  int high_ = -1;
  std::set<uint32_t> written_;  // chunk numbers written above 1 MiB: what a copy carries
  std::map<std::pair<uint32_t, uint32_t>, Mapping> mappings_;  // by address and length
};

struct PciFunction {
  uint8_t bus = 0;
  uint8_t device = 0;
  uint8_t function = 0;
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint32_t classCode = 0;  // base class, subclass, interface: 0x020000 for an Ethernet controller
};

struct TokenGroup {
  std::string sid;          // "S-1-5-32-544"
  uint32_t attributes = 0;  // SE_GROUP_* bits
};

struct SystemDevice {
  std::vector<std::string> hardwareIds;
  bool readFails = false;
};

struct Machine {
  Platform platform = Platform::Nt;
  // What GetVersionExA reports, apart from the family the machine is: an NT
  // system in a 9x compatibility mode reports 9x. Empty: the same family.
  std::optional<Platform> reportedPlatform;
  bool versionCallFails = false;
  std::string currentDirectory = "C:\\";
  // GlobalAlloc rounds each block up to a multiple of this many bytes (a
  // power of two, at most 64 KiB), zero-filled, and GlobalSize reports the
  // rounded size, as Windows may; 1: exactly the size asked for.
  uint32_t globalSizeGranularity = 1;

  // Service library.
  uint32_t openError = 0;  // 0: the open request succeeds
  bool freeFails = false;
  std::optional<uint32_t> flashSize;  // empty: the flash information is not valid
  bool refuseExpand = false;          // the first image request is refused
  std::optional<uint32_t> imageServiceError;  // forced serviceError of the second image request
  bool statusFailsSilently = false;  // the second image request fails and leaves serviceError unwritten
  bool scribbleImageBlock = false;  // each image request leaves kScribbleWord in offsets 1024 to 1039 of its block

  // Access driver.
  std::optional<uint32_t> biosType;  // empty: the BiosType request fails
  std::array<uint8_t, 21> pluginBlockA{};
  std::array<uint8_t, 21> pluginBlockB{};
  std::set<uint32_t> failMapAt;  // physical addresses whose mapping fails

  PhysicalMemory memory;
  std::vector<PciFunction> pci;

  // Security and device setup.
  bool tokenOpenFails = false;
  bool tokenReadFails = false;
  bool sidBuildFails = false;
  std::vector<TokenGroup> tokenGroups;
  std::vector<SystemDevice> systemDevices;
  bool systemDevicesUnavailable = false;
};

struct Request {
  uint32_t code;
  std::vector<uint8_t> input;  // the block (service) or input buffer (driver) as sent
};

struct MessageBox {
  HWND owner;
  std::string text;
  std::string title;
  unsigned style;
};

struct PortAccess {
  bool write;
  uint16_t port;
  uint32_t value;
};

// Installs a machine and clears every record, window, block and injected
// fault. The library's own module state is not touched. The second form
// takes the machine over instead of copying it (its memory file and views
// with it); it may be given CurrentMachine() itself.
void Reset(const Machine& machine);
void Reset(Machine&& machine);
Machine& CurrentMachine();

// What the library did since the last Reset.
const std::vector<Request>& ServiceRequests();
const std::vector<Request>& DriverRequests();
const std::vector<MessageBox>& MessageBoxes();
const std::vector<std::string>& DebugLines();
const std::vector<PortAccess>& PortAccesses();  // 9x port instructions
void ClearRecords();                            // forget requests and messages, keep the machine

// Windows mapped through request 0x222440 and not released.
size_t OutstandingMappedWindows();
// Global-memory blocks not freed, and blocks still locked.
size_t OutstandingGlobalBlocks();
size_t LockedGlobalBlocks();
// Handles and security identifiers obtained and not released.
size_t OutstandingTokenHandles();
size_t OutstandingSids();
size_t OutstandingDeviceSets();

// Calls that break a Windows contract, each recorded when made (and written
// to stderr): a released block, handle or SID released or used again, a lock
// count taken below zero, DeviceIoControl without a byte-count pointer, and
// on an NT machine a port instruction or a direct read of low memory, which
// fault there.
const std::vector<std::string>& ContractViolations();

// Fault injection, counted from now: the nth later call fails (1 = the next).
void FailGlobalAllocAt(int nth);
void FailGlobalLockAt(int nth);

// What a machine's scribbleImageBlock leaves in the four words behind the
// first 1024 bytes of the ImageServiceBlock; it names no global block.
constexpr uint32_t kScribbleWord = 0x5C5C5C5C;

// The service library's half of the driver contract, for the image requests.
constexpr uint32_t kDriverHandle = 0x00000D10;
constexpr uint32_t kDriverCookie = 0xC0DE0001;

// The control codes the access driver of each family answers.
bool KnownDriverCode(uint32_t code, bool nt);

// The bytes of a global block: zeroed memory as the system hands it out
// (calloc), never written over with zeros, so a large block's pages stay
// the system's zero pages until first touched, as a real GlobalAlloc's do.
class BlockBytes {
 public:
  BlockBytes() = default;
  explicit BlockBytes(size_t size) : bytes_(size ? static_cast<uint8_t*>(std::calloc(size, 1)) : nullptr) {
    if (size && !bytes_) throw std::bad_alloc();
    size_ = size;
  }
  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint8_t* begin() { return data(); }
  uint8_t* end() { return data() + size_; }
  const uint8_t* begin() const { return data(); }
  const uint8_t* end() const { return data() + size_; }

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> bytes_;
  size_t size_ = 0;
};

// Bytes of a global block by handle (tests and the service library).
BlockBytes* GlobalBlockBytes(uint32_t handle);

}  // namespace tb
