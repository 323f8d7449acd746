#include "guest_memory.h"

#include <sys/mman.h>

#include <cstring>

namespace dllrun {
namespace {

constexpr uint64_t kSpace = 1ull << 32;

uint32_t AlignUp(uint32_t value, uint32_t align) { return (value + align - 1) & ~(align - 1); }

}  // namespace

GuestMemory::~GuestMemory() {
  for (auto& [start, m] : mappings_) {
    uc_mem_unmap(uc_, m.start, m.size);
    munmap(m.host, m.size);
  }
}

bool GuestMemory::IsFree(uint32_t address, uint32_t size) const {
  const uint64_t end = static_cast<uint64_t>(address) + size;
  auto it = mappings_.upper_bound(address);
  if (it != mappings_.begin()) {
    auto prev = std::prev(it);
    if (static_cast<uint64_t>(prev->second.start) + prev->second.size > address) return false;
  }
  return it == mappings_.end() || it->second.start >= end;
}

// Fixed mappings inside the arena keep MapAnywhere away from them too.
void GuestMemory::Reserve(uint32_t address, uint32_t size) {
  if (address < kArenaEnd && static_cast<uint64_t>(address) + size > kArenaStart) arenaUsed_[address] = address + size;
}

uint8_t* GuestMemory::Map(uint32_t address, uint32_t size, uint32_t prot, const std::string& name,
                          std::string& error) {
  size = PageRound(size == 0 ? 1 : size);
  if (address % kPage != 0 || address == 0 || static_cast<uint64_t>(address) + size > kSpace) {
    error = name + ": no room at that address";
    return nullptr;
  }
  if (!IsFree(address, size)) {
    const Mapping* other = Find(address);
    if (!other) other = &mappings_.lower_bound(address)->second;
    error = name + " would overlap " + other->name;
    return nullptr;
  }
  void* host = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (host == MAP_FAILED) {
    error = name + ": out of host memory";
    return nullptr;
  }
  if (uc_err e = uc_mem_map_ptr(uc_, address, size, prot, host)) {
    munmap(host, size);
    error = name + ": " + uc_strerror(e);
    return nullptr;
  }
  auto* bytes = static_cast<uint8_t*>(host);
  mappings_[address] = Mapping{address, size, bytes, name};
  // A run that ends at 4 GiB stores its end as 0 (Reach reads it so).
  protection_[address] = Protection{address + size, prot};
  Reserve(address, size);
  return bytes;
}

uint32_t GuestMemory::MapAnywhere(uint32_t size, uint32_t prot, const std::string& name, std::string& error,
                                  uint32_t align) {
  const uint32_t need = PageRound(size == 0 ? 1 : size) + kPage;  // and its guard page
  uint32_t candidate = AlignUp(kArenaStart, align);
  for (const auto& [start, end] : arenaUsed_) {
    if (static_cast<uint64_t>(candidate) + need <= start) break;
    if (end > candidate) candidate = AlignUp(end, align);
  }
  if (static_cast<uint64_t>(candidate) + need > kArenaEnd) {
    error = name + ": the runner's part of the address space is full";
    return 0;
  }
  if (!Map(candidate, size, prot, name, error)) return 0;
  arenaUsed_[candidate] = candidate + need;
  return candidate;
}

bool GuestMemory::Unmap(uint32_t address) {
  auto it = mappings_.find(address);
  if (it == mappings_.end()) return false;
  const Mapping m = it->second;
  uc_mem_unmap(uc_, m.start, m.size);
  munmap(m.host, m.size);
  mappings_.erase(it);
  auto p = protection_.lower_bound(m.start);
  while (p != protection_.end() && static_cast<uint64_t>(p->first) < static_cast<uint64_t>(m.start) + m.size)
    p = protection_.erase(p);
  arenaUsed_.erase(m.start);
  return true;
}

const GuestMemory::Mapping* GuestMemory::Find(uint32_t address) const {
  auto it = mappings_.upper_bound(address);
  if (it == mappings_.begin()) return nullptr;
  --it;
  return static_cast<uint64_t>(address) < static_cast<uint64_t>(it->second.start) + it->second.size ? &it->second
                                                                                                     : nullptr;
}

uint32_t GuestMemory::ProtectionAt(uint32_t address) const {
  if (!Find(address)) return 0;
  auto it = std::prev(protection_.upper_bound(address));
  return it->second.prot;
}

bool GuestMemory::Protect(uint32_t address, uint32_t size, uint32_t prot) {
  size = PageRound(size);
  const Mapping* m = Find(address);
  if (!m || address % kPage != 0 || size == 0 ||
      static_cast<uint64_t>(address) + size > static_cast<uint64_t>(m->start) + m->size)
    return false;
  if (uc_mem_protect(uc_, address, size, prot) != UC_ERR_OK) return false;
  // Split the runs at both ends, then set the ones inside.
  const uint32_t end = address + size;
  auto split = [&](uint32_t at) {
    if (at == m->start + m->size || protection_.count(at)) return;
    auto run = std::prev(protection_.upper_bound(at));
    protection_[at] = Protection{run->second.end, run->second.prot};
    run->second.end = at;
  };
  split(address);
  split(end);
  for (auto it = protection_.find(address); it != protection_.end() && it->first < end; ++it) it->second.prot = prot;
  return true;
}

uint8_t* GuestMemory::Span(uint32_t address, uint32_t size, uint32_t access) {
  const Mapping* m = Find(address);
  if (!m || static_cast<uint64_t>(address) + size > static_cast<uint64_t>(m->start) + m->size) return nullptr;
  if (Reach(address, size, access) < size) return nullptr;
  return m->host + (address - m->start);
}

uint32_t GuestMemory::Reach(uint32_t address, uint32_t limit, uint32_t access) const {
  uint64_t at = address;
  const uint64_t stop = static_cast<uint64_t>(address) + limit;
  while (at < stop) {
    if (at >= kSpace || !Find(static_cast<uint32_t>(at))) break;
    auto run = std::prev(protection_.upper_bound(static_cast<uint32_t>(at)));
    if ((run->second.prot & access) != access) break;
    at = run->second.end == 0 ? kSpace : run->second.end;
  }
  return static_cast<uint32_t>((at < stop ? at : stop) - address);
}

bool GuestMemory::Read(uint32_t address, void* out, uint32_t size) const {
  if (Reach(address, size, kRead) < size) return false;
  auto* dst = static_cast<uint8_t*>(out);
  while (size > 0) {
    const Mapping* m = Find(address);
    const uint32_t take = std::min<uint64_t>(size, static_cast<uint64_t>(m->start) + m->size - address);
    std::memcpy(dst, m->host + (address - m->start), take);
    dst += take;
    address += take;
    size -= take;
  }
  return true;
}

bool GuestMemory::Write(uint32_t address, const void* bytes, uint32_t size) {
  if (Reach(address, size, kWrite) < size) return false;
  const auto* src = static_cast<const uint8_t*>(bytes);
  while (size > 0) {
    const Mapping* m = Find(address);
    const uint32_t take = std::min<uint64_t>(size, static_cast<uint64_t>(m->start) + m->size - address);
    std::memcpy(m->host + (address - m->start), src, take);
    src += take;
    address += take;
    size -= take;
  }
  return true;
}

}  // namespace dllrun
