// The contract with the two outside components: the service library (its
// request codes and parameter blocks) and the access driver (its control
// codes). Offsets are little-endian byte offsets from the start of a block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orr {

// Service library request codes: group << 16 | request number.
constexpr uint32_t kRequestOpenDriver = 0x00640065;     // 100 / 101
constexpr uint32_t kRequestFreeDriver = 0x00640066;     // 100 / 102
constexpr uint32_t kRequestFlashInfo = 0x012C012D;      // 300 / 301
constexpr uint32_t kRequestExpandMember = 0x00C800CD;   // 200 / 205
constexpr uint32_t kRequestImageStatus = 0x00C800CC;    // 200 / 204
constexpr uint32_t kRequestImageFinish = 0x00C800CE;    // 200 / 206

constexpr char kDriverName[] = "DA_VUZ";

// serviceError numbers of the open request that have a message of their own.
constexpr uint32_t kOpenErrorScm = 100;
constexpr uint32_t kOpenErrorCreateService = 101;
constexpr uint32_t kOpenErrorOpenDriver = 103;
constexpr uint32_t kOpenErrorRegistry = 106;
constexpr uint32_t kOpenErrorDriverMissing = 107;

// Access-driver control codes on the NT family: device type 0x22, buffered,
// any access: (0x22 << 16) | (function << 2).
constexpr uint32_t NtControlCode(uint32_t function) { return (0x22u << 16) | (function << 2); }
constexpr uint32_t kIoctlMapPhysical = NtControlCode(0x910);      // 0x222440, both families
constexpr uint32_t kIoctlUnmapPhysical = NtControlCode(0x911);    // 0x222444, both families
constexpr uint32_t kIoctlReadPort = NtControlCode(0x915);         // 0x222454
constexpr uint32_t kIoctlWritePort = NtControlCode(0x916);        // 0x222458
constexpr uint32_t kIoctlPluginBlockA = NtControlCode(0x921);     // 0x222484
constexpr uint32_t kIoctlPluginBlockB = NtControlCode(0x922);     // 0x222488
constexpr uint32_t kIoctlBiosType = NtControlCode(0x935);         // 0x2224D4
static_assert(kIoctlMapPhysical == 0x222440 && kIoctlUnmapPhysical == 0x222444);
static_assert(kIoctlReadPort == 0x222454 && kIoctlWritePort == 0x222458);
static_assert(kIoctlPluginBlockA == 0x222484 && kIoctlPluginBlockB == 0x222488 && kIoctlBiosType == 0x2224D4);

// The 9x driver's codes.
constexpr uint32_t kIoctl9xMapHigh = 110;
constexpr uint32_t kIoctl9xPluginBlockA = 121;
constexpr uint32_t kIoctl9xPluginBlockB = 122;
constexpr uint32_t kIoctl9xBiosType = 127;

constexpr uint32_t kInvalidDriverHandle = 0xFFFFFFFF;
constexpr uint32_t kPluginBlockSize = 21;

struct DriverBlock {
  uint32_t cookie;       // written by the open, handed back to the free request
  uint32_t handle;       // DeviceIoControl reaches the driver through it
  char name[20];         // "DA_VUZ"
};
static_assert(sizeof(DriverBlock) == 28);
static_assert(offsetof(DriverBlock, cookie) == 0 && offsetof(DriverBlock, handle) == 4);
static_assert(offsetof(DriverBlock, name) == 8);

#pragma pack(push, 1)
struct FlashInfoBlock {
  uint32_t zero0;        // set to 0
  uint32_t unused4;
  uint32_t driverHandle;
  uint16_t valid;        // non-zero on return when flashSize holds the size
  uint16_t unused14;
  uint32_t zero16;       // set to 0
  uint32_t flashSize;
  uint8_t unused24[60];
};
#pragma pack(pop)
static_assert(sizeof(FlashInfoBlock) == 84);
static_assert(offsetof(FlashInfoBlock, driverHandle) == 8 && offsetof(FlashInfoBlock, valid) == 12);
static_assert(offsetof(FlashInfoBlock, zero16) == 16 && offsetof(FlashInfoBlock, flashSize) == 20);

constexpr uint32_t kWorkBlockSize = 0x20000;  // output block and member block of the expansion

struct ImageServiceBlock {
  uint8_t reserved[1024];   // the library neither sets nor reads it
  uint32_t outputBlock;     // handle of the 128 KiB output block
  uint32_t inputBlock;      // member block (expand) or image block (status, finish)
  uint32_t zero1032;
  uint32_t zero1036;
};
static_assert(sizeof(ImageServiceBlock) == 1040);
static_assert(offsetof(ImageServiceBlock, outputBlock) == 1024 && offsetof(ImageServiceBlock, inputBlock) == 1028);
static_assert(offsetof(ImageServiceBlock, zero1032) == 0x408 && offsetof(ImageServiceBlock, zero1036) == 0x40C);

}  // namespace orr
