#include "sim/line/VirtualLine.h"

#include <algorithm>

namespace kkm::sim {

namespace {
constexpr std::size_t kTraceReserve = 512;
}  // namespace

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
  void letTimePassUntil(std::uint32_t tick) override { line_.passTowards(line_.startOfTick(tick)); }

 private:
  VirtualLine& line_;
};

// What the line's schedule hands to the host: bytes the UART passes on go to
// the port's input queue (as far as the driver's buffer takes them), and every
// byte that crosses is traced.
class VirtualLine::HostEnd : public LineHost {
 public:
  explicit HostEnd(VirtualLine& line) : line_(line) {}
  Parity receiveParity() const override { return line_.settings_.parity; }
  void receive(const std::uint8_t* bytes, std::size_t count, SimTime at) override {
    // Nobody takes what arrives while the port is closed or gone.
    if (!line_.portOpen_ || line_.vanished_) return;
    for (std::size_t i = 0; i < count; ++i)
      line_.handedOver_.push_back({bytes[i], at + line_.handOffToHost_});
    line_.takeHandedOver(at);
  }
  void crossed(const TraceEntry& entry) override { line_.trace_.push_back(entry); }

 private:
  VirtualLine& line_;
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
      line_.handedOver_.clear();
      line_.schedule_->clearReceiveFifo();
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
  // Lets time pass, step by step or over idle stretches, until the first
  // step at which `count` bytes are queued or `tick` is reached: where a
  // caller polling at every step would stop. A line that has vanished is
  // waited on too (nothing arrives on it): the caller would otherwise step
  // through every wait left, and sees the same line at the same moments.
  bool awaitInputUntil(std::uint32_t count, std::uint32_t tick) override {
    if (!open_ || !line_.idleJumps_) return false;
    const SimTime target = line_.startOfTick(tick);
    do line_.passTowards(target);
    while (usable() && line_.hostInput_.size() < count && line_.now_ < target);
    return true;
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
      // Towards the first moment either limit is met.
      const SimTime intervalEnd = got > 0 && t.readInterval != 0 ? lastArrival + interval + 1 : start + total;
      line_.passTowards(std::min(start + total, intervalEnd));
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
    LineSchedule& schedule = *line_.schedule_;
    for (std::uint32_t i = 0; i < count; ++i)
      schedule.hostSend(data[i], line_.settings_.parity, line_.now_ + line_.handOffToLine_);
    if (line_.hostWriteReturnsAtOnce_) return static_cast<std::int32_t>(count);
    const SimTime done = schedule.hostLineFreeAt();
    const SimTime until = limit == 0 ? done : std::min(done, start + limit);
    line_.advanceTo(until);
    if (!usable()) return -1;
    if (until == done) return static_cast<std::int32_t>(count);
    const auto unsent = static_cast<std::uint32_t>(schedule.hostBytesUnfinishedAt(until));
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
  void dropUnstarted() { line_.schedule_->dropUnstartedHostBytes(line_.now_); }
  void release() {
    if (open_) line_.portOpen_ = false;
    open_ = false;
  }

  VirtualLine& line_;
  bool open_ = true;
};

VirtualLine::VirtualLine(std::uint32_t startTick, SimTime step)
    : step_(step),
      startTick_(startTick),
      clock_(std::make_unique<LineClock>(*this)),
      hostEnd_(std::make_unique<HostEnd>(*this)),
      schedule_(std::make_unique<LineSchedule>(*hostEnd_)) {
  // Room for a few exchanges' bytes at once, instead of growing by doubling.
  trace_.reserve(kTraceReserve);
}

VirtualLine::~VirtualLine() = default;

serial::Clock& VirtualLine::clock() { return *clock_; }

void VirtualLine::attach(LineDevice& device) { schedule_->attach(device); }

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
  handedOver_.clear();
  schedule_->clearReceiveFifo();
  return std::make_unique<HostPort>(*this);
}

void VirtualLine::setHostReceiveFifo(unsigned triggerLevel, unsigned timeoutCharacters) {
  schedule_->setReceiveFifo(triggerLevel, timeoutCharacters);
}

std::vector<TraceEntry> VirtualLine::traceOf(Direction direction) const {
  std::vector<TraceEntry> out;
  for (const auto& e : trace_)
    if (e.direction == direction) out.push_back(e);
  return out;
}

// Moves time to `until`: the line's schedule hands over every byte whose
// last bit arrives on the way, in order of arrival.
void VirtualLine::advanceTo(SimTime until) {
  if (until < now_) return;
  schedule_->runTo(until);
  now_ = until;
  takeHandedOver(until);
}

SimTime VirtualLine::startOfTick(std::uint32_t tick) const {
  const auto ahead = static_cast<std::int32_t>(tick - clock_->tickMs());
  const SimTime nowMs = now_ / kNsPerMs;
  if (ahead <= 0) return now_;
  return (nowMs + static_cast<SimTime>(ahead)) * kNsPerMs;
}

void VirtualLine::passTowards(SimTime target) {
  if (!idleJumps_) {
    advanceBy(step_);
    return;
  }
  SimTime due = std::min({target, schedule_->nextEvent(), schedule_->nextDeviceAction()});
  if (!handedOver_.empty()) due = std::min(due, handedOver_.front().at);
  // Whole steps, at least one, up to the first one at or past `due`.
  const SimTime steps = due <= now_ + step_ ? 1 : (due - now_ + step_ - 1) / step_;
  advanceTo(now_ + steps * step_);
}

void VirtualLine::takeHandedOver(SimTime now) {
  // As far as the driver's buffer takes them.
  while (!handedOver_.empty() && handedOver_.front().at <= now) {
    if (hostInput_.size() < inputBufferSize_) hostInput_.push_back(handedOver_.front());
    handedOver_.pop_front();
  }
}

}  // namespace kkm::sim
