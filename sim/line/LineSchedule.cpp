#include "sim/line/LineSchedule.h"

#include <algorithm>

#include "sim/line/Collision.h"

namespace kkm::sim {

// One device's side of the line: its bytes go out one after another, and
// overlap those of the other devices' sides.
class LineSchedule::DeviceSide : public DeviceTransmitter {
 public:
  explicit DeviceSide(LineSchedule& schedule) : schedule_(schedule) {}
  void transmit(std::uint8_t byte, Parity parity, SimTime notBefore) override {
    const SimTime start = std::max(notBefore, freeAt_);
    freeAt_ = start + CharacterTime(parity);
    QueueCharacter(schedule_.deviceToHost_, Pending{byte, parity, start, freeAt_});
  }
  SimTime transmitterFreeAt() const override { return freeAt_; }

 private:
  LineSchedule& schedule_;
  SimTime freeAt_ = 0;
};

LineSchedule::LineSchedule(LineHost& host) : host_(host) {}

LineSchedule::~LineSchedule() = default;

void LineSchedule::attach(LineDevice& device) {
  devices_.push_back(&device);
  deviceSides_.push_back(std::make_unique<DeviceSide>(*this));
  device.connect(*deviceSides_.back());
}

SimTime LineSchedule::hostSend(std::uint8_t byte, Parity parity, SimTime notBefore) {
  const SimTime start = std::max(notBefore, hostLineFreeAt_);
  hostLineFreeAt_ = start + CharacterTime(parity);
  hostToDevice_.push_back({byte, parity, start, hostLineFreeAt_});
  return hostLineFreeAt_;
}

std::size_t LineSchedule::hostBytesUnfinishedAt(SimTime at) const {
  return static_cast<std::size_t>(std::count_if(hostToDevice_.begin(), hostToDevice_.end(),
                                                [at](const Pending& p) { return p.end > at; }));
}

void LineSchedule::dropUnstartedHostBytes(SimTime now) {
  auto& queue = hostToDevice_;
  queue.erase(std::remove_if(queue.begin(), queue.end(), [now](const Pending& p) { return p.start > now; }),
              queue.end());
  hostLineFreeAt_ = queue.empty() ? now : std::max(now, queue.back().end);
}

void LineSchedule::setReceiveFifo(unsigned triggerLevel, unsigned timeoutCharacters) {
  fifoTrigger_ = triggerLevel;
  fifoTimeoutCharacters_ = timeoutCharacters;
}

SimTime LineSchedule::fifoDue() const {
  if (receiveFifo_.empty()) return kNever;
  return receiveFifoLastArrival_ + fifoTimeoutCharacters_ * CharacterTime(host_.receiveParity());
}

void LineSchedule::flushReceiveFifo(SimTime at) {
  host_.receive(receiveFifo_.data(), receiveFifo_.size(), at);
  receiveFifo_.clear();
}

SimTime LineSchedule::nextEvent() const {
  const SimTime hostNext = hostToDevice_.empty() ? kNever : hostToDevice_.front().end;
  const SimTime deviceNext = deviceToHost_.empty() ? kNever : deviceToHost_.front().end;
  return std::min({hostNext, deviceNext, fifoDue()});
}

SimTime LineSchedule::nextHandOver() const {
  // The FIFO as it will fill with the device bytes on their way: each one
  // that arrives before the FIFO times out restarts its time-out.
  const SimTime timeout = fifoTimeoutCharacters_ * CharacterTime(host_.receiveParity());
  std::size_t held = receiveFifo_.size();
  SimTime lastArrival = receiveFifoLastArrival_;
  for (const Pending& p : deviceToHost_) {
    if (held > 0 && lastArrival + timeout < p.end) return lastArrival + timeout;
    ++held;
    lastArrival = p.end;
    if (fifoTrigger_ == 0 || held >= fifoTrigger_) return p.end;
  }
  return held > 0 ? lastArrival + timeout : kNever;
}

SimTime LineSchedule::nextDeviceAction() const {
  SimTime next = kNever;
  for (const LineDevice* device : devices_) next = std::min(next, device->nextActionAt());
  return next;
}

void LineSchedule::runDevicesTo(SimTime until) {
  for (LineDevice* device : devices_) device->advanceTo(until);
}

void LineSchedule::runTo(SimTime until) {
  for (;;) {
    const SimTime hostNext = hostToDevice_.empty() ? kNever : hostToDevice_.front().end;
    const SimTime deviceNext = deviceToHost_.empty() ? kNever : deviceToHost_.front().end;
    const SimTime fifoNext = fifoDue();
    const SimTime next = std::min({hostNext, deviceNext, fifoNext});
    if (next > until) break;
    runDevicesTo(next);
    if (fifoNext < hostNext && fifoNext < deviceNext) {
      // 1. The line has been quiet long enough: the FIFO hands over what it holds.
      flushReceiveFifo(fifoNext);
    } else if (hostNext <= deviceNext) {
      // 2. A host byte reaches every device.
      const Pending p = hostToDevice_.front();
      hostToDevice_.pop_front();
      host_.crossed({Direction::HostToDevice, p.byte, p.parity, p.start, p.end});
      for (LineDevice* device : devices_) device->receive(p.byte, p.parity, p.end);
    } else {
      // 3. A device byte reaches the host's UART.
      const Pending p = deviceToHost_.front();
      deviceToHost_.pop_front();
      host_.crossed({Direction::DeviceToHost, p.byte, p.parity, p.start, p.end});
      receiveFifo_.push_back(p.byte);
      receiveFifoLastArrival_ = p.end;
      if (fifoTrigger_ == 0 || receiveFifo_.size() >= fifoTrigger_) flushReceiveFifo(p.end);
    }
  }
  runDevicesTo(until);
  // Devices may have sent bytes that already arrived by `until`.
  if (!deviceToHost_.empty() && deviceToHost_.front().end <= until) runTo(until);
}

}  // namespace kkm::sim
