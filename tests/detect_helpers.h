// Shared by the machine-detection and primitive tests: the boards they run
// on, a driver opened as the detection opens it, and what reached it.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "firmware_builders.h"
#include "hwaccess/contract.h"
#include "hwaccess/primitives.h"
#include "hwaccess/service.h"
#include "library_state.h"
#include "machine_builder.h"

// No family given: the driver refuses the family request.
inline tb::MachineBuilder MachineOn(tb::Platform platform, std::optional<uint32_t> biosType = {}) {
  tb::MachineBuilder b;
  b.Edit().platform = platform;
  b.Edit().biosType = biosType;
  return b;
}

inline tb::MachineBuilder NtMachine(uint32_t biosType) { return MachineOn(tb::Platform::Nt, biosType); }

// An onboard network controller, as the PCI scan and the routing table see it.
inline tb::MachineBuilder& WithNic(tb::MachineBuilder& b, uint8_t bus, uint8_t device, uint8_t function = 0) {
  return b.Pci(bus, device, function, 0x8086, 0x10BD, 0x020000);
}

// SMBIOS 2.4 with a BIOS information structure and a chassis whose OEM byte
// gives logo 5 and the LAN bit by default.
inline tb::MachineBuilder& WithSmbios(tb::MachineBuilder& b, uint8_t romSizeCode = 7, uint8_t oem = 0x0D) {
  return tb::WriteSmbios(b, {}, tb::SmbiosTable({tb::SmbiosBiosInformation(romSizeCode), tb::SmbiosChassis(oem)}));
}

// A board every step of the detection finds something on: identity area,
// plug-in blocks, flash size, SMBIOS and a routing table with one onboard NIC.
inline tb::MachineBuilder FullBoard(tb::Platform platform, uint32_t biosType) {
  tb::MachineBuilder b = MachineOn(platform, biosType);
  b.FlashSize(0x80000).PluginBlockA({0, 0, 0, 0, 1}).PluginBlockB({0, 0, 2});
  tb::WriteIdentityArea(b, "ZT-BOARD ID", "X12/31/09-R104-TX4410C-00", "<TX4410C>");
  tb::WritePirTable(WithSmbios(b), 0xF400, {{1, 25, 0}});
  return WithNic(b, 1, 25);
}

// Fields an earlier detection left, to see which ones a run rewrites.
inline void LeaveEarlierValues() {
  std::strcpy(MachineBios.idString, "earlier id"), std::strcpy(MachineBios.modelName, "EARLIER");
  std::strcpy(MachineBios.descriptionText, "earlier");
  MachineBios.flashSize = 1234, MachineBios.biosType = 9, MachineBios.pluginBlockA[4] = 0xEE;
  MachineBios.onboardDevices = 0x100;
}

// Installs the machine, sets the platform flag and opens the driver; returns
// the handle the probes take.
inline uint32_t OpenDriverOn(const tb::Machine& machine) {
  StartWith(machine);
  g_isNt = machine.platform == tb::Platform::Nt ? 1 : 0;
  orr::DriverBlock block = {};
  std::strcpy(block.name, orr::kDriverName);
  uint32_t serviceError = 0;
  EXPECT_TRUE(BiosServiceCall(orr::kRequestOpenDriver, &block, sizeof block, 0, 0, &serviceError));
  EXPECT_EQ(block.handle, tb::kDriverHandle);
  tb::ClearRecords();
  return block.handle;
}

inline size_t CountDriverRequests(uint32_t code) {
  const auto& r = tb::DriverRequests();
  return static_cast<size_t>(std::count_if(r.begin(), r.end(), [&](const tb::Request& q) { return q.code == code; }));
}

// The (physical, length) of every mapping request, in order.
inline std::vector<std::pair<uint32_t, uint32_t>> MapRequests(uint32_t code = orr::kIoctlMapPhysical) {
  std::vector<std::pair<uint32_t, uint32_t>> maps;
  for (const tb::Request& q : tb::DriverRequests()) {
    const orr::ByteView in(q.input.data(), static_cast<uint32_t>(q.input.size()));
    if (q.code == code) maps.emplace_back(in.U32(0), in.U32(4));
  }
  return maps;
}

inline std::vector<std::string> MessageTexts() {
  std::vector<std::string> texts;
  for (const tb::MessageBox& m : tb::MessageBoxes()) texts.push_back(m.text);
  return texts;
}
