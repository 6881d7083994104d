// The serial line on POSIX terminals. COMn (1..255) is the device
// ResolvePort gives (KKM_COMn, the port map, else /dev/ttyS(n-1)); a name
// starting with '/' is a device path. Only terminal devices are accepted,
// opened exclusively, in raw mode; MARK and SPACE parity use CMSPAR. A write
// lasts until its bytes have left the transmitter, so every wait that follows
// starts when the frame is on the wire; a port is left as it was found when it
// is closed.

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "serial/Failure.h"
#include "serial/Platform.h"
#include "serial/PortHolders.h"
#include "serial/PortMap.h"
#include "serial/PosixPort.h"

namespace kkm::serial {

namespace {

// A wait ends at the first tick reading past its limit, so waits sleep until
// just past the start of the tick at which their end condition can first
// hold: one wake-up per wait, and a wait ends within tens of microseconds of
// its limit.
constexpr long kNsPerMs = 1'000'000;
constexpr long kNsPerS = 1'000'000'000;
// A sleep never ends before its moment, so one microsecond past the tick is
// enough for the tick counter to read it when the sleep ends; every
// microsecond more would be added to every wait.
constexpr long kPastTickNs = 1'000;
// The kernel may defer a sleeping thread's wake-up by its timer slack, 50 us
// by default; the waits need it to be small.
constexpr unsigned long kTimerSlackNs = 1'000;
// The most received bytes a terminal can be asked to wait for (VMIN is a byte).
constexpr std::uint32_t kMaxWakeCount = 255;

// The moment on CLOCK_MONOTONIC (which the steady clock reads) just past the
// start of `tick`, a value of the tick counter (the steady clock's whole
// milliseconds, 32 bits) taken as the one nearest to now.
timespec PastTick(std::uint32_t tick) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::int64_t nowMs = std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / kNsPerMs;
  const auto ahead = static_cast<std::int32_t>(tick - static_cast<std::uint32_t>(nowMs));
  const std::int64_t atNs = (nowMs + ahead) * kNsPerMs + kPastTickNs;
  return {static_cast<time_t>(atNs / kNsPerS), static_cast<long>(atNs % kNsPerS)};
}

// Time from now until `at`, for ppoll.
timespec Until(const timespec& at) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  long ns = (at.tv_sec - now.tv_sec) * kNsPerS + (at.tv_nsec - now.tv_nsec);
  if (ns < 0) ns = 0;
  return {static_cast<time_t>(ns / kNsPerS), ns % kNsPerS};
}

// The steady clock in whole milliseconds; the tick counter is its low 32 bits.
std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

class SteadyClock : public Clock {
 public:
  // The waits run on the thread that makes the platform.
  SteadyClock() { prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0); }
  std::uint32_t tickMs() override { return static_cast<std::uint32_t>(NowMs()); }
  void letTimePass() override { letTimePassUntil(tickMs() + 1); }
  void letTimePassUntil(std::uint32_t tick) override {
    const timespec at = PastTick(tick);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
  }
};

// The clock a port's write waits on: the tool's tick clock.
Clock& PortClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace

std::optional<OutputState> ProbeOutput(int fd) {
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) != 0) return std::nullopt;
  OutputState state{static_cast<std::uint32_t>(queued < 0 ? 0 : queued), true};
  unsigned int lsr = 0;
  if (ioctl(fd, TIOCSERGETLSR, &lsr) == 0) state.transmitterEmpty = (lsr & TIOCSER_TEMT) != 0;
  return state;
}

namespace {

// Asks the driver to hand received bytes over at once (USB-serial drivers
// then shorten their latency timer), or no longer. A driver that refuses keeps
// its own. True when the flag was changed.
bool SetLowLatency(int fd, bool on) {
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
  if (((info.flags & ASYNC_LOW_LATENCY) != 0) == on) return false;
  info.flags = on ? info.flags | ASYNC_LOW_LATENCY : info.flags & ~ASYNC_LOW_LATENCY;
  return ioctl(fd, TIOCSSERIAL, &info) == 0;
}

class PosixPlatform : public Platform {
 public:
  std::unique_ptr<SerialPort> openPort(const std::string& name) override {
    // A COM name that leads nowhere is never opened as anything else.
    return openResolved(name, resolvePort(name));
  }
  ResolvedPort resolvePort(const std::string& name) const override {
    if (ComPortNumber(name)) return ResolvePort(name);
    return {DevicePathFor(name), {}};
  }
  std::unique_ptr<SerialPort> openResolved(const std::string&, const ResolvedPort& resolved) override {
    // A COM name that leads nowhere is never opened as anything else.
    if (!resolved.problem.empty()) {
      Fail(About(LineFailure::PortNameUnusable, resolved.problem));
      return nullptr;
    }
    return OpenPosixPort(resolved.device);
  }
  Clock& clock() override { return clock_; }
  std::string devicePath(const std::string& name) const override { return DevicePathFor(name); }

