#pragma once
// The session's own failures: what it knows beyond the link operations (the
// firmware it accepts, what a silent probe means, how often it tried) and what
// keeps a write safe (the record of a write in flight, the state files).

#include <cstdint>
#include <string>

#include "serial/Failure.h"

namespace kkm::service {

enum class SessionFailure : std::uint8_t {
  WrongFirmware,  // the register's firmware version `got` is not the `expected` one
  NoKiaAnswer,    // the KIA controller left its probe unanswered for `waitedMs` (wraps the line's failure)
  NoContactAfterCut,  // every contact attempt after a cut write failed; `expected` attempts (wraps the last)
  RecordPending,      // the write of the number byte `got` through port `detail` is to be finished first
  RecordUnusable,     // the record of a cut write is damaged: `detail` names it and says how
  StateFile,          // a record or the history could not be saved, read or removed: `detail` says why
  NotFinishable,      // the recorded write cannot be finished: the register's memory changed since
  NumberTaken,        // something answers at `expected`, the address of the number a write would give
};
inline constexpr int kSessionFailureCount = static_cast<int>(SessionFailure::NumberTaken) + 1;

// The failures that name a state file's trouble in `reason`.
serial::Failure StateFileFailure(std::string reason);
serial::Failure UnusableRecordFailure(std::string reason);

}  // namespace kkm::service

namespace kkm::serial {
template <>
struct FailureCodes<service::SessionFailure> {
  static const FailureDomain& Domain();
};
}  // namespace kkm::serial
