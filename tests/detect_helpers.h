// Shared by the machine-detection tests: a driver opened as the detection
// opens it, for tests that run one probe, and counts of requests sent.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "firmware_builders.h"
#include "hwaccess/contract.h"
#include "hwaccess/primitives.h"
#include "hwaccess/service.h"
#include "library_state.h"
#include "machine_builder.h"

// Installs the machine, sets the platform flag and opens the driver; returns
// the handle the probes take.
inline uint32_t OpenDriverOn(const tb::Machine& machine) {
  StartWith(machine);
  g_isNt = machine.platform == tb::Platform::Nt ? 1 : 0;
  orr::DriverBlock block = {};
  std::strcpy(block.name, orr::kDriverName);
  uint32_t serviceError = 0;
  EXPECT_TRUE(BiosServiceCall(orr::kRequestOpenDriver, &block, sizeof block, 0, 0, &serviceError));
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
    if (q.code != code || q.input.size() < 8) continue;
    uint32_t in[2];
    std::memcpy(in, q.input.data(), 8);
    maps.emplace_back(in[0], in[1]);
  }
  return maps;
}

inline std::vector<std::string> MessageTexts() {
  std::vector<std::string> texts;
  for (const tb::MessageBox& m : tb::MessageBoxes()) texts.push_back(m.text);
  return texts;
}

inline tb::MachineBuilder NtMachine(uint32_t biosType) {
  tb::MachineBuilder b;
  b.Nt().BiosType(biosType);
  return b;
}
