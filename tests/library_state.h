// Puts the library back into its load-time state and installs a simulated
// machine, so each test starts as if the DLL had just been loaded.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "state/module_state.h"
#include "library_reset.h"
#include "testbed.h"

inline void StartWith(const tb::Machine& machine) { tb::StartLibraryOn(machine); }

// Every window mapped on NT, every global block and lock, every token, SID
// and device set was given back, each once, and no Windows contract broken.
inline void ExpectNothingOutstanding() {
  for (const std::string& violation : tb::ContractViolations()) ADD_FAILURE() << "contract broken: " << violation;
  EXPECT_EQ(tb::OutstandingMappedWindows(), 0u) << "mapped windows not released";
  EXPECT_EQ(tb::OutstandingGlobalBlocks(), 0u) << "global blocks not freed";
  EXPECT_EQ(tb::LockedGlobalBlocks(), 0u) << "global blocks still locked";
  EXPECT_EQ(tb::OutstandingTokenHandles(), 0u) << "token handles not closed";
  EXPECT_EQ(tb::OutstandingSids(), 0u) << "identifiers not freed";
  EXPECT_EQ(tb::OutstandingDeviceSets(), 0u) << "device sets not destroyed";
}
