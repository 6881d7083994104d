#pragma once
// The command line of kkm-netnum-cli (the commands are listed in CliTool.h):
// what the parser gives, and the usage checks that need no line.

#include <iosfwd>
#include <optional>
#include <string>

#include "service/Link.h"
#include "tools/kkm-netnum-cli/Commission.h"
#include "tools/kkm-netnum-cli/PortsCommand.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace kkm::cli {

enum class Command { Read, Write, Finish, Scan, History, Ports, Commission };

struct CliOptions {
  Command command = Command::Read;
  // COM1..COM255 (upper case, whatever case it was given in) or a device
  // path; for commission too, whose options then hold it the same way.
  std::string port;
  service::Link link = service::Link::Processor;
  std::string numberText;    // write's NUMBER as given
  std::string registerText;  // --register N as given; empty: none
  std::string tracePath;     // --trace, commission's too; empty: none given
  bool asJson = false;       // commission's own --json is in `commission`
  bool discard = false;
  PortsOptions ports;
  CommissionOptions commission;
};

// Parses argv into `options`. Nothing when the command is to run; otherwise
// the exit status once the line is dealt with: help or the version printed on
// `out`, or a usage error on `err` and, when --json is on the line, its JSON
// object on `out`. A port name that is neither COM1..COM255 (in any case) nor
// a device path (with a / or a \) is a usage error.
std::optional<int> ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out,
                                    std::ostream& err);

}  // namespace kkm::cli
