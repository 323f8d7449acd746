// GlobalAlloc and its family, bound to the testbed's blocks (it keeps the
// blocks, their lock counts and its records). The guest cannot see host
// memory, so a locked block's bytes are copied into guest pages (its
// mirror): GlobalLock hands the guest the mirror's address; the bytes go
// back to the testbed at the last unlock, before the service library reads
// blocks and at the end of each export call, and come back to the guest
// after the service library may have written them.
#include <windows.h>

#include <cstring>

#include "dll_runner.h"
#include "hex_text.h"
#include "imports.h"

namespace dllrun {
namespace {

void ToHost(DllRunner& r, const BlockMirror& m) {
  if (m.size) std::memcpy(m.host, r.Memory().Span(m.guest, m.size, 0), m.size);
}

void ToGuest(DllRunner& r, const BlockMirror& m) {
  if (m.size) std::memcpy(r.Memory().Span(m.guest, m.size, 0), m.host, m.size);
}

void Drop(DllRunner& r, uint32_t handle) {
  auto it = r.State().mirrors.find(handle);
  if (it == r.State().mirrors.end()) return;
  r.Memory().Unmap(it->second.guest);
  r.State().mirrors.erase(it);
}

void GlobalAlloc_(ImportCall& c) { c.Return(GuestHandle(c, GlobalAlloc(c.Arg(0), c.Arg(1)))); }

void GlobalLock_(ImportCall& c) {
  const uint32_t handle = c.Arg(0);
  auto* host = static_cast<uint8_t*>(GlobalLock(HostHandle(handle)));
  if (!host) return c.Return(0);
  auto& mirrors = c.Runner().State().mirrors;
  auto it = mirrors.find(handle);
  if (it != mirrors.end()) {
    ++it->second.locks;
    return c.Return(it->second.guest);
  }
  const auto size = static_cast<uint32_t>(GlobalSize(HostHandle(handle)));
  std::string error;
  const uint32_t guest = c.Memory().MapAnywhere(size, kRead | kWrite, "global block " + Hex(handle), error);
  if (!guest) c.Fail(error);
  BlockMirror m{guest, size, host, 1};
  ToGuest(c.Runner(), m);
  mirrors[handle] = m;
  c.Return(guest);
}

void GlobalUnlock_(ImportCall& c) {
  const uint32_t handle = c.Arg(0);
  auto& mirrors = c.Runner().State().mirrors;
  auto it = mirrors.find(handle);
  if (it != mirrors.end() && --it->second.locks == 0) {
    ToHost(c.Runner(), it->second);
    Drop(c.Runner(), handle);
  }
  c.Return(GlobalUnlock(HostHandle(handle)));
}

void GlobalSize_(ImportCall& c) { c.Return(static_cast<uint32_t>(GlobalSize(HostHandle(c.Arg(0))))); }

void GlobalFree_(ImportCall& c) {
  const uint32_t handle = c.Arg(0);
  HGLOBAL left = GlobalFree(HostHandle(handle));
  if (!left) Drop(c.Runner(), handle);
  c.Return(GuestHandle(c, left));
}

}  // namespace

void SyncBlocksToHost(DllRunner& r) {
  for (const auto& [handle, m] : r.State().mirrors) ToHost(r, m);
}

void SyncBlocksToGuest(DllRunner& r) {
  for (const auto& [handle, m] : r.State().mirrors) ToGuest(r, m);
}

void SettleBlocks(DllRunner& r) {
  SyncBlocksToHost(r);
  while (!r.State().mirrors.empty()) Drop(r, r.State().mirrors.begin()->first);
}

void AddMemoryBlockImports(ImportTable& t) {
  t.insert(t.end(), {
      Stdcall("KERNEL32.dll", "GlobalAlloc", 2, GlobalAlloc_),
      Stdcall("KERNEL32.dll", "GlobalLock", 1, GlobalLock_),
      Stdcall("KERNEL32.dll", "GlobalUnlock", 1, GlobalUnlock_),
      Stdcall("KERNEL32.dll", "GlobalSize", 1, GlobalSize_),
      Stdcall("KERNEL32.dll", "GlobalFree", 1, GlobalFree_),
  });
}

}  // namespace dllrun
