#pragma once
// Serves simulated devices on a pseudo-terminal in real time. The host opens
// the slave side like any serial port. Every byte it writes is handed to the
// devices at the moment it would have finished crossing a 9600 bit/s line
// (bytes read together go back to back), with the parity the slave was set to
// when the byte was read: CMSPAR with PARODD is MARK, CMSPAR alone is SPACE
// (the driver drops PARENB itself), anything else None. Device bytes are paced
// the same way: a byte starts when the device asks and its side of the line is
// free, and is written to the master when its last bit would have arrived.
//
// run() returns on requestStop(), when a stop descriptor becomes readable, or,
// when asked, once the host has closed the slave after having opened it. A
// slave that nobody holds open is the normal state between two connections:
// the server then sleeps in short pauses and serves again on the next open.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/line/LineDevice.h"
#include "sim/line/LineSchedule.h"

namespace kkm::sim {

// One trace line in the tool's trace format (serial/Trace.h): the end time in
// ms with 3 decimals, then "host>dev <hex> <none|mark|space>" or
// "dev>host <hex>" (the host sees no parity bit of what it receives).
std::string FormatTraceEntry(const TraceEntry& entry);

// The parity a slave's termios control word encodes on a pseudo-terminal.
Parity ParityOfSlaveFlags(std::uint32_t cflag);

// How late the bytes reached the host, against the moment the UART hands them
// over: a rig that runs late makes a host time out that would not on a wire.
struct HandOverLateness {
  std::uint64_t handOvers = 0;
  std::uint64_t late = 0;  // later than kLateHandOverNs
  SimTime worst = 0;
};
// Later than this, a hand-over counts as late: it eats into the host's
// narrowest margin (an echo reaches the host about 1.1 ms before the address
// scan's 10 ms wait ends).
inline constexpr SimTime kLateHandOverNs = 1 * kNsPerMs;

class PtyServer {
 public:
  enum class StopReason { Requested, HostClosed };

  // Opens the pseudo-terminal pair (master raw and non-blocking, slave raw at
  // 9600 bit/s). Throws std::system_error when the platform refuses.
  PtyServer();
  // Closes the pair and removes the symlink made by linkAt().
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // The path the host opens.
  const std::string& slavePath() const { return slavePath_; }
  // Places a symlink to the slave at `path`, replacing a dangling symlink but
  // never a live one or any other file (EEXIST). False (errno set) when that
  // is not possible.
  bool linkAt(const std::string& path);

  // Devices are not owned; they must outlive run(). Attach before run().
  void attach(LineDevice& device);

  // Every byte that crosses the line is passed to `sink` (on run()'s thread).
  void setTraceSink(std::function<void(const TraceEntry&)> sink) { traceSink_ = std::move(sink); }
  // Every hand-over later than kLateHandOverNs is passed to `sink`: when it
  // was due and how late it came (on run()'s thread). With
  // KKM_SIM_LATENESS_FILE set, the server also appends its lateness so far to
  // that file at each such hand-over and when it ends, one line
  // "server=PID.N handovers=H late=L worst_ms=W" (the last line of a server
  // counts), so that whoever runs a test sees how late the rig was.
  void setLateHandOverSink(std::function<void(SimTime due, SimTime late)> sink) {
    lateSink_ = std::move(sink);
  }
  const HandOverLateness& handOverLateness() const { return lateness_; }
  // Keeps the trace in memory for trace(); on by default.
  void keepTrace(bool keep) { keepTrace_ = keep; }
  // What crossed the line so far; read it after run() has returned.
  const std::vector<TraceEntry>& trace() const { return trace_; }

  // Models the receive FIFO of the host's UART with the same schedule as
  // VirtualLine: device bytes reach the slave in batches, when `triggerLevel`
  // have gathered or the line has been quiet for `timeoutCharacters`
  // character times (of the parity the slave is set to: 11 bits with MARK or
  // SPACE, 10 without). 0: off.
  void setHostReceiveFifo(unsigned triggerLevel, unsigned timeoutCharacters);

  // Makes run() return once the host closes the slave after having opened it.
  void stopWhenHostCloses(bool stop) { stopWhenHostCloses_ = stop; }
  // run() returns when `fd` becomes readable (a signalfd, a pipe).
  void addStopDescriptor(int fd) { stopDescriptors_.push_back(fd); }
  // Safe from any thread and from a signal handler. The request stays: a
  // later run() returns at once.
  void requestStop();

  // Serves until one of the stop conditions above, on a thread at real-time
  // priority where the machine grants it (RealTime.h).
  StopReason run();

  // Real time since the server was made, the time base of devices and trace.
  SimTime now() const;

 private:
  class HostEnd;

  SimTime nextDue(SimTime now) const;
  // Waits for the master, a stop or `deadline`; false when a stop came.
  // `precise`: the deadline is a hand-over to the host, kept to the
  // microsecond instead of the timer's wake-up latency.
  bool waitUntil(SimTime deadline, bool precise);
  void readFromHost();
  void noteHostGone();
  // Opens a new pseudo-terminal pair as master_ and slavePath_.
  void openPair();
  // After a host has gone: a slave its exclusive flag still locks (as an
  // ordinary user sees it) is served anew, as a real port would be free.
  void releaseDeadHolder();
  Parity slaveParity() const;
  void record(const TraceEntry& entry);
  void noteHandOver(SimTime due);
  void reportLateness() const;

  std::chrono::steady_clock::time_point origin_;
  int master_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::string slavePath_;
  std::string linkPath_;

  std::unique_ptr<HostEnd> hostEnd_;
  std::unique_ptr<LineSchedule> schedule_;
  SimTime ranTo_ = 0;         // the line has run up to here
  SimTime lastActivity_ = 0;  // last byte in either direction

  bool hostHungUp_ = false;
  bool hostClosed_ = false;
  bool hostPresent_ = false;  // a host has written since the slave was last closed
  bool stopWhenHostCloses_ = false;
  std::vector<int> stopDescriptors_;

  bool keepTrace_ = true;
  std::vector<TraceEntry> trace_;
  std::function<void(const TraceEntry&)> traceSink_;
  HandOverLateness lateness_;
  std::function<void(SimTime, SimTime)> lateSink_;
  unsigned serial_ = 0;  // this process's servers in order, for the lateness file
};

}  // namespace kkm::sim
