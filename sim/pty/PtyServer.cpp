#include "sim/pty/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "sim/line/Collision.h"
#include "serial/Trace.h"

namespace kkm::sim {

namespace {

// While nobody holds the slave open the master reports POLLHUP at once, so the
// server sleeps this long before it looks again.
constexpr SimTime kHangupPauseNs = 15 * kNsPerMs;
// Devices cannot say when they next need to run, so they are run at least this
// often: finely while the line is in use (a reply is then never later than its
// own character time), coarsely once it has been quiet for a while.
constexpr SimTime kActiveServiceNs = 1 * kNsPerMs;
constexpr SimTime kIdleServiceNs = 20 * kNsPerMs;
constexpr SimTime kActiveWindowNs = 3'000 * kNsPerMs;
constexpr std::size_t kReadChunk = 512;

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

std::string FormatTraceEntry(const TraceEntry& entry) {
  return serial::FormatTraceTime(entry.end) + " " +
         serial::FormatByteEvent(entry.direction == Direction::HostToDevice, entry.byte, entry.parity);
}

Parity ParityOfSlaveFlags(std::uint32_t cflag) {
  if ((cflag & CMSPAR) == 0) return Parity::None;
  return (cflag & PARODD) != 0 ? Parity::Mark : Parity::Space;
}

// One device's side of the line: its bytes go out one after another.
class PtyServer::DeviceSide : public DeviceTransmitter {
 public:
  explicit DeviceSide(PtyServer& server) : server_(server) {}
  void transmit(std::uint8_t byte, Parity parity, SimTime notBefore) override {
    const SimTime start = std::max(notBefore, freeAt_);
    freeAt_ = start + CharacterTime(parity);
    server_.queueForHost({byte, parity, start, freeAt_});
  }
  SimTime transmitterFreeAt() const override { return freeAt_; }

 private:
  PtyServer& server_;
  SimTime freeAt_ = 0;
};

PtyServer::PtyServer() : origin_(std::chrono::steady_clock::now()) {
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

  // 3. The self-pipe that wakes run() for a stop.
  if (pipe2(stopPipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(master_);
    throw std::system_error(error, std::generic_category(), "pipe2");
  }
}

PtyServer::~PtyServer() {
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
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      errno = EEXIST;
      return false;
    }
    if (unlink(path.c_str()) != 0) return false;
  }
  if (symlink(slavePath_.c_str(), path.c_str()) != 0) return false;
  linkPath_ = path;
  return true;
}

void PtyServer::attach(LineDevice& device) {
  devices_.push_back(&device);
  deviceSides_.push_back(std::make_unique<DeviceSide>(*this));
  device.connect(*deviceSides_.back());
}

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
  for (;;) {
    const SimTime t = now();
    // 1. Host bytes whose stop bit has passed reach the devices.
    deliverHostBytes(t);
    // 2. The devices run up to now and may queue answers.
    advanceDevices(t);
    // 3. Device bytes whose last bit has arrived go to the host.
    sendDueDeviceBytes(t);
    if (hostClosed_ && stopWhenHostCloses_) return StopReason::HostClosed;
    // 4. Sleep until the next of these moments, a host byte or a stop.
    if (!waitUntil(nextDue(t))) return StopReason::Requested;
    // 5. Take what the host wrote.
    if (!hostHungUp_) readFromHost();
  }
}

void PtyServer::queueForHost(const Pending& pending) {
  // Several devices may talk at once: their overlapping characters collide;
  // the queue stays ordered by arrival.
  QueueCharacter(toHost_, pending);
}

void PtyServer::deliverHostBytes(SimTime until) {
  std::size_t done = 0;
  for (; done < fromHost_.size() && fromHost_[done].end <= until; ++done) {
    const Pending& p = fromHost_[done];
    advanceDevices(p.end);
    record(Direction::HostToDevice, p);
    for (LineDevice* device : devices_) device->receive(p.byte, p.parity, p.end);
  }
  fromHost_.erase(fromHost_.begin(), fromHost_.begin() + static_cast<std::ptrdiff_t>(done));
}

void PtyServer::advanceDevices(SimTime until) {
  deviceTime_ = std::max(deviceTime_, until);
  for (LineDevice* device : devices_) device->advanceTo(deviceTime_);
}

