#include "sim/pty/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "serial/Trace.h"
#include "sim/pty/RealTime.h"

namespace kkm::sim {

namespace {

// While nobody holds the slave open the master reports POLLHUP at once, so the
// server sleeps this long before it looks again. Well under the host's
// shortest wait (10 ms in the address scan): a host that has just opened the
// slave again and written a byte purges it unread if the server looks later.
constexpr SimTime kHangupPauseNs = 2 * kNsPerMs;
// Devices cannot say when they next need to run, so they are run at least this
// often: finely while the line is in use (a reply is then never later than its
// own character time), coarsely once it has been quiet for a while.
constexpr SimTime kActiveServiceNs = 1 * kNsPerMs;
constexpr SimTime kIdleServiceNs = 20 * kNsPerMs;
constexpr SimTime kActiveWindowNs = 3'000 * kNsPerMs;
constexpr std::size_t kReadChunk = 512;
// A sleeping process wakes some tens of microseconds after its timer: the
// server sleeps until this long before a hand-over to the host and spins on
// the clock for the rest, so the host gets its bytes when the UART would hand
// them over. Only hand-overs are worth it: everything else the line does is
// stamped with the moment it happened, not the moment the server ran it.
constexpr SimTime kHandOverSpinNs = 150 * kNsPerUs;
// Timers of this process may fire this late (the kernel's default is 50 µs).
constexpr unsigned long kTimerSlackNs = 1'000;

timespec Timespec(SimTime ns) {
  return {static_cast<time_t>(ns / 1'000'000'000ull), static_cast<long>(ns % 1'000'000'000ull)};
}

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::atomic<unsigned> serversMade{0};

}  // namespace

std::string FormatTraceEntry(const TraceEntry& entry) {
  return serial::FormatTraceTime(entry.end) + " " +
         serial::FormatByteEvent(entry.direction == Direction::HostToDevice, entry.byte, entry.parity);
}

Parity ParityOfSlaveFlags(std::uint32_t cflag) {
  if ((cflag & CMSPAR) == 0) return Parity::None;
  return (cflag & PARODD) != 0 ? Parity::Mark : Parity::Space;
}

// The host's end of the line is the master: what the UART hands over is
// written to it (a byte the host is not there to take is lost, as on a wire).
class PtyServer::HostEnd : public LineHost {
 public:
  explicit HostEnd(PtyServer& server) : server_(server) {}
  Parity receiveParity() const override { return server_.slaveParity(); }
  void receive(const std::uint8_t* bytes, std::size_t count, SimTime at) override {
    [[maybe_unused]] const ssize_t n = ::write(server_.master_, bytes, count);
    server_.noteHandOver(at);
  }
  void crossed(const TraceEntry& entry) override { server_.record(entry); }

 private:
  PtyServer& server_;
};

PtyServer::PtyServer()
    : origin_(std::chrono::steady_clock::now()),
      hostEnd_(std::make_unique<HostEnd>(*this)),
      schedule_(std::make_unique<LineSchedule>(*hostEnd_)),
      serial_(++serversMade) {
  // 1. The pair, the slave raw at 9600 bit/s.
  openPair();

  // 3. The self-pipe that wakes run() for a stop.
  if (pipe2(stopPipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(master_);
    throw std::system_error(error, std::generic_category(), "pipe2");
  }
}

void PtyServer::openPair() {
  // 1. The pair: master non-blocking, closed on exec.
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) ThrowErrno("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    const int error = errno;
    ::close(master_);
    throw std::system_error(error, std::generic_category(), "unlockpt");
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  char name[128] = {};
  if (ptsname_r(master_, name, sizeof name) == 0) slavePath_ = name;

  // 2. The slave raw at 9600 bit/s (the settings on the master are the
  //    slave's), so that even a host that sets nothing gets bytes unchanged
  //    and nothing is echoed back.
  termios tio{};
  tcgetattr(master_, &tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD;
  tcsetattr(master_, TCSANOW, &tio);
}

PtyServer::~PtyServer() {
  if (lateness_.handOvers > 0) reportLateness();
  if (!linkPath_.empty()) {
    // Only our own link: someone may have put something else there meanwhile.
    char target[4096];
    const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_) unlink(linkPath_.c_str());
  }
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
  ::close(master_);
}

bool PtyServer::linkAt(const std::string& path) {
  // Only a dangling symlink (left by a server that is gone) is replaced: a
  // file, or a link that still leads somewhere, may be someone else's.
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    struct stat target {};
    if (!S_ISLNK(st.st_mode) || stat(path.c_str(), &target) == 0) {
      errno = EEXIST;
      return false;
    }
    if (unlink(path.c_str()) != 0) return false;
  }
  if (symlink(slavePath_.c_str(), path.c_str()) != 0) return false;
  linkPath_ = path;
  return true;
}

void PtyServer::attach(LineDevice& device) { schedule_->attach(device); }

void PtyServer::requestStop() {
  const char wake = 1;
  // A full pipe already holds a stop request.
  [[maybe_unused]] const ssize_t n = ::write(stopPipe_[1], &wake, 1);
}

SimTime PtyServer::now() const {
  return static_cast<SimTime>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - origin_)
          .count());
}

