#include "tools/kkm-netnum-cli/CliTool.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "serial/PortMap.h"
#include "serial/Trace.h"
#include "serial/TracingPort.h"
#include "service/Messages.h"
#include "service/NetworkNumber.h"
#include "service/Scan.h"
#include "service/Session.h"
#include "tools/kkm-netnum-cli/CliOptions.h"
#include "tools/kkm-netnum-cli/Commands.h"
#include "tools/kkm-netnum-cli/Commission.h"
#include "tools/kkm-netnum-cli/Console.h"
#include "tools/kkm-netnum-cli/HistoryCommand.h"
#include "tools/kkm-netnum-cli/PortsCommand.h"
#include "tools/kkm-netnum-cli/Render.h"
#include "tools/kkm-netnum-cli/SharedLine.h"

namespace kkm::cli {

namespace {

// KKM_TRACE, or nothing.
std::string TraceVariable() {
  const char* value = std::getenv("KKM_TRACE");
  return value != nullptr ? value : "";
}

int Scan(service::Session& session, const std::string& port, bool asJson, std::ostream& out,
         std::ostream& err) {
  const service::ScanResult result = service::ScanLine(session, port);
  const Outcome outcome = ScanOutcome(result, session, port);
  PrintScan(result, outcome, asJson, out, err);
  return outcome.exitCode;
}

// Read, write or finish; its outcome printed.
int RunNumberCommand(const CliOptions& options, service::Session& session, ProgressLine& progress,
                     std::ostream& err) {
  Outcome outcome;
  if (options.command == Command::Finish) {
    outcome = Finish(session, options.port, options.link, options.discard);
  } else if (options.command == Command::Read) {
    std::vector<serial::Failure> recordWarnings = WarnOfRecord(session, options.port, options.link, err);
    outcome = Read(session, options.port, options.link);
    outcome.recordWarnings = std::move(recordWarnings);
  } else if (const std::optional<int> number = service::ParseNetworkNumber(options.numberText)) {
    outcome = Write(session, options.port, options.link, *number);
  } else {
    outcome.endAs(kExitUsage, "usage");
    outcome.message = service::kOutOfRangeText;
  }
  PrintOutcome(outcome, options.asJson, progress.out(), progress.err());
  return outcome.exitCode;
}

// The command, on a session that closes its port at the end. A scan or a
// write shows its progress when standard error is a terminal that nothing
// else writes to (no JSON, no trace there).
int RunCommand(const CliOptions& options, serial::Platform& line, std::ostream& out, std::ostream& err,
               bool errIsTerminal) {
  ProgressLine progress(out, err);
  service::Session session(line, kProgram);
  if (const std::string problem = NameRegister(options.registerText, options.link, session); !problem.empty())
    return UsageError(problem, options.asJson, out, err);
  const bool scan = options.command == Command::Scan;
  if (errIsTerminal && !options.asJson && options.tracePath != "-")
    session.progress = progress.reporter(scan ? "Поиск ККМ на линии: адрес " : "Запись: обмен ");
  if (scan) return Scan(session, options.port, options.asJson, progress.out(), progress.err());
  if (options.command == Command::Commission) return RunCommission(options.commission, line, out, err);
  return RunNumberCommand(options, session, progress, err);
}

}  // namespace

int RunCli(int argc, const char* const* argv, serial::Platform& platform, std::ostream& out,
           std::ostream& err, bool errIsTerminal) {
  // 1. The command line.
  CliOptions options;
  if (const std::optional<int> done = ParseCommandLine(argc, argv, options, out, err)) return *done;
  if (options.command == Command::History) return History(options.asJson, out, err);
  if (options.command == Command::Ports) return RunPorts(options.ports, out, err);
  // The port map's problems, said once before the work starts.
  if (serial::ComPortNumber(options.port))
    for (const std::string& problem : serial::ProblemLines(serial::LoadPortMap()))
      err << kProgram << ": " << problem << '\n';

  // 2. The exchange trace, when the option or KKM_TRACE asks for it (the
  // option wins); a path that cannot be written is reported and skipped.
  if (options.tracePath.empty()) options.tracePath = TraceVariable();
  const std::unique_ptr<serial::TraceSink> sink =
      serial::OpenTraceOrWarn(options.tracePath, stderr, kProgram);
  std::optional<serial::TracingPlatform> traced;
  if (sink) traced.emplace(platform, *sink, kProgram);
  serial::Platform& line = traced ? static_cast<serial::Platform&>(*traced) : platform;

  // 3. The command.
  return RunCommand(options, line, out, err, errIsTerminal);
}

}  // namespace kkm::cli
