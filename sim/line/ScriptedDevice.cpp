#include "sim/line/ScriptedDevice.h"

#include <algorithm>

namespace kkm::sim {

ScriptedDevice& ScriptedDevice::on(std::vector<std::uint8_t> expect, std::vector<std::uint8_t> reply,
                                   double delayMs, Parity replyParity) {
  return onAfter(std::move(expect), std::move(reply), static_cast<SimTime>(delayMs * kNsPerMs), replyParity);
}

ScriptedDevice& ScriptedDevice::onAfter(std::vector<std::uint8_t> expect, std::vector<std::uint8_t> reply,
                                        SimTime delay, Parity replyParity) {
  steps_.push_back({std::move(expect), std::move(reply), delay, replyParity});
  return *this;
}

void ScriptedDevice::sendAt(SimTime at, std::vector<std::uint8_t> bytes, Parity parity) {
  scheduled_.push_back({at, std::move(bytes), parity});
}

void ScriptedDevice::receive(std::uint8_t byte, Parity parity, SimTime at) {
  received_.push_back(byte);
  receivedParity_.push_back(parity);
  sinceLastStep_.push_back(byte);
  if (steps_.empty()) return;
  const Step& step = steps_.front();
  if (sinceLastStep_.size() >= step.expect.size() &&
      std::equal(step.expect.begin(), step.expect.end(), sinceLastStep_.end() - step.expect.size())) {
    lastFired_ = at + step.delay;
    scheduled_.push_back({lastFired_, step.reply, step.replyParity});
    steps_.pop_front();
    sinceLastStep_.clear();
  }
}

void ScriptedDevice::advanceTo(SimTime until) {
  // A step that expects nothing fires on its own, `delay` after the previous one.
  while (!steps_.empty() && steps_.front().expect.empty()) {
    lastFired_ += steps_.front().delay;
    scheduled_.push_back({lastFired_, steps_.front().reply, steps_.front().replyParity});
    steps_.pop_front();
  }
  std::stable_sort(scheduled_.begin(), scheduled_.end(),
                   [](const Timed& a, const Timed& b) { return a.at < b.at; });
  std::size_t sent = 0;
  for (; sent < scheduled_.size() && scheduled_[sent].at <= until; ++sent) {
    for (std::uint8_t byte : scheduled_[sent].bytes)
      transmitter_->transmit(byte, scheduled_[sent].parity, scheduled_[sent].at);
  }
  scheduled_.erase(scheduled_.begin(), scheduled_.begin() + static_cast<std::ptrdiff_t>(sent));
}

}  // namespace kkm::sim
