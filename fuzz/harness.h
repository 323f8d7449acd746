// What every fuzz target shares: putting the simulated machine and the
// library back to their load-time state, and the invariants checked after
// each input. A broken invariant aborts, so libFuzzer and the replay driver
// both report it as a finding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "testbed.h"

namespace fz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

#define FZ_REQUIRE(condition) \
  do {                        \
    if (!(condition)) ::fz::Fail(#condition, __FILE__, __LINE__); \
  } while (0)

// tb::Reset plus zeroed MachineBios, ImageBios, g_isNt and g_initialized;
// the second form hands the machine over without copying it.
void StartWith(const tb::Machine& machine);
void StartWith(tb::Machine&& machine);

// Makes a machine what tb::Machine() is again, clearing only the memory
// that was written, so it can be built anew at little cost.
void ClearMachine(tb::Machine& machine);

// Ends a run: the testbed's records and the memory its machine was given
// are freed, the machine (its memory file and window mappings) kept. Every
// allocation of a run is then freed within it; libFuzzer runs a leak check
// after each run that allocates more than it frees.
void EndRun();

// No mapped window, global block or lock left behind, and no Windows
// contract broken on the way.
void RequireNothingOutstanding();
// Every text field of MachineBios and ImageBios holds a NUL inside its size
// (ImageBios.buildText is a plain 16-byte array and is not checked).
void RequireTextFieldsTerminated();
// Every driver request used a control code of the running family, and every
// service request a known request code.
void RequireKnownRequests();
// A result of Orrivane_GetBIOSFileInfo: ORRIVANE_OK, one of the header's
// ORRIVANE_ERR_* numbers, or a serviceError of the testbed's image requests.
void RequireDocumentedResult(uint32_t result);

// All of the above but the result.
void RequireInvariants();

// A deterministic 32-bit hash of the input, for choices that must not
// change what the input means.
uint32_t Hash(const uint8_t* data, size_t size);

}  // namespace fz
