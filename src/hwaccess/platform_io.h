// What only the processor or the address space can give: 32-bit port
// instructions (used on the 9x family) and the pointer behind a window
// address. The DLL build defines them in platform_io_win32.cpp; the host
// build takes them from the testbed's simulated machine.
#pragma once

#include <cstdint>

namespace orr {

uint32_t PortIn32(uint16_t port);
void PortOut32(uint16_t port, uint32_t value);

// Window addresses travel as 32-bit values (driver outputs, linear
// addresses below 1 MiB on 9x); this turns one into a readable pointer.
const uint8_t* WindowPointer(uint32_t address);

}  // namespace orr
