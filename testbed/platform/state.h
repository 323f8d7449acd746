// The testbed's internal state, shared by its stand-ins.
#pragma once

#include "testbed.h"

namespace tb {

struct MappedWindow {
  uint32_t physical;
  const uint8_t* view;         // the machine's memory shown in place, or null
  std::vector<uint8_t> bytes;  // otherwise a snapshot of exactly the mapped length
  bool viaNtCode;              // request 0x222440 (released with 0x222444)
  bool released;
};

struct GlobalBlock {
  BlockBytes bytes;
  int locks = 0;
};

struct State {
  Machine machine;
  std::vector<Request> serviceRequests;
  std::vector<Request> driverRequests;
  std::vector<MessageBox> messageBoxes;
  std::vector<std::string> debugLines;
  std::vector<PortAccess> portAccesses;
  std::vector<std::string> contractViolations;
  DWORD lastError = 0;  // the library runs on its caller's one thread

  bool driverOpen = false;
  uint32_t pciAddress = 0;
  std::map<uint32_t, MappedWindow> windows;  // by window address
  uint32_t nextWindow = 0x20000000;

  std::map<uint32_t, GlobalBlock> blocks;  // by handle
  uint32_t nextBlock = 0x00100000;
  int allocCalls = 0;
  int lockCalls = 0;
  int failAllocAt = 0;
  int failLockAt = 0;
  std::map<uint32_t, uint32_t> expansions;  // outcome of the last expand request, by output block handle

  std::set<uintptr_t> tokens;
  std::set<uintptr_t> sids;
  std::set<uintptr_t> deviceSets;
  // Token and device-setup calls as made, and token faults a machine cannot state.
  std::vector<std::string> securityCalls;
  std::optional<uint32_t> groupsSizeReported;
  uint32_t groupCountOverstated = 0;
};

State& S();

// Records a call that breaks a Windows contract (see ContractViolations).
void Violation(const std::string& what);
bool OnNt();  // the machine's real family, whatever it reports

// Port instructions and PCI configuration mechanism 1.
uint32_t PortRead(uint16_t port);
void PortWrite(uint16_t port, uint32_t value);

// The image requests of the service library (group 200).
BOOL ImageServiceCall(uint32_t request, void* block, uint32_t blockSize, uint32_t* serviceError);

}  // namespace tb
