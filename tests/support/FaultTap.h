#pragma once
// A stretch of faulty cable between the line and one device. Bytes pass both
// ways unchanged except around one chosen frame of the host's:
//  - `swallow`: the frame never reaches the device (it hears nothing);
//  - `beforeFrame` runs as the frame's first byte arrives, before the device
//    hears it (pull the port, pull a bus line low, stop a server);
//  - `answers` rewrites each byte the device sends from the frame's first
//    byte until the host's next frame or address byte: it gets the answer's
//    index (from 0) and byte and returns what goes on the line instead
//    (nothing drops it, other bytes replace it or follow it).
// A frame is a burst of the host's data bytes (SPACE or no parity) that cross
// the line back to back; an address byte (MARK) is no frame but ends one.
// Frames are counted from 1 since the last arm().

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/line/LineDevice.h"

namespace kkm::test {

class FaultTap : public sim::LineDevice, private sim::DeviceTransmitter {
 public:
  using AnswerRewrite = std::function<std::vector<std::uint8_t>(std::size_t index, std::uint8_t byte)>;

  struct Strike {
    std::uint32_t frame = 0;  // 0: no frame is hit
    bool swallow = false;
    std::function<void()> beforeFrame;
    AnswerRewrite answers;
  };

  explicit FaultTap(sim::LineDevice& device) : device_(device) {}

  // Starts counting frames again and sets what happens at the chosen one.
  void arm(Strike strike);
  // Frames of the host since the last arm(); safe to ask from another thread
  // than the one the line runs on.
  std::uint32_t frames() const { return frames_; }

  void connect(sim::DeviceTransmitter& transmitter) override;
  void receive(std::uint8_t byte, sim::Parity parity, sim::SimTime at) override;
  void advanceTo(sim::SimTime until) override { device_.advanceTo(until); }

 private:
  void transmit(std::uint8_t byte, sim::Parity parity, sim::SimTime notBefore) override;
  sim::SimTime transmitterFreeAt() const override { return line_->transmitterFreeAt(); }

  sim::LineDevice& device_;
  sim::DeviceTransmitter* line_ = nullptr;
  Strike strike_;
  std::atomic<std::uint32_t> frames_ = 0;
  bool inFrame_ = false;        // the last host byte was a data byte
  sim::SimTime lastEnd_ = 0;    // when the last host byte arrived
  bool inStruckFrame_ = false;  // the frame being received is the one struck
  bool answering_ = false;      // the device's bytes are answers to the struck frame
  std::size_t answers_ = 0;
};

}  // namespace kkm::test
