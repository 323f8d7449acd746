#include "state.h"

#include <algorithm>

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

Machine& CurrentMachine() { return S().machine; }

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

std::vector<uint8_t>* GlobalBlockBytes(uint32_t handle) {
  auto it = S().blocks.find(handle);
  return it == S().blocks.end() ? nullptr : &it->second.bytes;
}

PhysicalMemory::PhysicalMemory() : low_(kLowSize, 0) {}

void PhysicalMemory::Write(uint32_t address, const uint8_t* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    uint32_t at = address + static_cast<uint32_t>(i);  // wraps at 4 GiB like the address space
    if (at < kLowSize) {
      low_[at] = bytes[i];
    } else {
      auto& chunk = chunks_[at / kChunk];
      if (chunk.empty()) chunk.assign(kChunk, 0);
      chunk[at % kChunk] = bytes[i];
    }
  }
}

void PhysicalMemory::WriteText(uint32_t address, const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  Write(address, bytes);
}

void PhysicalMemory::Read(uint32_t address, uint8_t* out, size_t size) const {
  size_t done = 0;
  while (done < size) {
    uint32_t at = address + static_cast<uint32_t>(done);
    if (at < kLowSize) {
      size_t n = std::min<size_t>(size - done, kLowSize - at);
      std::copy_n(low_.data() + at, n, out + done);
      done += n;
      continue;
    }
    size_t n = std::min<size_t>(size - done, kChunk - at % kChunk);
    auto it = chunks_.find(at / kChunk);
    if (it == chunks_.end())
      std::fill_n(out + done, n, 0);
    else
      std::copy_n(it->second.data() + at % kChunk, n, out + done);
    done += n;
  }
}

std::vector<uint8_t> PhysicalMemory::Read(uint32_t address, size_t size) const {
  std::vector<uint8_t> out(size);
  Read(address, out.data(), size);
  return out;
}

}  // namespace tb
