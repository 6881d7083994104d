// The pseudo-terminal server with a scripted device, driven by a host that
// opens the slave through the real POSIX back end. These tests run in real
// time with generous bounds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "serial/SerialLine.h"
#include "sim/line/ScriptedDevice.h"
#include "sim/pty/PtyServer.h"

namespace kkm::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using serial::PortHandle;

constexpr std::uint32_t kReplyWaitMs = 2000;

// The server on its own thread, stopped and joined at the end of the test.
class Serving {
 public:
  explicit Serving(PtyServer& server) : server_(server), thread_([this] { reason_ = server_.run(); }) {}
  ~Serving() { stop(); }
  PtyServer::StopReason stop() {
    server_.requestStop();
    return join();
  }
  PtyServer::StopReason join() {
    if (thread_.joinable()) thread_.join();
    return reason_;
  }

 private:
  PtyServer& server_;
  PtyServer::StopReason reason_ = PtyServer::StopReason::Requested;
  std::thread thread_;
};

// A host on the slave through the real back end, as the tool opens COM1.
class Host {
 public:
  explicit Host(const std::string& slavePath)
      : platform_(serial::MakeNativePlatform()), port_(platform_->clock()) {
    setenv("KKM_COM1", slavePath.c_str(), 1);
  }
  ~Host() { unsetenv("KKM_COM1"); }
  bool open() { return serial::OpenComPort(*platform_, 1, port_); }
  void close() { serial::CloseComPort(port_); }
  PortHandle& port() { return port_; }

  void setParity(serial::Parity parity) {
    serial::LineSettings settings;
    port_.getSettings(settings);
    settings.parity = parity;
    port_.setSettings(settings);  // may report EINVAL on a pty; the settings are stored
  }
  // Writes `bytes` in one write and reads `replyCount` bytes; empty on a time-out.
  Bytes exchange(const Bytes& bytes, std::uint32_t replyCount) {
    port_.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (!serial::WaitForInput(port_, replyCount, kReplyWaitMs)) return {};
    Bytes reply(replyCount);
    port_.read(reply.data(), replyCount);
    return reply;
  }

 private:
  std::unique_ptr<serial::Platform> platform_;
  PortHandle port_;
};