 private:
  SteadyClock clock_;
};

}  // namespace

std::string DevicePathFor(const std::string& portName) {
  // A device path is taken as it is; COM1..COM255 as the port map resolves them.
  if (!portName.empty() && portName.front() == '/') return portName;
  if (!ComPortNumber(portName)) return {};
  return ResolvePortName(portName);
}

std::uint32_t AwaitOutputDrained(const std::function<std::optional<OutputState>()>& probe, Clock& clock,
                                 std::uint32_t limitMs) {
  const std::uint32_t start = clock.tickMs();
  for (;;) {
    const std::optional<OutputState> state = probe();
    if (!state || (state->queued == 0 && state->transmitterEmpty)) return 0;
    // The last byte may still be in the shift register: count it as not gone.
    if (ElapsedMs(start, clock.tickMs()) > limitMs) return std::max<std::uint32_t>(state->queued, 1);
    clock.letTimePass();
  }
}

PosixPort::PosixPort(int fd, const termios* saved, OutputProbe probe) : fd_(fd), probe_(probe) {
  if (saved != nullptr) saved_ = *saved;
}

PosixPort::~PosixPort() {
  release();
  if (fd_ >= 0) ::close(fd_);
}

void PosixPort::release() {
  if (fd_ < 0) return;
  // Leave the device as it was found: others may open it again, with the
  // settings it had.
  ioctl(fd_, TIOCNXCL);
  if (saved_) tcsetattr(fd_, TCSANOW, &*saved_);
  if (lowLatencySet_) SetLowLatency(fd_, false);
}

bool PosixPort::setBufferSizes(std::uint32_t, std::uint32_t) {
  // The terminal driver's buffers are fixed; the request is advisory.
  return fd_ >= 0;
}

bool PosixPort::getSettings(LineSettings& settings) {
  termios tio{};
  if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) return false;
  settings = flags_;
  settings.baudRate = cfgetospeed(&tio) == B9600 ? 9600 : settings.baudRate;
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      settings.byteSize = 5;
      break;
    case CS6:
      settings.byteSize = 6;
      break;
    case CS7:
      settings.byteSize = 7;
      break;
    default:
      settings.byteSize = 8;
      break;
  }
  settings.parity = ParityOf(tio.c_cflag);
  settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
  return true;
}

Parity PosixPort::ParityOf(tcflag_t cflag) {
  // A pseudo-terminal clears PARENB itself, so CMSPAR alone still tells MARK
  // from SPACE.
  if (cflag & CMSPAR) return (cflag & PARODD) ? Parity::Mark : Parity::Space;
  if (!(cflag & PARENB)) return Parity::None;
  return (cflag & PARODD) ? Parity::Odd : Parity::Even;
}

