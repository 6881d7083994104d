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
  NoContactAfterCut,  // every contact attempt after a cut write failed; `attempts` of them (wraps the last)
  RecordPending,      // the write of the number byte `got` through port `detail` is to be finished first
  RecordUnusable,     // the record of a cut write is damaged: `detail` names it and says how
  StateFile,          // a record or the history could not be saved, read or removed: the cause says why
  NotFinishable,      // the recorded write cannot be finished: the register's memory changed since
  NumberTaken,        // something answers at `expected`, the address of the number a write would give
};
inline constexpr int kSessionFailureCount = static_cast<int>(SessionFailure::NumberTaken) + 1;

// A state file's trouble: `cause` (a file's failure, or a record's), with
// what it stopped when that needs saying.
serial::Failure StateFileFailure(const serial::Failure& cause, std::string what = {});

// The cut write of the number byte `newByte` through `portName`, still to be finished.
serial::Failure PendingRecordFailure(std::uint8_t newByte, std::string portName);

// The session's failure domain, found for a SessionFailure by argument-dependent lookup.
const serial::FailureDomain& FailureDomainOf(SessionFailure);

}  // namespace kkm::service
