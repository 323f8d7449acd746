#include "guest_heap.h"

#include <cstring>

namespace dllrun {

bool GuestHeap::Init(GuestMemory& memory, uint32_t size, std::string& error) {
  memory_ = &memory;
  base_ = memory.MapAnywhere(size, kRead | kWrite, "the heap", error);
  if (!base_) return false;
  free_[base_] = PageRound(size);
  return true;
}

uint32_t GuestHeap::Allocate(uint32_t size) {
  if (size > 0xFFFF0000u) return 0;
  const uint32_t need = (size + kAlign - 1 + (size == 0)) & ~(kAlign - 1);
  for (auto it = free_.begin(); it != free_.end(); ++it) {
    if (it->second < need) continue;
    const uint32_t at = it->first, rest = it->second - need;
    free_.erase(it);
    if (rest) free_[at + need] = rest;
    used_[at] = need;
    std::memset(memory_->Span(at, need, 0), 0, need);
    return at;
  }
  return 0;
}

bool GuestHeap::Free(uint32_t address) {
  auto it = used_.find(address);
  if (it == used_.end()) return false;
  uint32_t start = address, size = it->second;
  used_.erase(it);
  auto next = free_.lower_bound(start);
  if (next != free_.end() && start + size == next->first) {
    size += next->second;
    next = free_.erase(next);
  }
  if (next != free_.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second == start) {
      prev->second += size;
      return true;
    }
  }
  free_[start] = size;
  return true;
}

uint32_t GuestHeap::SizeOf(uint32_t address) const {
  auto it = used_.find(address);
  return it == used_.end() ? 0 : it->second;
}

}  // namespace dllrun