bool PosixPort::setSettings(const LineSettings& settings) {
  termios tio{};
  if (fd_ < 0) return false;
  tcgetattr(fd_, &tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, settings.baudRate == 9600 ? B9600 : cfgetispeed(&tio));
  cfsetospeed(&tio, settings.baudRate == 9600 ? B9600 : cfgetospeed(&tio));
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  switch (settings.parity) {
    case Parity::Mark:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::Space:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    case Parity::Odd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case Parity::Even:
      tio.c_cflag |= PARENB;
      break;
    case Parity::None:
      break;
  }
  if (settings.stopBits != 0) tio.c_cflag |= CSTOPB;
  // Received bytes are delivered whatever their parity bit.
  tio.c_iflag &= ~(INPCK | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
  tio.c_iflag |= IGNBRK;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  flags_ = settings;
  // TCSADRAIN: bytes already written go out with the parity they were written with.
  const bool applied = tcsetattr(fd_, TCSADRAIN, &tio) == 0;
  if ((settings.flags & kFlagRtsControlMask) != 0) {
    int rts = TIOCM_RTS;
    ioctl(fd_, TIOCMBIS, &rts);
  }
  return applied;
}

bool PosixPort::getTimeouts(Timeouts& timeouts) {
  if (fd_ < 0) return false;
  timeouts = timeouts_;
  return true;
}

bool PosixPort::setTimeouts(const Timeouts& timeouts) {
  if (fd_ < 0) return false;
  timeouts_ = timeouts;
  return true;
}

bool PosixPort::purge(std::uint32_t mask) {
  if (fd_ < 0) return false;
  // Output is discarded only while a write may have left bytes behind: after
  // one that drained there is nothing to discard, and on a pseudo-terminal the
  // discard would take the bytes the other end has not read yet.
  const bool tx = (mask & kPurgeTxClear) != 0 && outputPending_;
  if (tx) outputPending_ = false;
  const bool rx = (mask & kPurgeRxClear) != 0;
  // I/O here is synchronous, so the abort bits have nothing to abort.
  if (tx && rx) return tcflush(fd_, TCIOFLUSH) == 0;
  if (tx) return tcflush(fd_, TCOFLUSH) == 0;
  if (rx) return tcflush(fd_, TCIFLUSH) == 0;
  return true;
}

bool PosixPort::clearDtr() {
  int dtr = TIOCM_DTR;
  return fd_ >= 0 && ioctl(fd_, TIOCMBIC, &dtr) == 0;
}

// The errors of a device that has gone away (unplugged, hung up).
static bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

std::int32_t PosixPort::queuedInput() {
  int count = 0;
  if (fd_ < 0) return -1;
  if (ioctl(fd_, FIONREAD, &count) != 0) {
    if (DeviceGone(errno)) vanished_ = true;
    return -1;
  }
  return count;
}

bool PosixPort::awaitInputUntil(std::uint32_t count, std::uint32_t tick) {
  if (fd_ < 0 || count == 0) return false;
  // With VTIME 0 a terminal reports itself readable only once VMIN bytes are
  // queued: a wait for the rest of an answer sleeps until all of it is here,
  // not until the next tick. Past what VMIN can hold, or where the driver
  // refuses, a port with bytes queued is polled at every tick instead.
  const std::uint32_t wake = std::min(count, kMaxWakeCount);
  const std::int32_t queued = queuedInput();
  if (queued < 0 || static_cast<std::uint32_t>(queued) >= wake || !setWakeCount(wake)) return false;
  const timespec timeout = Until(PastTick(tick));
  pollfd p{fd_, POLLIN, 0};
  // A hang-up or an error is reported at once and again: sleep to the tick
  // instead of spinning on it.
  if (ppoll(&p, 1, &timeout, nullptr) > 0 && (p.revents & POLLIN) == 0) return false;
  return true;
}

bool PosixPort::setWakeCount(std::uint32_t count) {
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return false;
  // VMIN 0, as the port is opened, wakes at one byte too.
  if (tio.c_cc[VMIN] == count || (count == 1 && tio.c_cc[VMIN] == 0)) return true;
  // Only how many bytes wake a reader changes: the line and the bytes in
  // flight are untouched (and reads here never block, so VMIN rules only poll).
  tio.c_cc[VMIN] = static_cast<cc_t>(count);
  return tcsetattr(fd_, TCSANOW, &tio) == 0;
}

// Waits until the descriptor is readable (or writable) for at most `ms`.
static int PollFor(int fd, short events, std::uint64_t ms) {
  pollfd p{fd, events, 0};
  const int r = ::poll(&p, 1, static_cast<int>(ms));
  if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) return -1;
  if (r > 0 && (p.revents & POLLHUP) && !(p.revents & events)) return -1;
  return r;
}

std::int32_t PosixPort::read(std::uint8_t* buffer, std::uint32_t count) {
  if (fd_ < 0) return -1;
  const std::uint64_t start = NowMs();
  const std::uint64_t total =
      timeouts_.readTotalConstant + std::uint64_t{timeouts_.readTotalMultiplier} * count;
  // A gap counts from the end of one byte to the start of the next, so bytes
  // sent back to back (about 1.1 ms apart at 9600 bit/s) never end a read.
  const std::uint64_t interval = timeouts_.readInterval == 0 ? 0 : timeouts_.readInterval + 2;
  std::uint32_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd_, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      if (DeviceGone(errno)) vanished_ = true;
      return got > 0 ? std::int32_t(got) : -1;
    }
    const std::uint64_t elapsed = NowMs() - start;
    if (elapsed >= total) break;
    std::uint64_t wait = total - elapsed;
    if (got > 0 && interval != 0) wait = std::min(wait, interval);
    const int r = PollFor(fd_, POLLIN, wait);
    if (r < 0) {
      vanished_ = true;  // hung up or in error
      return got > 0 ? static_cast<std::int32_t>(got) : -1;
    }
    if (r == 0 && got > 0 && interval != 0) break;
  }
  return static_cast<std::int32_t>(got);
}

