#pragma once
// The KIA board's own failure: what its EEPROM routine reports from the
// two-wire bus. Missing or wrong acknowledgements and short replies are the
// line's (serial::LineFailure).

#include <cstdint>

#include "serial/Failure.h"

namespace kkm::kia {

enum class KiaFailure : std::uint8_t {
  BusError,  // the EEPROM routine sent the bus error code `got` in place of the data marker `expected`
};

// The board's failure domain, found for a KiaFailure by argument-dependent lookup.
const serial::FailureDomain& FailureDomainOf(KiaFailure);

}  // namespace kkm::kia