PtyServer::StopReason PtyServer::run() {
  prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
  // The thread that hands bytes over keeps time while the machine is busy,
  // where it may.
  RequestRealTime(false);
  for (;;) {
    // 1. The line runs up to now: host bytes whose stop bit has passed reach
    //    the devices, the devices run and may queue answers, device bytes whose
    //    last bit has arrived pass the receive FIFO to the host.
    const SimTime t = now();
    ranTo_ = std::max(ranTo_, t);
    schedule_->runTo(ranTo_);
    if (hostClosed_ && stopWhenHostCloses_) return StopReason::HostClosed;
    // 2. Sleep until the next of these moments, a host byte or a stop; to the
    //    microsecond when bytes are due to reach the host then.
    const SimTime due = nextDue(t);
    if (!waitUntil(due, due == schedule_->nextHandOver())) return StopReason::Requested;
    // 3. Take what the host wrote.
    if (!hostHungUp_) readFromHost();
  }
}

void PtyServer::setHostReceiveFifo(unsigned triggerLevel, unsigned timeoutCharacters) {
  schedule_->setReceiveFifo(triggerLevel, timeoutCharacters);
}

SimTime PtyServer::nextDue(SimTime now) const {
  const bool active = now < lastActivity_ + kActiveWindowNs;
  return std::min(ranTo_ + (active ? kActiveServiceNs : kIdleServiceNs), schedule_->nextEvent());
}

bool PtyServer::waitUntil(SimTime deadline, bool precise) {
  // 1. While nobody holds the slave open, sleep a short pause instead of
  //    polling a master that reports POLLHUP at once; then look again.
  const SimTime start = now();
  const bool pausing = hostHungUp_;
  if (pausing) deadline = std::min(deadline, start + kHangupPauseNs);

  std::vector<pollfd> fds;
  fds.push_back({stopPipe_[0], POLLIN, 0});
  for (int fd : stopDescriptors_) fds.push_back({fd, POLLIN, 0});
  if (!pausing) fds.push_back({master_, POLLIN, 0});

  precise = precise && !pausing;
  const SimTime sleepUntil = precise && deadline > kHandOverSpinNs ? deadline - kHandOverSpinNs : deadline;
  const timespec timeout = Timespec(sleepUntil > start ? sleepUntil - start : 0);
  int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
  // The last stretch before a hand-over: look without sleeping until it is due.
  const timespec atOnce{0, 0};
  while (ready == 0 && precise && now() < deadline) ready = ppoll(fds.data(), fds.size(), &atOnce, nullptr);
  if (ready < 0) return true;  // EINTR: the loop simply comes round again

  // 2. A stop request or a readable stop descriptor ends the run.
  for (std::size_t i = 0; i < fds.size() - (pausing ? 0 : 1); ++i)
    if (fds[i].revents != 0) return false;

  // 3. The master tells whether the slave is held open.
  if (pausing) {
    hostHungUp_ = false;  // look again on the next pass
  } else {
    const short revents = fds.back().revents;
    // POLLIN with POLLHUP: the host's last bytes are still to be read first.
    if ((revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLIN) == 0) {
      noteHostGone();
    } else {
      hostHungUp_ = false;
      hostPresent_ = hostPresent_ || (revents & POLLIN) != 0;
    }
  }
  return true;
}

