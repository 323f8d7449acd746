// What the stubs keep between calls: the guest's views of the testbed's
// global-memory blocks and driver windows, the handles and objects the
// runner itself hands out, and the C runtime's files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>

namespace dllrun {

// A locked global-memory block as the guest sees it: the block's bytes
// copied into guest pages. While the guest runs the copy is the block; the
// bytes go back to the testbed's block before anything on the host reads it
// (the service library, an unlock, the end of the call) and come again after
// the service library may have written it.
struct BlockMirror {
  uint32_t guest;  // where GlobalLock told the guest the bytes are
  uint32_t size;
  uint8_t* host;   // the block's bytes as the testbed's GlobalLock gave them
  int locks;       // the guest's locks through this runner
};

struct Semaphore {
  int32_t count;
  int32_t maximum;
};

struct CrtFile {
  std::FILE* host;  // null for the standard streams, which go to the host's own
  int stream;       // 0, 1, 2 for stdin, stdout, stderr; -1 for an opened file
};

struct RuntimeState {
  // Global-memory blocks locked by the guest, by handle.
  std::map<uint32_t, BlockMirror> mirrors;
  // Driver windows mapped into the guest: address -> length.
  std::map<uint32_t, uint32_t> windows;
  // SIDs handed to the guest (guest address -> the testbed's SID).
  std::map<uint32_t, void*> sids;

  // Handles the runner makes itself (semaphores); the testbed's never reach here.
  std::map<uint32_t, Semaphore> semaphores;
  uint32_t nextHandle = 0x00DD0004;
  std::set<uint32_t> tlsIndexes;  // TlsAlloc'ed slots
  std::map<uint32_t, std::string> modules;  // pseudo module handles -> DLL name (lower case)

  // C runtime.
  uint32_t errnoAddress = 0;
  std::map<uint32_t, CrtFile> files;  // guest FILE* -> what it is
  std::map<int, int> descriptors;     // guest descriptor -> host descriptor
  int nextDescriptor = 3;
  int crtLocks = 0;
  std::map<std::string, uint32_t> constants;  // guest copies of fixed texts and records, by name
};

}  // namespace dllrun
