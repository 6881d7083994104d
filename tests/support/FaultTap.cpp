#include "tests/support/FaultTap.h"

namespace kkm::test {

void FaultTap::arm(Strike strike) {
  strike_ = std::move(strike);
  frames_ = 0;
  inFrame_ = false;
  inStruckFrame_ = false;
  answering_ = false;
  answers_ = 0;
}

void FaultTap::connect(sim::DeviceTransmitter& transmitter) {
  line_ = &transmitter;
  device_.connect(*this);
}

void FaultTap::receive(std::uint8_t byte, sim::Parity parity, sim::SimTime at) {
  // 1. Where the byte belongs: an address byte ends any frame; a data byte
  //    after a character time or more of silence starts a new one.
  if (parity == sim::Parity::Mark) {
    inFrame_ = false;
    inStruckFrame_ = false;
    answering_ = false;
  } else {
    const bool backToBack = inFrame_ && at - lastEnd_ < 2 * sim::CharacterTime(parity);
    if (!backToBack) {
      ++frames_;
      inStruckFrame_ = frames_ == strike_.frame;
      answering_ = inStruckFrame_;
      answers_ = 0;
      if (inStruckFrame_ && strike_.beforeFrame) strike_.beforeFrame();
    }
    inFrame_ = true;
  }
  lastEnd_ = at;
  // 2. The device hears it unless the struck frame is swallowed.
  if (inStruckFrame_ && strike_.swallow) return;
  device_.receive(byte, parity, at);
}

void FaultTap::transmit(std::uint8_t byte, sim::Parity parity, sim::SimTime notBefore) {
  if (!answering_ || !strike_.answers) {
    line_->transmit(byte, parity, notBefore);
    return;
  }
  for (std::uint8_t sent : strike_.answers(answers_++, byte)) line_->transmit(sent, parity, notBefore);
}

}  // namespace kkm::test