std::vector<TraceEntry> Only(const std::vector<TraceEntry>& trace, Direction direction) {
  std::vector<TraceEntry> out;
  for (const TraceEntry& e : trace)
    if (e.direction == direction) out.push_back(e);
  return out;
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST(PtyServer, DevicesHearEachByteWithTheParityTheSlaveWasSetTo) {
  PtyServer server;
  ScriptedDevice device;
  device.on({0xFE}, {0xFE}).on({0x01, 0x14, 0xEA}, {0xEA}).on({0x42}, {0x24});
  server.attach(device);
  std::vector<std::string> lines;
  server.setTraceSink([&](const TraceEntry& e) { lines.push_back(FormatTraceEntry(e)); });
  Host host(server.slavePath());
  Serving serving(server);
  ASSERT_TRUE(host.open());

  host.setParity(serial::Parity::Mark);
  EXPECT_EQ(host.exchange({0xFE}, 1), Bytes{0xFE});
  host.setParity(serial::Parity::Space);
  EXPECT_EQ(host.exchange({0x01, 0x14, 0xEA}, 1), Bytes{0xEA});
  host.setParity(serial::Parity::None);
  EXPECT_EQ(host.exchange({0x42}, 1), Bytes{0x24});
  host.close();
  serving.stop();

  EXPECT_EQ(device.received(), (Bytes{0xFE, 0x01, 0x14, 0xEA, 0x42}));
  EXPECT_EQ(device.receivedParity(),
            (std::vector<Parity>{Parity::Mark, Parity::Space, Parity::Space, Parity::Space, Parity::None}));

  const auto fromHost = Only(server.trace(), Direction::HostToDevice);
  ASSERT_EQ(fromHost.size(), 5u);
  // The frame written in one go crosses the line byte after byte.
  for (std::size_t i = 2; i <= 3; ++i) EXPECT_EQ(fromHost[i].start, fromHost[i - 1].end);
  for (const TraceEntry& e : fromHost) EXPECT_EQ(e.end - e.start, CharacterTime(e.parity));

  ASSERT_EQ(lines.size(), 8u);
  EXPECT_NE(lines[0].find(" host>dev FE mark"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" dev>host FE none"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(" host>dev 01 space"), std::string::npos) << lines[2];
  EXPECT_NE(lines[7].find(" dev>host 24 none"), std::string::npos) << lines[7];
}

TEST(PtyServer, RepliesArriveAfterTheirDelayPacedAtLineSpeed) {
  constexpr std::size_t kReplyLength = 20;
  constexpr double kDelayMs = 5.0;
  PtyServer server;
  ScriptedDevice device;
  Bytes reply(kReplyLength);
  for (std::size_t i = 0; i < kReplyLength; ++i) reply[i] = static_cast<std::uint8_t>(0x30 + i);
  device.on({0x55}, reply, kDelayMs);
  server.attach(device);
  Host host(server.slavePath());
  Serving serving(server);
  ASSERT_TRUE(host.open());

  // Note when each byte becomes visible to the host.
  const std::uint8_t trigger = 0x55;
  const auto written = Clock::now();
  host.port().write(&trigger, 1);
  std::vector<Clock::time_point> seen;
  while (seen.size() < kReplyLength && Clock::now() - written < std::chrono::seconds(3)) {
    const std::uint32_t queued = host.port().queuedInput();
    while (seen.size() < queued) seen.push_back(Clock::now());
  }
  ASSERT_EQ(seen.size(), kReplyLength);
  Bytes got(kReplyLength);
  host.port().read(got.data(), kReplyLength);
  EXPECT_EQ(got, reply);

  // The trigger crosses the line, the device waits its delay, and the first
  // reply byte needs its own character time: nothing can come sooner.
  const double characterMs = static_cast<double>(CharacterTime(Parity::None)) / kNsPerMs;
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  EXPECT_GE(ms(seen.front() - written), kDelayMs + 2 * characterMs - 0.1);
  EXPECT_LT(ms(seen.front() - written), 500.0);
  // Twenty characters take nineteen character times from the first to the last.
  EXPECT_GE(ms(seen.back() - seen.front()), (kReplyLength - 1) * characterMs * 0.9);

  serving.stop();
  const auto toHost = Only(server.trace(), Direction::DeviceToHost);
  ASSERT_EQ(toHost.size(), kReplyLength);
  for (std::size_t i = 1; i < toHost.size(); ++i) EXPECT_GE(toHost[i].start, toHost[i - 1].end);
}

TEST(PtyServer, KeepsServingWhenTheHostClosesAndReopensWithoutSpinning) {
  PtyServer server;
  ScriptedDevice device;
  device.on({0x11}, {0x91}).on({0x22}, {0x92});
  server.attach(device);
  Host host(server.slavePath());
  Serving serving(server);

  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.exchange({0x11}, 1), Bytes{0x91});
  host.close();

  // Nobody holds the slave: the master reports a hang-up, and the server
  // must sleep rather than spin on it.
  const double cpuBefore = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_LT(CpuSeconds() - cpuBefore, 0.1);

  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.exchange({0x22}, 1), Bytes{0x92});
  host.close();
  EXPECT_EQ(serving.stop(), PtyServer::StopReason::Requested);
  EXPECT_EQ(device.received(), (Bytes{0x11, 0x22}));
}

TEST(PtyServer, CanStopWhenTheHostClosesTheSlave) {
  PtyServer server;
  ScriptedDevice device;
  device.on({0x33}, {0x93});
  server.attach(device);
  server.stopWhenHostCloses(true);
  Host host(server.slavePath());
  Serving serving(server);

  // Not yet opened: the server waits for its host.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.exchange({0x33}, 1), Bytes{0x93});
  host.close();
  EXPECT_EQ(serving.join(), PtyServer::StopReason::HostClosed);
}

TEST(PtyServer, StopsOnRequestOrAReadableStopDescriptor) {
  {
    PtyServer server;
    const auto start = Clock::now();
    Serving serving(server);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(serving.stop(), PtyServer::StopReason::Requested);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  }
  {
    PtyServer server;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    server.addStopDescriptor(pipeFds[0]);
    std::thread serving([&] { server.run(); });
    const char byte = 1;
    ASSERT_EQ(write(pipeFds[1], &byte, 1), 1);
    serving.join();  // hangs the test if the descriptor is not watched
    close(pipeFds[0]);
    close(pipeFds[1]);
  }
}

TEST(PtyServer, PlacesASymlinkToTheSlaveAndRemovesItButNeverReplacesAFile) {
  const std::string dir = testing::TempDir();
  const std::string link = dir + "kkm-pty-link-" + std::to_string(getpid());
  const std::string file = link + ".file";
  {
    PtyServer server;
    ASSERT_TRUE(server.linkAt(link));
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(server.slavePath(), target);

    // A stale link from an earlier run is replaced; a regular file is not.
    PtyServer second;
    EXPECT_TRUE(second.linkAt(link));
    const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_FALSE(second.linkAt(file));
    struct stat st {};
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
  // The first server found its link replaced and left it; the second removed it.
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0);
  std::remove(file.c_str());
}

}  // namespace
}  // namespace kkm::sim
