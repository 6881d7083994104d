#pragma once
// PortHandle: the one open serial port of the application, or nothing.
// Operations on nothing fail without effect: purges and settings do nothing,
// reads and writes give -1, a poll counts zero bytes, close returns false.

#include <cstdint>
#include <memory>

#include "serial/Clock.h"
#include "serial/SerialPort.h"

namespace kkm::serial {

class PortHandle {
 public:
  explicit PortHandle(Clock& clock) : clock_(&clock) {}

  bool isOpen() const { return port_ != nullptr; }
  Clock& clock() const { return *clock_; }

  // Takes a newly opened port, or nullptr for the invalid handle of a failed open.
  void assign(std::unique_ptr<SerialPort> port) {
    port_ = std::move(port);
    parityDropped_ = false;
  }

  bool setBufferSizes(std::uint32_t input, std::uint32_t output);
  bool getSettings(LineSettings& settings);
  bool setSettings(const LineSettings& settings);
  bool getTimeouts(Timeouts& timeouts);
  bool setTimeouts(const Timeouts& timeouts);
  bool purge(std::uint32_t mask);
  bool clearDtr();
  // Queued input bytes; a failed count counts as zero.
  std::uint32_t queuedInput();
  // See SerialPort::awaitInputUntil; false when no port is open.
  bool awaitInputUntil(std::uint32_t count, std::uint32_t tick) {
    return port_ != nullptr && port_->awaitInputUntil(count, tick);
  }
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count);
  std::int32_t write(const std::uint8_t* data, std::uint32_t count);
  // Reads one byte; false when none came.
  bool readByte(std::uint8_t& value);
  bool writeByte(std::uint8_t value);
  // The port's trace, nullptr when untraced or when no port is open.
  TraceSink* traceSink() const { return port_ ? port_->traceSink() : nullptr; }
  // The open port has gone away (see SerialPort::vanished).
  bool vanished() const { return port_ != nullptr && port_->vanished(); }
  // A parity switch that the port did not keep (an adapter that drops
  // MARK/SPACE); cleared when another port is assigned.
  void noteParityDropped() { parityDropped_ = true; }
  bool parityDropped() const { return parityDropped_; }
  // Closes the device. The handle is kept in the invalid state afterwards
  // (a closed port accepts no further operation).
  bool close();

 private:
  Clock* clock_;
  std::unique_ptr<SerialPort> port_;
  bool parityDropped_ = false;
};

}  // namespace kkm::serial
