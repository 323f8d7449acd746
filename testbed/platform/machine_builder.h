// Builds a simulated machine in a few lines; the profile loader uses the
// same calls.
#pragma once

#include <string>
#include <vector>

#include "testbed.h"

namespace tb {

constexpr uint32_t kFSegment = 0xF0000;

class MachineBuilder {
 public:
  MachineBuilder& Nt();
  MachineBuilder& Win9x();
  MachineBuilder& ReportedPlatform(Platform reported);  // what GetVersionExA says
  MachineBuilder& VersionCallFails(bool fails = true);
  MachineBuilder& CurrentDirectory(const std::string& directory);
  MachineBuilder& GlobalSizeGranularity(uint32_t bytes);

  MachineBuilder& OpenError(uint32_t serviceError);
  MachineBuilder& FreeFails(bool fails = true);
  MachineBuilder& FlashSize(uint32_t bytes);
  MachineBuilder& RefuseExpand(bool refuse = true);
  MachineBuilder& ImageServiceError(uint32_t serviceError);
  MachineBuilder& StatusFailsSilently(bool silent = true);
  MachineBuilder& ScribbleImageBlock(bool scribble = true);

  MachineBuilder& BiosType(uint32_t type);
  MachineBuilder& PluginBlockA(const std::vector<uint8_t>& bytes);  // at most 21 bytes, the rest 0
  MachineBuilder& PluginBlockB(const std::vector<uint8_t>& bytes);
  MachineBuilder& FailMapAt(uint32_t physical);

  MachineBuilder& Bytes(uint32_t address, const std::vector<uint8_t>& bytes);
  MachineBuilder& Text(uint32_t address, const std::string& text);  // the characters, then a NUL
  MachineBuilder& FSegmentBytes(uint32_t offset, const std::vector<uint8_t>& bytes) {
    return Bytes(kFSegment + offset, bytes);
  }
  MachineBuilder& FSegmentText(uint32_t offset, const std::string& text) { return Text(kFSegment + offset, text); }
  MachineBuilder& Pci(uint8_t bus, uint8_t device, uint8_t function, uint16_t vendorId, uint16_t deviceId,
                      uint32_t classCode);

  MachineBuilder& TokenGroup(const std::string& sid, uint32_t attributes);
  MachineBuilder& TokenOpenFails(bool fails = true);
  MachineBuilder& TokenReadFails(bool fails = true);
  MachineBuilder& SidBuildFails(bool fails = true);
  MachineBuilder& SystemDevice(const std::vector<std::string>& hardwareIds, bool readFails = false);
  MachineBuilder& SystemDevicesUnavailable(bool unavailable = true);

  const Machine& Build() const { return machine_; }
  operator const Machine&() const { return machine_; }
  Machine& Edit() { return machine_; }

 private:
  Machine machine_;
};

// Bytes from text with each character 0..255 as one byte ("\xC4" stays one byte).
std::vector<uint8_t> BytesOf(const std::string& text);

}  // namespace tb
