#include "hwaccess/platform_io.h"

namespace orr {

uint32_t PortIn32(uint16_t port) {
  uint32_t value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(port));
  return value;
}

void PortOut32(uint16_t port, uint32_t value) { __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(port)); }

const uint8_t* WindowPointer(uint32_t address) {
  return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address));
}

}  // namespace orr
