#pragma once
// What read, write, finish and scan do on a session, as an Outcome (the exit
// status, the outcome word, the message and what the register gave); printing
// it is Render.h's. `port` is the name as the tool uses it (COM1..COM255 or a
// device path); the session names its program and the register meant.

#include <iosfwd>
#include <string>
#include <vector>

#include "serial/Failure.h"
#include "service/Scan.h"
#include "service/Session.h"
#include "tools/kkm-netnum-cli/Outcome.h"

namespace kkm::cli {

// Connects and reads the network number.
Outcome Read(service::Session& session, const std::string& port, service::Link link);

// Writes `number` (1..99). A write that may not start sends nothing at all,
// not even the connection's bytes: the device is held, the state folder
// usable and no record in the way; another register that answers to the new
// number refuses it (kExitNumberTaken).
Outcome Write(service::Session& session, const std::string& port, service::Link link, int number);

// Finishes the write cut on the port's device and link (or, with `discard`,
// gives its record up where it can no longer be finished). With no record
// under the device, a record of another name whose write this register's
// memory shows is taken over.
Outcome Finish(service::Session& session, const std::string& port, service::Link link, bool discard);

// One line on `err` when the port's device and link hold a write record; the
// same as warnings for the JSON (record-pending with the pending number byte,
// or record-unusable).
std::vector<serial::Failure> WarnOfRecord(const service::Session& session, const std::string& port,
                                          service::Link link, std::ostream& err);

// A scan's exit status, outcome word and message: a census cut part-way
// fails, as a read would; a conflict is kExitConflict.
Outcome ScanOutcome(const service::ScanResult& result, const service::Session& session,
                    const std::string& port);

}  // namespace kkm::cli
