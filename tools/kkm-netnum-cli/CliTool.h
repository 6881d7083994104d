#pragma once
// kkm-netnum-cli: the network number from the command line, on the service core.
//
//   read  --port PORT [--link cpu|kia] [--json]          prints the number, two digits ("01")
//   write NUMBER --port PORT [--link cpu|kia] [--json]   NUMBER 1..99 in decimal; prints it
//   finish --port PORT [--link cpu|kia] [--discard] [--json]
//                                                        finishes a write cut on this port's
//                                                        device and link, without asking;
//                                                        --discard gives its record up instead
//                                                        where the write can no longer be finished
//   history [--json]                                     the service history, newest last
//   scan  --port PORT [--json]                           every register on the line:
//                                                         "01  0xFE  1.0.5" per register,
//                                                         "--  0xFC  конфликт ..." per conflict
//
//   commission --port PORT --numbers LIST [--factory N] [--link cpu|kia] [--json]
//                                                        numbers a row of factory-fresh registers
//                                                        (Commission.h)
//   ports [--map COMn DEVICE | --unmap COMn] [--json]    the serial devices; the port map
//                                                         (PortsCommand.h)
//
// read, write and finish take --register N for one register of several on a
// line; a write refuses a number another register answers to, and a scan
// that finds a conflict says so in its status (SharedLine.h).
//
// PORT is COM1..COM255 (mapped as the windows map it) or a device path.
// Results go to `out`, messages (the windows' texts, then a failure reason
// when one is known) to `err`. --json prints one JSON object on `out` instead
// of the text, for every outcome once the command line parsed. read prints
// one warning line on `err` first when the device and link hold the record of
// a cut write; write refuses to start on top of one (kExitRecordPending),
// unless that write stopped before exchange 4.
//
// Where things are: the command line in CliOptions.h, what read, write,
// finish and scan do in Commands.h, how an outcome is printed in Render.h,
// history, ports and commission in files of their own, the exit statuses in
// ExitStatus.h.

#include <iosfwd>

#include "serial/Platform.h"
#include "tools/kkm-netnum-cli/ExitStatus.h"

namespace kkm::cli {

// `errIsTerminal`: `err` is a terminal, where a scan or a write shows its
// progress (addresses or exchanges done) unless --json or "--trace -" is given.
int RunCli(int argc, const char* const* argv, serial::Platform& platform, std::ostream& out,
           std::ostream& err, bool errIsTerminal = false);

}  // namespace kkm::cli
