#pragma once
// kkm-sim run as a child process: it announces the slave's path on stdout,
// traces every byte into `tracePath` and, when stopped with SIGTERM, dumps the
// network number cells into `dumpPath`. It runs with real-time scheduling
// where the machine allows it. The destructor kills a child that is
// still running, so a failed test leaves no simulator behind.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kkm::e2e {

class SimChild {
 public:
  // Starts `program` with `args` followed by --trace and --dump-memory.
  SimChild(const std::string& program, std::vector<std::string> args, std::string tracePath,
           std::string dumpPath);
  ~SimChild();
  SimChild(const SimChild&) = delete;
  SimChild& operator=(const SimChild&) = delete;

  // The first line the child prints; empty when none comes within `timeout`.
  std::string slavePath(std::chrono::milliseconds timeout);
  // Sends SIGTERM and waits for the end: the exit code of a normal exit, -1
  // for a signal, a failed start, or no end within `timeout`.
  int stop(std::chrono::milliseconds timeout);

  const std::string& tracePath() const { return tracePath_; }
  const std::string& dumpPath() const { return dumpPath_; }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
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

}  // namespace kkm::e2e
