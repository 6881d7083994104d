#pragma once
// The line's failure codes, and the failure values of files/Failure.h under
// this layer's names (every layer above says serial::Failure, serial::Status).
//
// The platform back ends alone report why a port did not open through the
// calling thread's last failure (LastFailure), as the C library does with
// errno; OpenNamedPort turns it into a Status at once.

#include <cstdint>

#include "files/Failure.h"

namespace kkm::serial {

using files::About;
using files::AtAddress;
using files::Attempts;
using files::DescribeFailure;
using files::Failure;
using files::FailureDomain;
using files::FormatText;
using files::Persisting;
using files::PortBlame;
using files::Status;
using files::SystemError;
using files::TimedOut;
using files::Unexpected;
using files::Wrap;

// The line's own failures: the port, and the bytes awaited after a frame.
enum class LineFailure : std::uint8_t {
  PortUnavailable,       // the port cannot be opened (no finer reason known)
  NoSuchDevice,          // the device path does not exist
  PermissionDenied,      // the user may not open the device
  PortInUse,             // another program holds the port (`detail`: which, when known)
  NotATerminal,          // the path is not a serial (terminal) device
  ParityDropped,         // the adapter does not keep MARK/SPACE parity
  PortVanished,          // the port disappeared (adapter unplugged, cable pulled)
  NoAcknowledgement,     // the frame was not acknowledged within `waitedMs`
  WrongAcknowledgement,  // the acknowledgement was another byte
  ReplyTooShort,         // fewer reply bytes than `expected` came within `waitedMs`
  PortNameUnusable,      // the COM name leads to no device: `detail` says why (its map, its variable)
};
inline constexpr int kLineFailureCount = static_cast<int>(LineFailure::PortNameUnusable) + 1;

// The line's failure domain, found for a LineFailure by argument-dependent lookup.
const FailureDomain& FailureDomainOf(LineFailure);

// The calling thread's last failure, kept by the platform back ends for a
// port that did not open; none after ClearFailure.
const Failure& LastFailure();
void ClearFailure();
// Records `failure` and returns false.
bool Fail(const Failure& failure);

}  // namespace kkm::serial
