#pragma once
// A device on a virtual line that pulls the cable when the host sends one
// given byte: the port vanishes part-way through whatever was running.

#include <cstdint>

#include "sim/line/LineDevice.h"
#include "sim/line/VirtualLine.h"

namespace kkm::test {

class CableCutter : public sim::LineDevice {
 public:
  CableCutter(sim::VirtualLine& line, std::uint8_t cutAt) : line_(line), cutAt_(cutAt) {}
  void connect(sim::DeviceTransmitter&) override {}
  void receive(std::uint8_t byte, sim::Parity, sim::SimTime) override {
    if (byte == cutAt_) line_.vanish();
  }
  void advanceTo(sim::SimTime) override {}
  sim::SimTime nextActionAt() const override { return kIdleForever; }

 private:
  sim::VirtualLine& line_;
  std::uint8_t cutAt_;
};

}  // namespace kkm::test
