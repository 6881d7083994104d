#pragma once
// What a simulated device sees of the serial line. The same device object runs
// on the in-process virtual line (virtual time) and on a pseudo-terminal (real
// time): it is told of every byte that finished arriving, with the parity bit
// it was sent with, it is asked to run its own work up to a moment, and it
// sends through a DeviceTransmitter.

#include <cstdint>

#include "serial/SerialPort.h"

namespace kkm::sim {

using serial::Parity;

// Nanoseconds since the line started.
using SimTime = std::uint64_t;
inline constexpr SimTime kNsPerUs = 1'000;
inline constexpr SimTime kNsPerMs = 1'000'000;
inline constexpr std::uint32_t kLineBaud = 9600;

// Bits on the wire of one character: start, 8 data, parity bit if any, stop.
constexpr std::uint32_t CharacterBits(Parity parity) { return parity == Parity::None ? 10u : 11u; }
// Time one character takes on the line at 9600 bit/s.
constexpr SimTime CharacterTime(Parity parity) {
  return static_cast<SimTime>(CharacterBits(parity)) * 1'000'000'000ull / kLineBaud;
}

class DeviceTransmitter {
 public:
  virtual ~DeviceTransmitter() = default;
  // Queues one byte: it starts crossing the line at `notBefore` or as soon as
  // the bytes queued before it have left, and takes CharacterTime(parity).
  virtual void transmit(std::uint8_t byte, Parity parity, SimTime notBefore) = 0;
  // When the last queued byte will have left the device's side of the line.
  virtual SimTime transmitterFreeAt() const = 0;
};

class LineDevice {
 public:
  virtual ~LineDevice() = default;
  // Called once when the device is put on a line, before anything else.
  virtual void connect(DeviceTransmitter& transmitter) = 0;
  // A byte from the host finished arriving (its stop bit ended) at `at`.
  // Devices are advanced to `at` before they are told.
  virtual void receive(std::uint8_t byte, Parity parity, SimTime at) = 0;
  // Run the device's own work (timers, a CPU, scheduled answers) up to `until`.
  virtual void advanceTo(SimTime until) = 0;
  // The earliest moment at which the device may act on its own (send, or fire
  // a timer) without hearing another byte first: the line lets time jump over
  // a wait up to there when nothing else is due. kIdleForever when it only
  // ever answers; 0, the default, when it cannot tell (the line then moves
  // step by step, as it would without the jump).
  static constexpr SimTime kIdleForever = ~SimTime{0};
  virtual SimTime nextActionAt() const { return 0; }
};

}  // namespace kkm::sim
