// The heap behind the guest's malloc family and the runner's own small
// guest objects (FILE records, SIDs, thread-local blocks). Bookkeeping lives
// on the host, so a guest that writes past a block cannot break the heap;
// freeing what was never allocated stops the run instead.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "guest_memory.h"

namespace dllrun {

class GuestHeap {
 public:
  static constexpr uint32_t kAlign = 16;

  bool Init(GuestMemory& memory, uint32_t size, std::string& error);
  // A zero-filled block of at least size bytes (one byte for 0), or 0 when
  // the heap is exhausted.
  uint32_t Allocate(uint32_t size);
  bool Free(uint32_t address);
  uint32_t SizeOf(uint32_t address) const;  // 0 unless a live block starts there

 private:
  GuestMemory* memory_ = nullptr;
  uint32_t base_ = 0;
  std::map<uint32_t, uint32_t> free_;  // start -> size
  std::map<uint32_t, uint32_t> used_;  // start -> size
};

}  // namespace dllrun
