// kkm-sim: a simulated cash register on a pseudo-terminal, in real time.
// With --link cpu the register answers on its processor link; with --link kia
// a KIA board wired to the register answers instead. The slave's path goes to
// stdout as soon as the line is served; SIGINT and SIGTERM end the run
// cleanly (exit 0, symlink removed, dumps written).
//
// The line is served at real-time priority with its memory locked where the
// machine allows it; the trace says what was granted and notes every
// hand-over to the host that came more than 1 ms late (and, with
// KKM_SIM_LATENESS_FILE set, appends the lateness to that file: PtyServer.h).

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "files/CarefulFile.h"
#include "serial/Trace.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
#include "sim/pty/PtyServer.h"
#include "sim/pty/RealTime.h"
#include "tools/kkm-sim/FreshRow.h"
#include "tools/kkm-sim/MemoryDump.h"
#include "tools/kkm-sim/SimOptions.h"

namespace kkm::sim::tool {
namespace {

constexpr int kExitFailure = 1;

// The stop signals arrive on a descriptor the server watches, not in a handler.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&set_);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set_, signal);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
  }
  ~StopSignals() { ::close(fd_); }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  int fd() const { return fd_; }

 private:
  sigset_t set_{};
  int fd_ = -1;
};

// The trace sink: the header of the tool's trace (with the slave's path),
// then one flushed line per byte, so a reader sees it at once. A FIFO is
// opened without waiting for a reader (none: the open fails at once instead of
// hanging), then written as a file. The first line that cannot be written is
// reported once on stderr and the trace stops; the run goes on.
class TraceFile {
 public:
  // `sinceOriginNs`: how long ago the line's time began.
  TraceFile(const std::string& path, const std::string& slavePath, std::uint64_t sinceOriginNs)
      : path_(path == "-" ? "standard error" : path) {
    if (path == "-") {
      file_ = stderr;
    } else {
      files::AppendRules rules;
      rules.regularOnly = false;
      rules.devicesToo = true;
      rules.followLinks = true;
      rules.truncate = true;
      rules.blocking = true;
      rules.mode = 0666;
      const files::AppendFile opened = files::OpenToAppend(path, rules);
      if (!opened.status) {
        const files::Failure& failure = opened.status.failure();
        error_ = failure.is(files::FileFailure::NoReader) ? "a FIFO with no reader"
                 : failure.osError != 0                   ? std::strerror(failure.osError)
                                                          : failure.text();
        return;
      }
      file_ = opened.file;
      owned_ = true;
    }
    for (const std::string& line :
         serial::TraceHeader("kkm-sim", "pseudo-terminal", slavePath, sinceOriginNs))
      std::fprintf(file_, "%s\n", line.c_str());
    flush();
  }
  ~TraceFile() {
    if (owned_) std::fclose(file_);
  }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;
  // Empty while the trace is written; else why it is not.
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  // False once a line could not be written (reported on stderr then).
  bool write(const TraceEntry& entry) { return writeLine(FormatTraceEntry(entry)); }
  // A note among the byte lines: "# text".
  bool note(const std::string& text) { return writeLine("# " + text); }

 private:
  bool writeLine(const std::string& line) {
    if (!error_.empty()) return false;
    std::fprintf(file_, "%s\n", line.c_str());
    if (flush()) return true;
    std::fprintf(stderr, "kkm-sim: cannot write the trace to %s: %s; tracing stops\n", path_.c_str(),
                 error_.c_str());
    return false;
  }

  bool flush() {
    if (std::fflush(file_) == 0 && std::ferror(file_) == 0) return true;
    error_ = std::strerror(errno);
    return false;
  }

  std::FILE* file_ = nullptr;
  bool owned_ = false;
  std::string path_;
  std::string error_;
};

void ApplyBusFault(kia::KiaBoard& board, BusFault fault) {
  switch (fault) {
    case BusFault::DataLow:
      board.holdDataLow(true);
      break;
    case BusFault::ClockLow:
      board.holdClockLow(true);
      break;
    case BusFault::NoReadDevice:
      board.setDevicePresent(kia::kReadBusAddress, false);
      break;
    case BusFault::NoWriteDevice:
      board.setDevicePresent(kia::kWriteBusAddress, false);
      break;
  }
}

