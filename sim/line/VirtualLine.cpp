#include "sim/line/VirtualLine.h"

#include <algorithm>

#include "sim/line/Collision.h"

namespace kkm::sim {

using serial::LineSettings;
using serial::Timeouts;

// The tick clock of the line: milliseconds of virtual time since the start,
// offset by the start tick; letting time pass moves the line one step on.
class VirtualLine::LineClock : public serial::Clock {
 public:
  explicit LineClock(VirtualLine& line) : line_(line) {}
  std::uint32_t tickMs() override {
    return line_.startTick_ + static_cast<std::uint32_t>(line_.now_ / kNsPerMs);
  }
  void letTimePass() override { line_.advanceBy(line_.step_); }

 private:
  VirtualLine& line_;
};

// One device's side of the line: its bytes go out one after another.
class VirtualLine::DeviceSide : public DeviceTransmitter {
 public:
  DeviceSide(VirtualLine& line, std::size_t index) : line_(line), index_(index) {}
  void transmit(std::uint8_t byte, Parity parity, SimTime notBefore) override {
    const SimTime start = std::max(notBefore, freeAt_);
    freeAt_ = start + CharacterTime(parity);
    QueueCharacter(line_.deviceToHost_, Pending{byte, parity, start, freeAt_});
    (void)index_;
  }
  SimTime transmitterFreeAt() const override { return freeAt_; }

 private:
  VirtualLine& line_;
  std::size_t index_;
  SimTime freeAt_ = 0;
};

// The host's end of the line: the port interface in virtual time.
class VirtualLine::HostPort : public serial::SerialPort {
 public:
  explicit HostPort(VirtualLine& line) : line_(line) {}
  ~HostPort() override { release(); }

  bool setBufferSizes(std::uint32_t input, std::uint32_t) override {
    if (!usable()) return false;
    line_.inputBufferSize_ = input;
    return true;
  }
  bool getSettings(LineSettings& settings) override {
    if (!usable()) return false;
    settings = line_.settings_;
    return true;
  }
  bool setSettings(const LineSettings& settings) override {
    if (!usable()) return false;
    line_.settings_ = settings;
    line_.rts_ = (settings.flags & serial::kFlagRtsControlMask) != 0;
    return true;
  }
  bool getTimeouts(Timeouts& timeouts) override {
    if (!usable()) return false;
    timeouts = line_.timeouts_;
    return true;
  }
  bool setTimeouts(const Timeouts& timeouts) override {
    if (!usable()) return false;
    line_.timeouts_ = timeouts;
    return true;
  }
  bool purge(std::uint32_t mask) override {
    if (!usable()) return false;
    if (mask & serial::kPurgeTxClear) dropUnstarted();
    if (mask & serial::kPurgeRxClear) {
      line_.hostInput_.clear();
      line_.receiveFifo_.clear();
    }
    return true;
  }
  bool clearDtr() override {
    if (!usable()) return false;
    line_.dtr_ = false;
    return true;
  }
  std::int32_t queuedInput() override {
    if (!usable()) return -1;
    return static_cast<std::int32_t>(line_.hostInput_.size());
  }
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count) override {
    if (!usable()) return -1;
    const Timeouts& t = line_.timeouts_;
    const SimTime start = line_.now_;
    const SimTime total =
        (static_cast<SimTime>(t.readTotalConstant) + static_cast<SimTime>(t.readTotalMultiplier) * count) *
        kNsPerMs;
    // A gap between two bytes counts from the end of one to the start of the
    // next: bytes sent back to back never end a read.
    const SimTime interval = static_cast<SimTime>(t.readInterval) * kNsPerMs + CharacterTime(Parity::Mark);
    std::uint32_t got = 0;
    SimTime lastArrival = 0;
    while (got < count) {
      if (!line_.hostInput_.empty()) {
        buffer[got++] = line_.hostInput_.front().byte;
        lastArrival = std::max(lastArrival, line_.hostInput_.front().at);
        line_.hostInput_.pop_front();
        continue;
      }
      if (got > 0 && t.readInterval != 0 && line_.now_ - lastArrival > interval) break;
      if (line_.now_ - start >= total) break;
      line_.clock().letTimePass();
      if (!usable()) return got > 0 ? static_cast<std::int32_t>(got) : -1;
    }
    return static_cast<std::int32_t>(got);
  }
  // Returns when the last byte's stop bit has gone out, or when the write
  // time-out (constant + multiplier * count ms, none when both are 0) has
  // passed: bytes that have not started by then are dropped, and the count is
  // that of the bytes that left.
  std::int32_t write(const std::uint8_t* data, std::uint32_t count) override {
    if (!usable()) return -1;
    const Timeouts& t = line_.timeouts_;
    const SimTime limit =
        (static_cast<SimTime>(t.writeTotalConstant) + static_cast<SimTime>(t.writeTotalMultiplier) * count) *
        kNsPerMs;
    const SimTime start = line_.now_;
    for (std::uint32_t i = 0; i < count; ++i) line_.hostWrite(data[i]);
    if (line_.hostWriteReturnsAtOnce_) return static_cast<std::int32_t>(count);
    const SimTime done = line_.hostTxFreeAt_;
    const SimTime until = limit == 0 ? done : std::min(done, start + limit);
    line_.advanceTo(until);
    if (!usable()) return -1;
    if (until == done) return static_cast<std::int32_t>(count);
    auto& queue = line_.hostToDevice_;
    const auto unsent = static_cast<std::uint32_t>(
        std::count_if(queue.begin(), queue.end(), [&](const Pending& p) { return p.end > until; }));
    dropUnstarted();
    return static_cast<std::int32_t>(count - std::min(count, unsent));
  }
  bool vanished() const override { return line_.vanished_; }
  bool close() override {
    const bool wasUsable = usable();
    release();
    return wasUsable;
  }