void PtyServer::setHostReceiveFifo(unsigned triggerLevel, unsigned timeoutCharacters) {
  fifoTrigger_ = triggerLevel;
  fifoTimeoutCharacters_ = timeoutCharacters;
}

SimTime PtyServer::fifoTimeout() const {
  // The UART counts its time-out in characters of the format the host has set.
  return fifoTimeoutCharacters_ * CharacterTime(slaveParity());
}

void PtyServer::flushReceiveFifo() {
  // A byte the host is not there to take is lost, as on a wire.
  if (receiveFifo_.empty()) return;
  [[maybe_unused]] const ssize_t n = ::write(master_, receiveFifo_.data(), receiveFifo_.size());
  receiveFifo_.clear();
}

void PtyServer::sendDueDeviceBytes(SimTime until) {
  const SimTime fifoTimeout = this->fifoTimeout();
  std::size_t done = 0;
  for (; done < toHost_.size() && toHost_[done].end <= until; ++done) {
    const Pending& p = toHost_[done];
    if (!receiveFifo_.empty() && receiveFifoLastArrival_ + fifoTimeout < p.end) flushReceiveFifo();
    receiveFifo_.push_back(p.byte);
    receiveFifoLastArrival_ = p.end;
    if (fifoTrigger_ == 0 || receiveFifo_.size() >= fifoTrigger_) flushReceiveFifo();
    record(Direction::DeviceToHost, p);
  }
  toHost_.erase(toHost_.begin(), toHost_.begin() + static_cast<std::ptrdiff_t>(done));
  if (!receiveFifo_.empty() && receiveFifoLastArrival_ + fifoTimeout <= until) flushReceiveFifo();
}

SimTime PtyServer::nextDue(SimTime now) const {
  const bool active = now < lastActivity_ + kActiveWindowNs;
  SimTime due = deviceTime_ + (active ? kActiveServiceNs : kIdleServiceNs);
  if (!fromHost_.empty()) due = std::min(due, fromHost_.front().end);
  if (!toHost_.empty()) due = std::min(due, toHost_.front().end);
  if (!receiveFifo_.empty()) due = std::min(due, receiveFifoLastArrival_ + fifoTimeout());
  return due;
}

bool PtyServer::waitUntil(SimTime deadline) {
  // 1. While nobody holds the slave open, sleep a short pause instead of
  //    polling a master that reports POLLHUP at once; then look again.
  const SimTime start = now();
  const bool pausing = hostHungUp_;
  if (pausing) deadline = std::min(deadline, start + kHangupPauseNs);

  std::vector<pollfd> fds;
  fds.push_back({stopPipe_[0], POLLIN, 0});
  for (int fd : stopDescriptors_) fds.push_back({fd, POLLIN, 0});
  if (!pausing) fds.push_back({master_, POLLIN, 0});

  const SimTime wait = deadline > start ? deadline - start : 0;
  const timespec timeout{static_cast<time_t>(wait / 1'000'000'000ull),
                         static_cast<long>(wait % 1'000'000'000ull)};
  const int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
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
    if ((revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLIN) == 0)
      noteHostGone();
    else
      hostHungUp_ = false;
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
  for (std::uint8_t byte : bytes) {
    const SimTime start = std::max(readAt, hostLineFreeAt_);
    hostLineFreeAt_ = start + CharacterTime(parity);
    fromHost_.push_back({byte, parity, start, hostLineFreeAt_});
  }
}

void PtyServer::noteHostGone() {
  // A fresh master reports no hang-up before the first open, so the first one
  // means a host has opened the slave and closed it again.
  hostClosed_ = true;
  hostHungUp_ = true;
}

Parity PtyServer::slaveParity() const {
  termios tio{};
  if (tcgetattr(master_, &tio) != 0) return Parity::None;
  return ParityOfSlaveFlags(static_cast<std::uint32_t>(tio.c_cflag));
}

void PtyServer::record(Direction direction, const Pending& pending) {
  lastActivity_ = pending.end;
  const TraceEntry entry{direction, pending.byte, pending.parity, pending.start, pending.end};
  if (keepTrace_) trace_.push_back(entry);
  if (traceSink_) traceSink_(entry);
}

}  // namespace kkm::sim
