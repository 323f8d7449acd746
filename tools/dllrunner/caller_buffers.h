// A caller's buffers in guest memory for one export call: each one ends at
// the end of its own pages, followed by an unmapped page, so a write past
// the size the caller gave faults. Output buffers start with the caller's
// bytes and go back to the caller with Finish.
#pragma once

#include <cstdint>
#include <vector>

#include "dll_runner.h"

namespace dllrun {

class CallerBuffers {
 public:
  explicit CallerBuffers(DllRunner& runner) : r_(runner) {}
  ~CallerBuffers();
  CallerBuffers(const CallerBuffers&) = delete;
  CallerBuffers& operator=(const CallerBuffers&) = delete;

  uint32_t In(const char* text);               // a NUL-terminated copy; 0 for null
  uint32_t Out(void* host, uint32_t size);     // 0 for null
  uint32_t Finish(uint32_t eax);               // copies the outputs back, returns eax

 private:
  struct Buffer {
    uint32_t mapping, guest, size;
    void* host;
  };
  uint32_t Place(void* host, const void* contents, uint32_t size);

  DllRunner& r_;
  std::vector<Buffer> buffers_;
};

}  // namespace dllrun
