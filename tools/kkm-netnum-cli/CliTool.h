#pragma once
// kkm-netnum-cli: the network number from the command line, on the service core.
//
//   read  --port PORT [--link cpu|kia] [--json]          prints the number, two digits ("01")
//   write NUMBER --port PORT [--link cpu|kia] [--json]   NUMBER 1..99 in decimal; prints it
//   scan  --port PORT [--json]                           every register on the line:
//                                                         "01  0xFE  1.0.5" per register,
//                                                         "--  0xFC  конфликт ..." per conflict
//
// PORT is COM1..COM255 (mapped as the windows map it) or a device path.
// Results go to `out`, messages (the windows' texts, then a failure reason
// when one is known) to `err`. --json prints one JSON object on `out` instead
// of the text, for every outcome once the command line parsed.

#include <iosfwd>

#include "serial/Platform.h"

namespace kkm::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPortUnavailable = 3;
inline constexpr int kExitNoContact =
    4;  // no register or KIA answer, a failed read, a write failed at 1 or 6
inline constexpr int kExitWrongFirmware = 5;
inline constexpr int kExitPartlyWritten = 6;  // a write stopped at exchanges 2..5

int RunCli(int argc, const char* const* argv, serial::Platform& platform, std::ostream& out,
           std::ostream& err);

}  // namespace kkm::cli
