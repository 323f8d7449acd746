// The 32-bit address space the DLL sees. Every mapping is host memory that
// this class owns and hands to the emulator (uc_mem_map_ptr), so a stub can
// work on the guest's bytes in place; what is not mapped faults.
//
// Layout: page 0 is never mapped (a null read faults); the first megabyte is
// the machine's low memory; the runner's own mappings (stack, heap, stubs,
// caller buffers, global-memory blocks, a relocated image) are placed in the
// arena below 0x20000000, each followed by an unmapped guard page; the access
// driver's windows and the DLL at its preferred base sit where they say.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <map>
#include <string>

namespace dllrun {

constexpr uint32_t kPage = 0x1000;
constexpr uint32_t kArenaStart = 0x01000000;
constexpr uint32_t kArenaEnd = 0x20000000;

// The emulator's protection bits.
constexpr uint32_t kRead = UC_PROT_READ, kWrite = UC_PROT_WRITE, kExec = UC_PROT_EXEC;

inline uint32_t PageRound(uint32_t size) { return (size + kPage - 1) & ~(kPage - 1); }

class GuestMemory {
 public:
  struct Mapping {
    uint32_t start;
    uint32_t size;  // whole pages
    uint8_t* host;
    std::string name;
  };

  explicit GuestMemory(uc_engine* uc) : uc_(uc) {}
  ~GuestMemory();
  GuestMemory(const GuestMemory&) = delete;
  GuestMemory& operator=(const GuestMemory&) = delete;

  // Zeroed pages at address (page-aligned); null when the range is taken or
  // outside the 32-bit space, with the reason in error.
  uint8_t* Map(uint32_t address, uint32_t size, uint32_t prot, const std::string& name, std::string& error);
  // The same at a free place in the arena, aligned to align (a power of two,
  // at least a page), with a guard page behind; returns the address or 0.
  uint32_t MapAnywhere(uint32_t size, uint32_t prot, const std::string& name, std::string& error,
                       uint32_t align = kPage);
  // Removes the whole mapping that starts at address.
  bool Unmap(uint32_t address);
  // Page-granular protection change inside one mapping.
  bool Protect(uint32_t address, uint32_t size, uint32_t prot);

  const Mapping* Find(uint32_t address) const;
  uint32_t ProtectionAt(uint32_t address) const;  // 0 where nothing is mapped
  // Host pointer to [address, address + size) when it lies in one mapping
  // that allows the access; null otherwise.
  uint8_t* Span(uint32_t address, uint32_t size, uint32_t access);
  // How many bytes from address on are mapped with the access, across
  // adjacent mappings, up to limit.
  uint32_t Reach(uint32_t address, uint32_t limit, uint32_t access) const;
  bool Read(uint32_t address, void* out, uint32_t size) const;
  bool Write(uint32_t address, const void* bytes, uint32_t size);
  bool IsFree(uint32_t address, uint32_t size) const;

  // Every mapping, for VirtualQuery and fault reports.
  const std::map<uint32_t, Mapping>& Mappings() const { return mappings_; }

 private:
  struct Protection {
    uint32_t end;
    uint32_t prot;
  };
  void Reserve(uint32_t address, uint32_t size);

  uc_engine* uc_;
  std::map<uint32_t, Mapping> mappings_;      // by start
  std::map<uint32_t, Protection> protection_;  // page runs by start
  std::map<uint32_t, uint32_t> arenaUsed_;     // arena ranges taken (with their guard page), by start
};

}  // namespace dllrun
