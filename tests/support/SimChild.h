#pragma once
// The one launcher of the simulator program for tests and benchmarks: kkm-sim
// as a child process with its stdout on a pipe (it prints the slave's path
// there once the line is served). The destructor kills a child that is still
// running, so a failed test leaves no simulator behind.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kkm::test {

class SimChild {
 public:
  struct Start {
    // SCHED_FIFO where the machine grants it: the simulated device must answer
    // within the host's shortest wait (10 ms in the address scan) even while
    // the machine is busy compiling.
    bool realTime = false;
    // The child's stderr goes into this file; empty: this process's stderr.
    std::string stderrPath;
  };

  // Starts `program` with `args`; started() says whether that worked.
  SimChild(const std::string& program, std::vector<std::string> args, Start start);
  SimChild(const std::string& program, std::vector<std::string> args)
      : SimChild(program, std::move(args), Start{}) {}
  ~SimChild();
  SimChild(const SimChild&) = delete;
  SimChild& operator=(const SimChild&) = delete;

  bool started() const { return pid_ > 0 || exited_; }
  // The first line the child prints (the slave's path); empty when none comes
  // within `timeout`.
  std::string slavePath(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  void signal(int number);
  // Waits for the end: the exit code of a normal exit, -1 for a signal, a
  // failed start, or no end within `timeout`.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // SIGTERM, then wait().
  int stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int stdout_ = -1;
};

// How long the end-to-end tests give the simulator to start and to stop:
// under AddressSanitizer on a loaded machine it starts slowly.
inline constexpr auto kSimStartTimeout = std::chrono::seconds(20);
inline constexpr auto kSimStopTimeout = std::chrono::seconds(10);

// kkm-sim at real-time priority with --trace and --dump-memory into the given
// files, as the end-to-end tests run it.
class RecordedSim : public SimChild {
 public:
  RecordedSim(const std::string& program, std::vector<std::string> args, std::string tracePath,
              std::string dumpPath);
  const std::string& tracePath() const { return tracePath_; }
  const std::string& dumpPath() const { return dumpPath_; }

 private:
  std::string tracePath_;
  std::string dumpPath_;
};

// One byte line of the simulator's trace: "<end ms> host>dev <hex> <parity>"
// or "<end ms> dev>host <hex>".
struct TraceLine {
  double endMs = 0;
  bool fromHost = false;
  std::uint8_t byte = 0;
  std::string parity;  // host bytes: "none", "mark" or "space"; device bytes: empty
};

// The trace file's byte lines in order, after the "#" header; a line that
// does not parse ends the list with one entry whose parity is
// "unreadable: <line>".
std::vector<TraceLine> ReadTrace(const std::string& path);

// The dump's "0xAAAA=HH" lines as address -> byte; lines that do not parse are left out.
std::map<std::uint16_t, std::uint8_t> ReadMemoryDump(const std::string& path);

// A whole file as it is; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace kkm::test
