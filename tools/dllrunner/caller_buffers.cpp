#include "caller_buffers.h"

#include <cstring>
#include <string>

namespace dllrun {

CallerBuffers::~CallerBuffers() {
  for (const Buffer& b : buffers_) r_.Memory().Unmap(b.mapping);
}

uint32_t CallerBuffers::In(const char* text) {
  return text ? Place(nullptr, text, static_cast<uint32_t>(std::strlen(text) + 1)) : 0;
}

uint32_t CallerBuffers::Out(void* host, uint32_t size) { return host ? Place(host, host, size) : 0; }

uint32_t CallerBuffers::Finish(uint32_t eax) {
  for (const Buffer& b : buffers_)
    if (b.host && !r_.Memory().Read(b.guest, b.host, b.size)) throw Fault("a caller buffer cannot be read back");
  return eax;
}

uint32_t CallerBuffers::Place(void* host, const void* contents, uint32_t size) {
  std::string error;
  const uint32_t mapping = r_.Memory().MapAnywhere(size, kRead | kWrite, "a caller buffer", error);
  if (!mapping) throw Fault(error);
  const uint32_t guest = mapping + PageRound(size == 0 ? 1 : size) - size;
  if (size) std::memcpy(r_.Memory().Span(guest, size, 0), contents, size);
  buffers_.push_back(Buffer{mapping, guest, size, host});
  return guest;
}

}  // namespace dllrun
