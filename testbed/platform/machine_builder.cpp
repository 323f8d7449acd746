#include "machine_builder.h"

#include <algorithm>

namespace tb {

MachineBuilder& MachineBuilder::Nt() {
  machine_.platform = Platform::Nt;
  return *this;
}
MachineBuilder& MachineBuilder::Win9x() {
  machine_.platform = Platform::Win9x;
  return *this;
}
MachineBuilder& MachineBuilder::ReportedPlatform(Platform reported) {
  machine_.reportedPlatform = reported;
  return *this;
}
MachineBuilder& MachineBuilder::VersionCallFails(bool fails) {
  machine_.versionCallFails = fails;
  return *this;
}
MachineBuilder& MachineBuilder::CurrentDirectory(const std::string& directory) {
  machine_.currentDirectory = directory;
  return *this;
}
MachineBuilder& MachineBuilder::GlobalSizeGranularity(uint32_t bytes) {
  machine_.globalSizeGranularity = bytes;
  return *this;
}
MachineBuilder& MachineBuilder::OpenError(uint32_t serviceError) {
  machine_.openError = serviceError;
  return *this;
}
MachineBuilder& MachineBuilder::FreeFails(bool fails) {
  machine_.freeFails = fails;
  return *this;
}
MachineBuilder& MachineBuilder::FlashSize(uint32_t bytes) {
  machine_.flashSize = bytes;
  return *this;
}
MachineBuilder& MachineBuilder::RefuseExpand(bool refuse) {
  machine_.refuseExpand = refuse;
  return *this;
}
MachineBuilder& MachineBuilder::ImageServiceError(uint32_t serviceError) {
  machine_.imageServiceError = serviceError;
  return *this;
}
MachineBuilder& MachineBuilder::StatusFailsSilently(bool silent) {
  machine_.statusFailsSilently = silent;
  return *this;
}
MachineBuilder& MachineBuilder::ScribbleImageBlock(bool scribble) {
  machine_.scribbleImageBlock = scribble;
  return *this;
}
MachineBuilder& MachineBuilder::BiosType(uint32_t type) {
  machine_.biosType = type;
  return *this;
}

static void Fill(std::array<uint8_t, 21>& block, const std::vector<uint8_t>& bytes) {
  block.fill(0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
}

MachineBuilder& MachineBuilder::PluginBlockA(const std::vector<uint8_t>& bytes) {
  Fill(machine_.pluginBlockA, bytes);
  return *this;
}
MachineBuilder& MachineBuilder::PluginBlockB(const std::vector<uint8_t>& bytes) {
  Fill(machine_.pluginBlockB, bytes);
  return *this;
}
MachineBuilder& MachineBuilder::FailMapAt(uint32_t physical) {
  machine_.failMapAt.insert(physical);
  return *this;
}
MachineBuilder& MachineBuilder::Bytes(uint32_t address, const std::vector<uint8_t>& bytes) {
  machine_.memory.Write(address, bytes);
  return *this;
}
MachineBuilder& MachineBuilder::Text(uint32_t address, const std::string& text) {
  machine_.memory.WriteText(address, text);
  return *this;
}
MachineBuilder& MachineBuilder::Pci(uint8_t bus, uint8_t device, uint8_t function, uint16_t vendorId,
                                    uint16_t deviceId, uint32_t classCode) {
  machine_.pci.push_back(PciFunction{bus, device, function, vendorId, deviceId, classCode});
  return *this;
}
MachineBuilder& MachineBuilder::TokenGroup(const std::string& sid, uint32_t attributes) {
  machine_.tokenGroups.push_back(tb::TokenGroup{sid, attributes});
  return *this;
}
MachineBuilder& MachineBuilder::TokenOpenFails(bool fails) {
  machine_.tokenOpenFails = fails;
  return *this;
}
MachineBuilder& MachineBuilder::TokenReadFails(bool fails) {
  machine_.tokenReadFails = fails;
  return *this;
}
MachineBuilder& MachineBuilder::SidBuildFails(bool fails) {
  machine_.sidBuildFails = fails;
  return *this;
}
MachineBuilder& MachineBuilder::SystemDevice(const std::vector<std::string>& hardwareIds, bool readFails) {
  machine_.systemDevices.push_back(tb::SystemDevice{hardwareIds, readFails});
  return *this;
}
MachineBuilder& MachineBuilder::SystemDevicesUnavailable(bool unavailable) {
  machine_.systemDevicesUnavailable = unavailable;
  return *this;
}

std::vector<uint8_t> BytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace tb
