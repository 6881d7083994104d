#include "bench/TimedPlatform.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "serial/SerialPort.h"

namespace kkm::bench {

std::int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class TimedPlatform::TimedClock : public serial::Clock {
 public:
  TimedClock(TimedPlatform& platform, serial::Clock& inner) : platform_(platform), inner_(inner) {}
  std::uint32_t tickMs() override { return inner_.tickMs(); }
  void letTimePass() override {
    platform_.timed(CallKind::ClockWait, [&] { inner_.letTimePass(); });
  }
  void letTimePassUntil(std::uint32_t tick) override {
    platform_.timed(CallKind::ClockWait, [&] { inner_.letTimePassUntil(tick); });
  }

 private:
  TimedPlatform& platform_;
  serial::Clock& inner_;
};

class TimedPlatform::TimedPort : public serial::SerialPort {
 public:
  TimedPort(TimedPlatform& platform, std::unique_ptr<serial::SerialPort> inner)
      : platform_(platform), inner_(std::move(inner)) {}

  bool setBufferSizes(std::uint32_t input, std::uint32_t output) override {
    return platform_.timed(CallKind::OtherSetting, [&] { return inner_->setBufferSizes(input, output); });
  }
  bool getSettings(serial::LineSettings& settings) override {
    return platform_.timed(CallKind::Settings, [&] { return inner_->getSettings(settings); });
  }
  bool setSettings(const serial::LineSettings& settings) override {
    return platform_.timed(CallKind::Settings, [&] { return inner_->setSettings(settings); });
  }
  bool getTimeouts(serial::Timeouts& timeouts) override {
    return platform_.timed(CallKind::OtherSetting, [&] { return inner_->getTimeouts(timeouts); });
  }
  bool setTimeouts(const serial::Timeouts& timeouts) override {
    return platform_.timed(CallKind::OtherSetting, [&] { return inner_->setTimeouts(timeouts); });
  }
  bool purge(std::uint32_t mask) override {
    return platform_.timed(CallKind::Purge, [&] { return inner_->purge(mask); });
  }
  bool clearDtr() override {
    return platform_.timed(CallKind::OtherSetting, [&] { return inner_->clearDtr(); });
  }
  std::int32_t queuedInput() override {
    return platform_.timed(CallKind::Queued, [&] { return inner_->queuedInput(); });
  }
  bool awaitInputUntil(std::uint32_t count, std::uint32_t tick) override {
    return platform_.timed(CallKind::AwaitInput, [&] { return inner_->awaitInputUntil(count, tick); });
  }
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count) override {
    return platform_.timed(CallKind::Read, [&] { return inner_->read(buffer, count); });
  }
  std::int32_t write(const std::uint8_t* data, std::uint32_t count) override {
    return platform_.timed(CallKind::Write, [&] { return inner_->write(data, count); });
  }
  bool close() override {
    return platform_.timed(CallKind::Close, [&] { return inner_->close(); });
  }
  bool vanished() const override { return inner_->vanished(); }

 private:
  TimedPlatform& platform_;
  std::unique_ptr<serial::SerialPort> inner_;
};

TimedPlatform::TimedPlatform(serial::Platform& inner, std::function<std::int64_t()> now)
    : inner_(inner), now_(std::move(now)), clock_(std::make_unique<TimedClock>(*this, inner.clock())) {}

TimedPlatform::~TimedPlatform() = default;

std::unique_ptr<serial::SerialPort> TimedPlatform::openPort(const std::string& name) {
  std::unique_ptr<serial::SerialPort> port = timed(CallKind::Open, [&] { return inner_.openPort(name); });
  if (!port) return nullptr;
  return std::make_unique<TimedPort>(*this, std::move(port));
}

serial::Clock& TimedPlatform::clock() { return *clock_; }

namespace {
TimedPlatform* filesOn = nullptr;

// Stamps `body`, a system call, when a platform notes the files' calls.
template <typename Body>
int Stamped(Body&& body) {
  TimedPlatform* platform = filesOn;
  const std::int64_t begin = platform != nullptr ? platform->now() : 0;
  const int result = body();
  if (platform != nullptr) platform->record(CallKind::Files, begin, platform->now());
  return result;
}
}  // namespace

void NoteFiles(TimedPlatform* platform) { filesOn = platform; }

}  // namespace kkm::bench

// The state files' calls of this program, stamped, then made as system calls
// (errno as the C library's would leave it).
extern "C" int fsync(int fd) {
  return kkm::bench::Stamped([&] { return static_cast<int>(::syscall(SYS_fsync, fd)); });
}
extern "C" int rename(const char* from, const char* to) {
  return kkm::bench::Stamped(
      [&] { return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0)); });
}
extern "C" int unlink(const char* path) {
  return kkm::bench::Stamped([&] { return static_cast<int>(::syscall(SYS_unlinkat, AT_FDCWD, path, 0)); });
}
extern "C" int remove(const char* path) {
  return kkm::bench::Stamped([&] {
    const int result = static_cast<int>(::syscall(SYS_unlinkat, AT_FDCWD, path, 0));
    return result == 0 || errno != EISDIR
               ? result
               : static_cast<int>(::syscall(SYS_unlinkat, AT_FDCWD, path, AT_REMOVEDIR));
  });
}
