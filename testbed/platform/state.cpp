#include "state.h"

#include <cstdio>

namespace tb {

State& S() {
  static State state;
  return state;
}

void Reset(const Machine& machine) {
  State& s = S();
  s = State();
  s.machine = machine;
}

void Reset(Machine&& machine) {
  Machine kept = std::move(machine);
  State& s = S();
  s = State();
  s.machine = std::move(kept);
}

Machine& CurrentMachine() { return S().machine; }

void Violation(const std::string& what) {
  std::fprintf(stderr, "testbed: Windows contract broken: %s\n", what.c_str());
  S().contractViolations.push_back(what);
}

bool OnNt() { return S().machine.platform == Platform::Nt; }

const std::vector<std::string>& ContractViolations() { return S().contractViolations; }

const std::vector<Request>& ServiceRequests() { return S().serviceRequests; }
const std::vector<Request>& DriverRequests() { return S().driverRequests; }
const std::vector<MessageBox>& MessageBoxes() { return S().messageBoxes; }
const std::vector<std::string>& DebugLines() { return S().debugLines; }
const std::vector<PortAccess>& PortAccesses() { return S().portAccesses; }

void ClearRecords() {
  State& s = S();
  s.serviceRequests.clear();
  s.driverRequests.clear();
  s.messageBoxes.clear();
  s.debugLines.clear();
  s.portAccesses.clear();
}

size_t OutstandingMappedWindows() {
  size_t n = 0;
  for (const auto& [address, window] : S().windows) n += window.viaNtCode && !window.released;
  return n;
}

size_t OutstandingGlobalBlocks() { return S().blocks.size(); }

size_t LockedGlobalBlocks() {
  size_t n = 0;
  for (const auto& [handle, block] : S().blocks) n += block.locks > 0;
  return n;
}

size_t OutstandingTokenHandles() { return S().tokens.size(); }
size_t OutstandingSids() { return S().sids.size(); }
size_t OutstandingDeviceSets() { return S().deviceSets.size(); }

void FailGlobalAllocAt(int nth) { S().failAllocAt = S().allocCalls + nth; }
void FailGlobalLockAt(int nth) { S().failLockAt = S().lockCalls + nth; }

BlockBytes* GlobalBlockBytes(uint32_t handle) {
  auto it = S().blocks.find(handle);
  return it == S().blocks.end() ? nullptr : &it->second.bytes;
}

}  // namespace tb