void PtyServer::readFromHost() {
  // 1. Everything the host has written so far.
  std::uint8_t chunk[kReadChunk];
  std::vector<std::uint8_t> bytes;
  for (;;) {
    const ssize_t n = ::read(master_, chunk, sizeof chunk);
    if (n > 0) {
      bytes.insert(bytes.end(), chunk, chunk + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // EIO: the host has closed the slave (its last bytes were read above).
    if (n < 0 && errno == EIO) noteHostGone();
    break;
  }
  if (bytes.empty()) return;

  // 2. One reading of the slave's parity for the chunk: the host changes it
  //    only after an answer it waits for, never between bytes written together.
  const Parity parity = slaveParity();

  // 3. The bytes cross the line one after another from now on.
  const SimTime readAt = now();
  for (std::uint8_t byte : bytes) schedule_->hostSend(byte, parity, readAt);
}

void PtyServer::noteHostGone() {
  // A fresh master reports no hang-up before the first open, so the first one
  // means a host has opened the slave and closed it again.
  if (hostPresent_) releaseDeadHolder();
  hostPresent_ = false;
  hostClosed_ = true;
  hostHungUp_ = true;
}

void PtyServer::releaseDeadHolder() {
  // 1. A serial port loses its exclusive flag with its last holder; a
  //    pseudo-terminal keeps it for as long as the master lives, so a host
  //    killed while holding it would lock every ordinary user out for good.
  //    Root opens it anyway, and only a flag left behind refuses this open.
  if (::geteuid() == 0) return;
  const int probe = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (probe >= 0 || errno != EBUSY) {
    if (probe >= 0) ::close(probe);
    return;
  }
  // 2. A new pair in its place, at the same path where the system allows it
  //    (the lowest free number is handed out first, so the numbers below it
  //    that come first are held until ours comes back); the devices and their
  //    memories stay as they are.
  const std::string path = slavePath_;
  ::close(master_);
  std::vector<int> skipped;
  constexpr int kMaxSkipped = 64;
  for (;;) {
    openPair();
    if (slavePath_ == path || skipped.size() >= kMaxSkipped) break;
    skipped.push_back(master_);
  }
  for (const int fd : skipped) ::close(fd);
  if (!linkPath_.empty()) {
    ::unlink(linkPath_.c_str());
    [[maybe_unused]] const int linked = ::symlink(slavePath_.c_str(), linkPath_.c_str());
  }
  std::fprintf(stderr,
               "kkm-sim: the pseudo-terminal was left exclusive by a holder that is gone; serving %s anew\n",
               slavePath_.c_str());
}

Parity PtyServer::slaveParity() const {
  termios tio{};
  if (tcgetattr(master_, &tio) != 0) return Parity::None;
  return ParityOfSlaveFlags(static_cast<std::uint32_t>(tio.c_cflag));
}

void PtyServer::noteHandOver(SimTime due) {
  const SimTime at = now();
  const SimTime late = at > due ? at - due : 0;
  const bool isLate = late > kLateHandOverNs;
  ++lateness_.handOvers;
  lateness_.worst = std::max(lateness_.worst, late);
  if (!isLate) return;
  ++lateness_.late;
  if (lateSink_) lateSink_(due, late);
  reportLateness();
}

void PtyServer::reportLateness() const {
  const char* path = std::getenv("KKM_SIM_LATENESS_FILE");
  if (path == nullptr || *path == '\0') return;
  // One append of one line: servers of several processes share the file.
  char line[160];
  const int length = std::snprintf(
      line, sizeof line, "server=%d.%u handovers=%llu late=%llu worst_ms=%.3f\n", static_cast<int>(getpid()),
      serial_, static_cast<unsigned long long>(lateness_.handOvers),
      static_cast<unsigned long long>(lateness_.late), static_cast<double>(lateness_.worst) / kNsPerMs);
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t n = ::write(fd, line, static_cast<std::size_t>(length));
  ::close(fd);
}

void PtyServer::record(const TraceEntry& entry) {
  lastActivity_ = entry.end;
  if (keepTrace_) trace_.push_back(entry);
  if (traceSink_) traceSink_(entry);
}

}  // namespace kkm::sim
