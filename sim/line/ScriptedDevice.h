#pragma once
// A small scriptable device for protocol tests: "when these bytes arrive, send
// those after T ms". Steps run in order; each collects the bytes received since
// the previous step matched and fires once its expected bytes have all come.

#include <cstdint>
#include <deque>
#include <vector>

#include "sim/line/LineDevice.h"

namespace kkm::sim {

class ScriptedDevice : public LineDevice {
 public:
  struct Step {
    std::vector<std::uint8_t> expect;  // empty: fire `delay` after the previous step fired
    std::vector<std::uint8_t> reply;
    SimTime delay = 0;  // from the last expected byte's arrival
    Parity replyParity = Parity::None;
  };

  // Fluent helper: on(expect).reply(bytes, delayMs).
  ScriptedDevice& on(std::vector<std::uint8_t> expect, std::vector<std::uint8_t> reply, double delayMs = 1.0,
                     Parity replyParity = Parity::None);
  // The same with the delay in exact nanoseconds of virtual time.
  ScriptedDevice& onAfter(std::vector<std::uint8_t> expect, std::vector<std::uint8_t> reply, SimTime delay,
                          Parity replyParity = Parity::None);
  // Sends `bytes` at an absolute moment, whatever arrives.
  void sendAt(SimTime at, std::vector<std::uint8_t> bytes, Parity parity = Parity::None);

  void connect(DeviceTransmitter& transmitter) override { transmitter_ = &transmitter; }
  void receive(std::uint8_t byte, Parity parity, SimTime at) override;
  void advanceTo(SimTime until) override;

  // Everything received, with its parity.
  const std::vector<std::uint8_t>& received() const { return received_; }
  const std::vector<Parity>& receivedParity() const { return receivedParity_; }
  // Steps not yet matched.
  std::size_t pendingSteps() const { return steps_.size(); }

 private:
  struct Timed {
    SimTime at;
    std::vector<std::uint8_t> bytes;
    Parity parity;
  };
  DeviceTransmitter* transmitter_ = nullptr;
  std::deque<Step> steps_;
  std::vector<std::uint8_t> sinceLastStep_;
  std::vector<Timed> scheduled_;
  SimTime lastFired_ = 0;
  std::vector<std::uint8_t> received_;
  std::vector<Parity> receivedParity_;
};

}  // namespace kkm::sim
