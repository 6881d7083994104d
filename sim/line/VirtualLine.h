#pragma once
// The in-process virtual serial line: the host side implements the port
// interface in virtual time (a host write returns once its last byte's stop
// bit has gone out, as a synchronous write on a real port does); devices attached to the line hear every byte
// the host writes, with its parity and the time it finished crossing the line, and their answers land in the
// host's input queue when their last bit has arrived. Time moves only when the host waits
// (Clock::letTimePass) or a test advances it, and every attached device is run up to each new moment, so the
// host's busy waits and the devices' work interleave as on a wire.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "serial/Clock.h"
#include "serial/SerialPort.h"
#include "sim/line/LineDevice.h"
#include "sim/line/LineSchedule.h"

namespace kkm::sim {

class VirtualLine {
 public:
  // `startTick` is the millisecond tick counter's reading at time 0 (set it
  // near 0xFFFFFFFF to test a wrap); `step` is how far time moves each time a
  // wait lets time pass.
  explicit VirtualLine(std::uint32_t startTick = 0, SimTime step = 100 * kNsPerUs);
  ~VirtualLine();
  VirtualLine(const VirtualLine&) = delete;
  VirtualLine& operator=(const VirtualLine&) = delete;

  serial::Clock& clock();
  SimTime now() const { return now_; }
  void advanceTo(SimTime until);
  void advanceBy(SimTime duration) { advanceTo(now_ + duration); }
  // Lets time pass as a host's wait does, towards `target`: one step, or as
  // many steps at once as pass before anything can happen (no byte crossing
  // or waiting to reach the host, no device due to act, by
  // LineDevice::nextActionAt). Where the steps would have stopped, so a wait
  // ends at the same moment and sees the same line either way, only sooner in
  // real time.
  void passTowards(SimTime target);
  // Whether waits jump over idle time (on by default); off, every wait moves
  // one step at a time.
  void setIdleJumps(bool on) { idleJumps_ = on; }
  bool idleJumps() const { return idleJumps_; }
  // The start of the millisecond in which the tick counter reads `tick`,
  // taken as the reading nearest to now (at most now for a tick already read).
  SimTime startOfTick(std::uint32_t tick) const;

  // Devices are not owned; they must outlive the line's use.
  void attach(LineDevice& device);

  // The host side: one port at a time (a second open while one is open gives
  // nullptr, like an exclusively opened device).
  std::unique_ptr<serial::SerialPort> openPort();
  bool portOpen() const { return portOpen_; }

  // The port disappears (a cable pulled, an adapter unplugged): every further
  // operation on the open port fails.
  void vanish() { vanished_ = true; }
  bool vanished() const { return vanished_; }

  // Models the receive FIFO of the host's UART (a 16550 hands received bytes
  // to its driver when `triggerLevel` bytes have gathered, or when the line
  // has been quiet for `timeoutCharacters` character times after the last
  // one, counted in characters of the parity the host has set: 11 bits with
  // MARK or SPACE, 10 without): bytes reach the host's input queue in such
  // batches instead of one by one. Off (0) by default: bytes are queued the
  // moment they arrive.
  void setHostReceiveFifo(unsigned triggerLevel, unsigned timeoutCharacters);

  // Host writes return at once, their bytes still to cross the line, as on a
  // pseudo-terminal, whose writes never wait for a transmitter. Off by
  // default: a write lasts until its last byte's stop bit has gone out.
  void setHostWriteReturnsAtOnce(bool atOnce) { hostWriteReturnsAtOnce_ = atOnce; }

  // Models the hand-offs between a host program and a device it reaches
  // through the operating system (a pseudo-terminal and a simulator process):
  // a host byte is taken onto the line `toLine` after the host wrote it, and
  // bytes the UART hands over reach the host's input queue `toHost` later.
  // Both 0 by default.
  void setHostHandOffDelays(SimTime toLine, SimTime toHost) {
    handOffToLine_ = toLine;
    handOffToHost_ = toHost;
  }

  // What the host side has set, for tests.
  const serial::LineSettings& hostSettings() const { return settings_; }
  const serial::Timeouts& hostTimeouts() const { return timeouts_; }
  bool dtr() const { return dtr_; }
  bool rts() const { return rts_; }
  std::uint32_t inputBufferSize() const { return inputBufferSize_; }
  std::size_t queuedForHost() const { return hostInput_.size(); }

  const std::vector<TraceEntry>& trace() const { return trace_; }
  void clearTrace() { trace_.clear(); }
  // The trace of one direction only.
  std::vector<TraceEntry> traceOf(Direction direction) const;

 private:
  class HostPort;
  class LineClock;
  class HostEnd;
  friend class HostPort;

  SimTime now_ = 0;
  SimTime step_;
  std::uint32_t startTick_;
  std::unique_ptr<LineClock> clock_;
  std::unique_ptr<HostEnd> hostEnd_;
  std::unique_ptr<LineSchedule> schedule_;

  bool portOpen_ = false;
  bool vanished_ = false;
  serial::LineSettings settings_{};
  serial::Timeouts timeouts_{};
  bool dtr_ = true;
  bool rts_ = true;
  std::uint32_t inputBufferSize_ = 4096;

  bool hostWriteReturnsAtOnce_ = false;
  bool idleJumps_ = true;
  struct Arrived {
    std::uint8_t byte;
    SimTime at;
  };
  void takeHandedOver(SimTime now);
  std::deque<Arrived> hostInput_;
  SimTime handOffToLine_ = 0;
  SimTime handOffToHost_ = 0;
  std::deque<Arrived> handedOver_;  // handed over by the UART, reaching the host at `at`
  std::vector<TraceEntry> trace_;
};
}  // namespace kkm::sim
