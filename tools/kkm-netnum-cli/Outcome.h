#pragma once
// The result of one read, write or finish, whichever way it is printed: the
// exit status, the JSON "outcome" word, the message for standard error and
// what the register gave. The commands fill it (Commands.h); Render.h prints it.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serial/Failure.h"
#include "tools/kkm-netnum-cli/ExitStatus.h"

namespace kkm::cli {

struct Outcome {
  int exitCode = kExitDone;
  std::string outcome = "done";            // the JSON "outcome"
  std::string message;                     // for standard error; empty when done
  serial::Failure failure;                 // why, when known
  std::optional<std::uint8_t> numberByte;  // the network number byte read or written
  std::optional<std::uint8_t> address;
  std::optional<std::int32_t> firmware;
  std::optional<int> failedExchange;
  std::vector<serial::Failure> warnings;  // the record or the history not kept up to date
  // A cut write's record found before a read: told on standard error already,
  // a warning in the JSON.
  std::vector<serial::Failure> recordWarnings;
  bool reasonInJsonOnly = false;  // the message says it all; the reason is for scripts

  // Ends the command with `status` and the JSON outcome `word`.
  void endAs(int status, std::string word) {
    exitCode = status;
    outcome = std::move(word);
  }
};

}  // namespace kkm::cli
