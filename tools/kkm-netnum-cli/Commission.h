#pragma once
// kkm-netnum-cli commission: numbers a row of factory-fresh registers on one
// port, one after another as the technician plugs them in
// (service/Commission.h does the loop).
//
//   commission --port PORT --numbers LIST [--factory N] [--link cpu|kia] [--json]
//
// LIST is numbers and ranges ("2-12,15"), N the number fresh registers answer
// to (default 1). Each register done prints one line on `out`
// ("ККМ 3 из 11: 01 → 04, записано и проверено"), or with --json one object
// {"event": "register", ...}; what it waits for and the numbers it passes
// over go to `err`. At the end: a table of the registers done, or with --json
// one {"event": "summary", ...} object. Ctrl-C or SIGTERM ends the loop
// between registers (a write under way finishes first): kExitStopped. A write
// that fails stops the loop with the write's usual status and the command that
// finishes it; a later commission with the same LIST carries on with the
// numbers the row has not used.

#include <iosfwd>
#include <string>

#include "serial/Platform.h"
#include "service/Link.h"

namespace CLI {
class App;
}

namespace kkm::cli {

inline constexpr int kExitStopped = 15;  // commission: a signal ended the loop before LIST was used up

struct CommissionOptions {
  std::string port;
  std::string numbers;
  int factory = 1;
  std::string link = service::LinkName(service::Link::Processor);
  bool asJson = false;
  std::string tracePath;
};

// Adds the subcommand to `app`; its options go to `options`.
CLI::App* AddCommissionCommand(CLI::App& app, CommissionOptions& options);

// Runs it on `platform` (traced already when --trace or KKM_TRACE asks); the exit status.
int RunCommission(const CommissionOptions& options, serial::Platform& platform, std::ostream& out,
                  std::ostream& err);

}  // namespace kkm::cli