std::int32_t PosixPort::write(const std::uint8_t* data, std::uint32_t count) {
  if (fd_ < 0) return -1;
  outputPending_ = true;  // until the bytes are known to have left
  const std::uint64_t start = NowMs();
  const std::uint64_t total =
      timeouts_.writeTotalConstant + std::uint64_t{timeouts_.writeTotalMultiplier} * count;
  std::uint32_t sent = 0;
  while (sent < count) {
    const ssize_t n = ::write(fd_, data + sent, count - sent);
    if (n > 0) {
      sent += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      if (DeviceGone(errno)) vanished_ = true;
      return sent > 0 ? std::int32_t(sent) : -1;
    }
    const std::uint64_t elapsed = NowMs() - start;
    if (elapsed >= total) break;
    if (PollFor(fd_, POLLOUT, total - elapsed) < 0) {
      vanished_ = true;  // hung up or in error
      return sent > 0 ? static_cast<std::int32_t>(sent) : -1;
    }
  }
  // Like a synchronous write: over when the bytes have left the transmitter,
  // or when the time-out has passed; then the count is of those that left.
  const std::uint64_t elapsed = NowMs() - start;
  const auto left = static_cast<std::uint32_t>(total > elapsed ? total - elapsed : 0);
  std::optional<OutputState> last;
  const std::uint32_t queued = AwaitOutputDrained(
      [this, &last] {
        last = probe_(fd_);
        return last;
      },
      PortClock(), left);
  outputPending_ = !last || queued != 0;
  return static_cast<std::int32_t>(sent - std::min(sent, queued));
}

bool PosixPort::close() {
  if (fd_ < 0) return false;
  release();
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

// Why open() refused a device, as a failure.
static Failure OpenFailure(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return SystemError(LineFailure::NoSuchDevice, error);
    case EACCES:
    case EPERM:
      return SystemError(LineFailure::PermissionDenied, error);
    case EBUSY:
      return SystemError(LineFailure::PortInUse, error);
    default:
      return SystemError(LineFailure::PortUnavailable, error);
  }
}

std::unique_ptr<SerialPort> OpenPosixPort(const std::string& path) {
  if (path.empty()) {
    Fail({LineFailure::NoSuchDevice});
    return nullptr;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    Failure failure = OpenFailure(error);
    // Refused as busy (another opener set TIOCEXCL: this tool, in a window or
    // a script): the holder is named, as for a device found held below.
    if (error == EBUSY)
      if (const std::vector<std::string> holders = OtherHoldersOf(path, 1); !holders.empty())
        failure.detail = holders.front();
    Fail(failure);
    return nullptr;
  }
  // Only a terminal device: a frame must never be written into a file.
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
    ::close(fd);
    Fail({LineFailure::NotATerminal});
    return nullptr;
  }
  // Exclusive: TIOCEXCL refuses later opens by others, the lock refuses a
  // second open by anyone who also locks (this tool, even as root).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    Failure failure = error == EWOULDBLOCK ? SystemError(LineFailure::PortInUse, error) : OpenFailure(error);
    // The lock's holder has the device open: it is named like any other.
    if (error == EWOULDBLOCK)
      if (const std::vector<std::string> holders = HoldersNamed(DeviceNamesOf(path, fd), st.st_rdev, 1);
          !holders.empty())
        failure.detail = holders.front();
    ::close(fd);
    Fail(failure);
    return nullptr;
  }
  // A device another program holds (a terminal program, a modem-probing
  // daemon) is in use as much as a locked one: both would read our answers.
  // One holder is enough to refuse, and is named.
  if (const std::vector<std::string> holders = HoldersNamed(DeviceNamesOf(path, fd), st.st_rdev, 1);
      !holders.empty()) {
    ::close(fd);
    Fail(About(LineFailure::PortInUse, holders.front(), EBUSY));
    return nullptr;
  }
  ioctl(fd, TIOCEXCL);
  termios saved{};
  const bool haveSaved = tcgetattr(fd, &saved) == 0;
  auto port = std::make_unique<PosixPort>(fd, haveSaved ? &saved : nullptr);
  port->lowLatencySet_ = SetLowLatency(fd, true);
  return port;
}

std::unique_ptr<Platform> MakeNativePlatform() { return std::make_unique<PosixPlatform>(); }

}  // namespace kkm::serial