 private:
  bool usable() const { return open_ && !line_.vanished_; }
  // Bytes whose first bit has not gone out yet are dropped.
  void dropUnstarted() {
    auto& queue = line_.hostToDevice_;
    queue.erase(
        std::remove_if(queue.begin(), queue.end(), [&](const Pending& p) { return p.start > line_.now_; }),
        queue.end());
    line_.hostTxFreeAt_ = queue.empty() ? line_.now_ : std::max(line_.now_, queue.back().end);
  }
  void release() {
    if (open_) line_.portOpen_ = false;
    open_ = false;
  }

  VirtualLine& line_;
  bool open_ = true;
};

VirtualLine::VirtualLine(std::uint32_t startTick, SimTime step)
    : step_(step), startTick_(startTick), clock_(std::make_unique<LineClock>(*this)) {}

VirtualLine::~VirtualLine() = default;

serial::Clock& VirtualLine::clock() { return *clock_; }

void VirtualLine::attach(LineDevice& device) {
  devices_.push_back(&device);
  deviceSides_.push_back(std::make_unique<DeviceSide>(*this, devices_.size() - 1));
  device.connect(*deviceSides_.back());
}

std::unique_ptr<serial::SerialPort> VirtualLine::openPort() {
  if (portOpen_ || vanished_) return nullptr;
  portOpen_ = true;
  // A port opens with the settings a driver reports for an idle device.
  settings_ = serial::LineSettings{};
  settings_.baudRate = 1200;
  settings_.byteSize = 7;
  settings_.parity = Parity::Even;
  dtr_ = true;
  rts_ = true;
  hostInput_.clear();
  receiveFifo_.clear();
  return std::make_unique<HostPort>(*this);
}

void VirtualLine::setHostReceiveFifo(unsigned triggerLevel, unsigned timeoutCharacters) {
  fifoTrigger_ = triggerLevel;
  fifoTimeoutCharacters_ = timeoutCharacters;
}

SimTime VirtualLine::fifoTimeout() const {
  // The UART counts its time-out in characters of the format it is set to.
  return fifoTimeoutCharacters_ * CharacterTime(settings_.parity);
}

void VirtualLine::flushReceiveFifo(SimTime at) {
  for (std::uint8_t byte : receiveFifo_)
    if (hostInput_.size() < inputBufferSize_) hostInput_.push_back({byte, at});
  receiveFifo_.clear();
}

std::vector<TraceEntry> VirtualLine::traceOf(Direction direction) const {
  std::vector<TraceEntry> out;
  for (const auto& e : trace_)
    if (e.direction == direction) out.push_back(e);
  return out;
}

void VirtualLine::hostWrite(std::uint8_t byte) {
  const Parity parity = settings_.parity;
  const SimTime start = std::max(now_, hostTxFreeAt_);
  hostTxFreeAt_ = start + CharacterTime(parity);
  hostToDevice_.push_back({byte, parity, start, hostTxFreeAt_});
}

void VirtualLine::runDevicesTo(SimTime until) {
  for (LineDevice* device : devices_) device->advanceTo(until);
}

// Moves time to `until`, handing over every byte whose last bit arrives on the
// way, in order of arrival, with the devices run up to each arrival first.
void VirtualLine::advanceTo(SimTime until) {
  if (until < now_) return;
  for (;;) {
    const SimTime hostNext = hostToDevice_.empty() ? ~SimTime{0} : hostToDevice_.front().end;
    const SimTime deviceNext = deviceToHost_.empty() ? ~SimTime{0} : deviceToHost_.front().end;
    const SimTime fifoNext = receiveFifo_.empty() ? ~SimTime{0} : receiveFifoLastArrival_ + fifoTimeout();
    const SimTime next = std::min({hostNext, deviceNext, fifoNext});
    if (next > until) break;
    runDevicesTo(next);
    now_ = std::max(now_, next);
    if (fifoNext < hostNext && fifoNext < deviceNext) {
      flushReceiveFifo(fifoNext);
    } else if (hostNext <= deviceNext) {
      const Pending p = hostToDevice_.front();
      hostToDevice_.pop_front();
      trace_.push_back({Direction::HostToDevice, p.byte, p.parity, p.start, p.end});
      for (LineDevice* device : devices_) device->receive(p.byte, p.parity, p.end);
    } else {
      const Pending p = deviceToHost_.front();
      deviceToHost_.pop_front();
      trace_.push_back({Direction::DeviceToHost, p.byte, p.parity, p.start, p.end});
      if (!portOpen_ || vanished_) continue;
      if (fifoTrigger_ == 0) {
        if (hostInput_.size() < inputBufferSize_) hostInput_.push_back({p.byte, p.end});
        continue;
      }
      receiveFifo_.push_back(p.byte);
      receiveFifoLastArrival_ = p.end;
      if (receiveFifo_.size() >= fifoTrigger_) flushReceiveFifo(p.end);
    }
  }
  runDevicesTo(until);
  now_ = until;
  // Devices may have sent bytes that already arrived by `until`.
  if (!deviceToHost_.empty() && deviceToHost_.front().end <= until) advanceTo(until);
}

}  // namespace kkm::sim
