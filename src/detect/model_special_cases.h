// The five board models whose edition the identity record does not tell.
#pragma once

#include <cstdint>

namespace orr {

// The edition suffixes and the "N/A" rule for the special models.
void ApplyModelSpecialCases(uint32_t driver);

}  // namespace orr
