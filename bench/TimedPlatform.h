#pragma once
// A platform decorator for the benchmarks that stamps every call the tool
// makes on its ports and on its clock's waits with the time it began and
// ended, from a time source it is given (the real steady clock, or a virtual
// line's time), so that a procedure's run can be split into what it spent
// opening, switching parity, purging, writing, reading and waiting. Calls are
// forwarded unchanged; tickMs is not recorded (it is read in every loop and
// costs nothing worth naming).

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/Platform.h"

namespace kkm::bench {

enum class CallKind {
  Open,          // the platform's openPort: the device, its holders, its first settings
  Settings,      // getSettings / setSettings (a parity switch is get, set, get)
  Purge,         // purge
  Write,         // write, until the port reports the bytes gone
  Read,          // read
  Queued,        // queuedInput: how many bytes wait (polled by every wait for input)
  AwaitInput,    // a wait on the port for input, until a tick at most
  ClockWait,     // letTimePass / letTimePassUntil: a sleep towards a tick
  Close,         // close
  OtherSetting,  // buffer sizes, time-outs, DTR
  Files,         // a state file flushed, renamed or removed (fsync, rename, remove, unlink; see NoteFiles)
};
inline constexpr std::size_t kCallKinds = 11;
inline constexpr std::array<const char*, kCallKinds> kCallKindNames{
    "open", "settings", "purge", "write", "read", "queued", "await", "sleep", "close", "other", "files"};

struct Call {
  CallKind kind;
  std::int64_t beginNs;
  std::int64_t endNs;
};

class TimedPlatform : public serial::Platform {
 public:
  // Neither `inner` nor `now` is owned; `now` gives ns on the clock the ticks count.
  TimedPlatform(serial::Platform& inner, std::function<std::int64_t()> now);
  ~TimedPlatform() override;

  std::unique_ptr<serial::SerialPort> openPort(const std::string& name) override;
  serial::Clock& clock() override;
  std::string devicePath(const std::string& name) const override { return inner_.devicePath(name); }

  // The calls since the last clear, in the order they began.
  const std::vector<Call>& calls() const { return calls_; }
  void clear() { calls_.clear(); }
  std::int64_t now() const { return now_(); }
  void record(CallKind kind, std::int64_t beginNs, std::int64_t endNs) {
    calls_.push_back({kind, beginNs, endNs});
  }

  // Stamps `body` as one call of `kind`.
  template <typename Body>
  auto timed(CallKind kind, Body&& body) {
    const std::int64_t begin = now_();
    struct Stamp {
      TimedPlatform& platform;
      CallKind kind;
      std::int64_t begin;
      ~Stamp() { platform.calls_.push_back({kind, begin, platform.now_()}); }
    } stamp{*this, kind, begin};
    return body();
  }

 private:
  class TimedClock;
  class TimedPort;

  serial::Platform& inner_;
  std::function<std::int64_t()> now_;
  std::unique_ptr<TimedClock> clock_;
  std::vector<Call> calls_;
};

// While a platform is given here, every fsync, rename, remove and unlink of
// the process (what the write record and the state folder cost the disk) is
// stamped as a Files call on it; nullptr stops that. A program that links
// TimedPlatform.cpp gets these four functions of its own, which do this
// around the system call.
void NoteFiles(TimedPlatform* platform);

// ns on the steady clock, the clock whose milliseconds the native platform's ticks are.
std::int64_t SteadyNowNs();

}  // namespace kkm::bench
