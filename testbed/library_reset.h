// Puts the library's module state back to what loading the DLL gives (both
// records and both flags zero) and installs a simulated machine. Tests,
// fuzzers and benchmarks all start from here.
#pragma once

#include <cstring>

#include "state/module_state.h"
#include "testbed.h"

namespace tb {

inline void ResetLibraryState() {
  std::memset(&MachineBios, 0, sizeof MachineBios);
  std::memset(&ImageBios, 0, sizeof ImageBios);
  g_isNt = 0;
  g_initialized = 0;
}

inline void StartLibraryOn(const Machine& machine) {
  ResetLibraryState();
  Reset(machine);
}

}  // namespace tb
