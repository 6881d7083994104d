#pragma once
// The register link's own failures: the address phase of the multi-drop
// protocol, the register's busy answer, and the replies' contents. Missing or
// wrong acknowledgements and short replies are the line's (serial::LineFailure).

#include <cstdint>

#include "serial/Failure.h"

namespace kkm::reg {

enum class RegisterFailure : std::uint8_t {
  NoEcho,           // the address byte `expected` was not echoed within `waitedMs`
  WrongEcho,        // the address byte `expected` was answered with `got`
  BusyTooLong,      // busy answers 0x65 went on for longer than `waitedMs`
  ReplyChecksum,    // the reply sums to `got`, not to 0xFF
  ReplyTooLong,     // the reply's length byte `got` exceeds the buffer of `expected`
  RequestRefused,   // the arguments were refused before the port was touched
  NoRegisterFound,  // no address of the scan was echoed
};
inline constexpr int kRegisterFailureCount = static_cast<int>(RegisterFailure::NoRegisterFound) + 1;

// The register link's failure domain, found for a RegisterFailure by argument-dependent lookup.
const serial::FailureDomain& FailureDomainOf(RegisterFailure);

}  // namespace kkm::reg