bool WriteDumps(const SimOptions& options, const CashRegister& reg) {
  bool ok = true;
  const auto dump = [&ok](const std::string& path, std::span<const std::uint8_t> bytes) {
    if (path.empty() || WriteFileWhole(path, bytes)) return;
    std::fprintf(stderr, "kkm-sim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    ok = false;
  };
  const std::string cells = NumberCellsText(reg.dataMemory(), reg.nonVolatile());
  dump(options.dumpMemoryPath, std::span(reinterpret_cast<const std::uint8_t*>(cells.data()), cells.size()));
  dump(options.dumpDataPath, reg.dataMemory());
  dump(options.dumpNonVolatilePath, reg.nonVolatile());
  return ok;
}

// The devices on the line: the registers (a fresh row's first), and on the
// KIA link the boards wired to their memories.
struct Devices {
  std::vector<std::unique_ptr<CashRegister>> registers;
  std::vector<std::unique_ptr<kia::KiaBoard>> boards;
};

// The register (or several on one line), and on the KIA link the board
// wired to its memories. A fresh row comes first, each of its registers
// behind its place on the line (with its own board on the KIA link).
Devices MakeDevices(const SimOptions& options) {
  std::vector<int> numbers(static_cast<std::size_t>(options.freshRow), options.number);
  numbers.insert(numbers.end(), options.registers.begin(), options.registers.end());
  if (numbers.empty()) numbers.push_back(options.number);
  Devices devices;
  for (const int number : numbers) {
    devices.registers.push_back(std::make_unique<CashRegister>(number));
    devices.registers.back()->setFirmwareVersion(options.versionD5, options.versionD6);
  }
  CashRegister& reg = *devices.registers.front();
  reg.setBusyAnswers(options.busy);
  for (const FaultRule& rule : options.faults) reg.addFault(rule);
  if (options.link == Link::Kia)
    for (std::size_t i = 0; i < std::max<std::size_t>(1, static_cast<std::size_t>(options.freshRow)); ++i) {
      devices.boards.push_back(std::make_unique<kia::KiaBoard>(devices.registers[i]->dataMemory(),
                                                               devices.registers[i]->nonVolatile()));
      for (BusFault fault : options.busFaults) ApplyBusFault(*devices.boards.back(), fault);
    }
  return devices;
}

// Puts the devices on the server's line: the fresh row's through `row`.
void AttachDevices(PtyServer& server, Devices& devices, FreshRow& row, const SimOptions& options) {
  for (std::size_t i = 0; i < devices.registers.size(); ++i) {
    LineDevice& device =
        i < devices.boards.size() ? static_cast<LineDevice&>(*devices.boards[i]) : *devices.registers[i];
    if (i < static_cast<std::size_t>(options.freshRow))
      server.attach(row.add(device, *devices.registers[i]));
    else if (options.link == Link::Processor || i < devices.boards.size())
      server.attach(device);
  }
}

// Leaves the memories behind for whoever drove the run. Of several registers
// on the line (a fresh row's first), the second and later ones leave their
// number cells beside the first's, as FILE.2, FILE.3 and so on.
bool WriteAllDumps(const SimOptions& options, const Devices& devices) {
  bool dumped = WriteDumps(options, *devices.registers.front());
  for (std::size_t i = 1; i < devices.registers.size() && !options.dumpMemoryPath.empty(); ++i) {
    SimOptions more;
    more.dumpMemoryPath = options.dumpMemoryPath + "." + std::to_string(i + 1);
    dumped = WriteDumps(more, *devices.registers[i]) && dumped;
  }
  return dumped;
}

int Run(const SimOptions& options) {
  // 1. Stop signals first, so none is lost once the line is announced;
  //    a trace reader that goes away must not end the run.
  StopSignals signals;
  ::signal(SIGPIPE, SIG_IGN);

  // 2. The devices, and the line with them.
  Devices devices = MakeDevices(options);
  FreshRow row({options.rowDelayMs * kNsPerMs, options.rowPointToPoint, options.rowTwoAtOnceMs * kNsPerMs});
  PtyServer server;
  server.keepTrace(false);
  AttachDevices(server, devices, row, options);
  server.addStopDescriptor(signals.fd());
  server.stopWhenHostCloses(options.exitOnClose);
  // A PC's UART delivers received bytes in FIFO batches; the KIA link relies
  // on it (a memory write's echo must be queued before the next frame's purge).
  server.setHostReceiveFifo(options.uartFifo, 4);

  // 3. The line's trace and its symlink.
  std::unique_ptr<TraceFile> trace;
  bool traceFailed = false;
  if (!options.tracePath.empty()) {
    trace = std::make_unique<TraceFile>(options.tracePath, server.slavePath(), server.now());
    if (!trace->error().empty()) {
      std::fprintf(stderr, "kkm-sim: cannot write the trace to %s: %s\n", trace->path().c_str(),
                   trace->error().c_str());
      return kExitFailure;
    }
    server.setTraceSink([&trace, &traceFailed](const TraceEntry& entry) {
      if (!traceFailed && !trace->write(entry)) traceFailed = true;
    });
  }
  const auto note = [&trace, &traceFailed](const std::string& text) {
    if (trace && !traceFailed && !trace->note(text)) traceFailed = true;
  };
  server.setLateHandOverSink([&](SimTime due, SimTime late) {
    char text[96];
    std::snprintf(text, sizeof text, "hand-over due at %s ms came %.3f ms late",
                  serial::FormatTraceTime(due).c_str(), static_cast<double>(late) / kNsPerMs);
    note(text);
  });
  if (!options.linkPath.empty() && !server.linkAt(options.linkPath)) {
    std::fprintf(stderr, "kkm-sim: cannot place a link at %s: %s\n", options.linkPath.c_str(),
                 std::strerror(errno));
    return kExitFailure;
  }

  // 4. Announce the line and serve it until a stop, on time as far as the
  //    machine lets this thread be.
  for (const std::string& text : RequestRealTime(true).notes) note(text);
  std::printf("%s\n", server.slavePath().c_str());
  std::fflush(stdout);
  server.run();

  // 5. The dumps; a trace that broke off makes the run a failure too.
  const bool dumped = WriteAllDumps(options, devices);
  return dumped && !traceFailed ? 0 : kExitFailure;
}

}  // namespace
}  // namespace kkm::sim::tool

int main(int argc, char** argv) {
  kkm::sim::tool::SimOptions options;
  if (const int exitCode = kkm::sim::tool::ParseCommandLine(argc, argv, options); exitCode >= 0)
    return exitCode;
  try {
    return kkm::sim::tool::Run(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kkm-sim: %s\n", error.what());
    return kkm::sim::tool::kExitFailure;
  }
}
