#pragma once
// The schedule of one serial line, shared by the virtual line (virtual time)
// and the pseudo-terminal server (real time): the host's bytes waiting to
// cross, each device's transmitter pacing its own bytes, characters of two
// devices that overlap colliding (sim/line/Collision.h), and the receive FIFO
// of the host's UART, which hands arrived bytes to the host's driver in
// batches. The schedule keeps no clock: its owner says up to which moment the
// line runs (runTo), and the host end says what it does with the bytes.

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "sim/line/LineDevice.h"

namespace kkm::sim {

enum class Direction : std::uint8_t { HostToDevice, DeviceToHost };

// One byte that crossed the line.
struct TraceEntry {
  Direction direction;
  std::uint8_t byte;
  Parity parity;
  SimTime start;  // first bit on the line
  SimTime end;    // stop bit done: delivered to the other side
  bool operator==(const TraceEntry&) const = default;
};

// What the schedule asks of the host's end of the line.
class LineHost {
 public:
  virtual ~LineHost() = default;
  // The parity the host's UART is set to: its FIFO counts its time-out in
  // characters of that format.
  virtual Parity receiveParity() const = 0;
  // The UART hands `count` bytes to the host's driver at `at`.
  virtual void receive(const std::uint8_t* bytes, std::size_t count, SimTime at) = 0;
  // A byte finished crossing the line, in either direction.
  virtual void crossed(const TraceEntry& entry) = 0;
};

class LineSchedule {
 public:
  explicit LineSchedule(LineHost& host);
  ~LineSchedule();
  LineSchedule(const LineSchedule&) = delete;
  LineSchedule& operator=(const LineSchedule&) = delete;

  // Devices are not owned; they must outlive the schedule's use.
  void attach(LineDevice& device);

  // The host sends one byte: it starts at `notBefore` or once the host's
  // earlier bytes have left, whichever is later. Returns when its stop bit ends.
  SimTime hostSend(std::uint8_t byte, Parity parity, SimTime notBefore);
  // When the host's last queued byte will have left.
  SimTime hostLineFreeAt() const { return hostLineFreeAt_; }
  // How many of the host's queued bytes are still crossing after `at`.
  std::size_t hostBytesUnfinishedAt(SimTime at) const;
  // Drops the host's bytes whose first bit has not gone out by `now`.
  void dropUnstartedHostBytes(SimTime now);

  // The receive FIFO: bytes are handed over when `triggerLevel` have gathered
  // or the line has been quiet for `timeoutCharacters` character times after
  // the last one. 0: off, every byte is handed over when it arrives.
  void setReceiveFifo(unsigned triggerLevel, unsigned timeoutCharacters);
  // Bytes in the FIFO not yet handed over are dropped (a purge, a new open).
  void clearReceiveFifo() { receiveFifo_.clear(); }

  // The next moment something happens on the line (a byte arrives at either
  // end, the FIFO times out); kNever when nothing is queued.
  static constexpr SimTime kNever = ~SimTime{0};
  SimTime nextEvent() const;
  // The next moment the UART hands bytes to the host (the FIFO reaches its
  // trigger level or times out; without the FIFO, a device byte arrives),
  // counting the device bytes already on their way but none sent later;
  // kNever when nothing is held or on its way.
  SimTime nextHandOver() const;
  // The earliest LineDevice::nextActionAt of the attached devices.
  SimTime nextDeviceAction() const;
  // Runs the line up to `until`: every event on the way in order of time,
  // with the devices run up to each event first, then the devices up to `until`.
  void runTo(SimTime until);

 private:
  class DeviceSide;
  struct Pending {
    std::uint8_t byte;
    Parity parity;
    SimTime start;
    SimTime end;
  };

  void runDevicesTo(SimTime until);
  SimTime fifoDue() const;
  void flushReceiveFifo(SimTime at);

  LineHost& host_;
  std::vector<LineDevice*> devices_;
  std::vector<std::unique_ptr<DeviceSide>> deviceSides_;
  SimTime hostLineFreeAt_ = 0;
  std::deque<Pending> hostToDevice_;  // sent by the host, not yet delivered (in order)
  std::deque<Pending> deviceToHost_;  // sent by devices, not yet arrived (ordered by end)
  unsigned fifoTrigger_ = 0;
  unsigned fifoTimeoutCharacters_ = 0;
  std::vector<std::uint8_t> receiveFifo_;  // arrived at the host's UART, not yet handed over
  SimTime receiveFifoLastArrival_ = 0;
};

}  // namespace kkm::sim
