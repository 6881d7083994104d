#pragma once
// A command's result as the person at the console reads it, or with --json as
// one JSON object on one line for a script. Messages (the windows' texts, then
// a failure reason when one is known) go to `err`; results and the JSON object
// go to `out`. The objects' keys come in the documented order.

#include <iosfwd>
#include <string>

#include "serial/Failure.h"
#include "service/Scan.h"
#include "tools/kkm-netnum-cli/Json.h"
#include "tools/kkm-netnum-cli/Outcome.h"

namespace kkm::cli {

// One JSON object on one line, with its line break.
std::string Line(const json& object);

// A failure as {"code", "text"} (null for none), with what a script acts on as
// fields of its own: the holder of a port in use ("pid", "command"; null when
// not known), the pending number of a cut write ("number", "number_text").
json ReasonJson(const serial::Failure& failure);

// A usage error: its message on `err` and, with --json, its object on `out`.
// Returns kExitUsage.
int UsageError(const std::string& problem, bool asJson, std::ostream& out, std::ostream& err);

// A read's, write's or finish's outcome: its warnings and its message on
// `err`; on `out` the number as two digits ("05", nothing when none), or the
// object {"outcome", "number", "number_text", "address", "firmware",
// "failed_exchange", "reason", "warnings"}. A usage outcome prints the usage
// error's object.
void PrintOutcome(const Outcome& outcome, bool asJson, std::ostream& out, std::ostream& err);

// A scan: the outcome's message on `err`, then on `out` a line a register
// ("01  0xFE  1.0.5") and a line a conflict ("--  0xFC  конфликт ..."), or the
// object {"outcome", "registers", "conflicts", "reason"}.
void PrintScan(const service::ScanResult& result, const Outcome& outcome, bool asJson, std::ostream& out,
               std::ostream& err);

}  // namespace kkm::cli
