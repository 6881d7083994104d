#include "bench/RigHandOff.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "serial/SerialLine.h"

namespace kkm::bench {

namespace {

constexpr std::uint8_t kLineAddress = 0xFE;  // kkm-sim's register, network number 1
constexpr int kRoundTrips = 41;
constexpr int kEchoTimeoutMs = 100;
constexpr std::chrono::milliseconds kQuiet{15};

// The same exchange through the tool's serial layer on the virtual line.
double EchoFloorMs() {
  const OperationFactory echo = [](serial::Platform& platform) {
    auto port = std::make_shared<serial::PortHandle>(platform.clock());
    if (!serial::OpenComPort(platform, 1, *port)) throw std::runtime_error("COM1 does not open");
    return Operation{[port] {
      port->purge(serial::kPurgeClearBoth);
      serial::SetAddressParity(*port, true);
      port->writeByte(kLineAddress);
      std::uint8_t echo = 0;
      return serial::WaitForInput(*port, 1, kEchoTimeoutMs) && port->readByte(echo) && echo == kLineAddress;
    }};
  };
  return MeasureFloor(service::Link::Processor, echo, HostWrites::ReturnAtOnce).meanMs;
}

// The slave raw at 9600 bit/s with MARK parity, woken by one byte.
int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  cfsetspeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD | PARENB | CMSPAR | PARODD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

double MedianExcessMs(const std::string& slavePath, double floorMs) {
  const int fd = OpenRaw(slavePath);
  std::vector<double> excess;
  for (int i = 0; i < kRoundTrips; ++i) {
    std::this_thread::sleep_for(kQuiet);
    tcflush(fd, TCIOFLUSH);
    const auto start = std::chrono::steady_clock::now();
    const std::uint8_t address = kLineAddress;
    pollfd p{fd, POLLIN, 0};
    const bool answered = write(fd, &address, 1) == 1 && poll(&p, 1, kEchoTimeoutMs) == 1;
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    std::uint8_t echo = 0;
    if (!answered || read(fd, &echo, 1) != 1 || echo != kLineAddress) {
      close(fd);
      throw std::runtime_error("kkm-sim does not echo the address byte");
    }
    excess.push_back(elapsed.count() - floorMs);
  }
  close(fd);
  std::nth_element(excess.begin(), excess.begin() + kRoundTrips / 2, excess.end());
  return excess[kRoundTrips / 2];
}

}  // namespace

const RigHandOff& MeasureRigHandOff() {
  static const RigHandOff measured = [] {
    const double floorMs = EchoFloorMs();
    const SimProcess sim(service::Link::Processor);
    RigHandOff rig;
    rig.roundTripMs = std::max(0.0, MedianExcessMs(sim.slavePath(), floorMs));
    const auto half = static_cast<sim::SimTime>(rig.roundTripMs / 2 * static_cast<double>(sim::kNsPerMs));
    rig.delays = {half, half};
    return rig;
  }();
  return measured;
}

}  // namespace kkm::bench
