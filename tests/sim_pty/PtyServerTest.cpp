// The pseudo-terminal server with a scripted device, driven by a host that
// opens the slave through the real POSIX back end. These tests run in real
// time with generous bounds.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "sim/line/ScriptedDevice.h"
#include "sim/pty/PtyServer.h"
#include "tests/support/PtyHost.h"

namespace kkm::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// The server on its own thread, stopped and joined at the end of the test.
class Serving {
 public:
  explicit Serving(PtyServer& server) : server_(server), thread_([this] { reason_ = server_.run(); }) {}
  ~Serving() { stop(); }
  PtyServer::StopReason stop() {
    server_.requestStop();
    if (thread_.joinable()) thread_.join();
    return reason_;
  }

 private:
  PtyServer& server_;
  PtyServer::StopReason reason_ = PtyServer::StopReason::HostClosed;
  std::thread thread_;
};

std::vector<TraceEntry> Only(const std::vector<TraceEntry>& trace, Direction direction) {
  std::vector<TraceEntry> out;
  for (const TraceEntry& e : trace)
    if (e.direction == direction) out.push_back(e);
  return out;
}

TEST(PtyServer, DevicesHearEachByteWithTheParityTheSlaveWasSetTo) {
  PtyServer server;
  ScriptedDevice device;
  device.on({0xFE}, {0xFE}).on({0x01, 0x14, 0xEA}, {0xEA}).on({0x42}, {0x24});
  server.attach(device);
  PtyHost host(server.slavePath());
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
  // The frame written in one go crosses the line byte after byte.
  const auto fromHost = Only(server.trace(), Direction::HostToDevice);
  ASSERT_EQ(fromHost.size(), 5u);
  for (std::size_t i = 2; i <= 3; ++i) EXPECT_EQ(fromHost[i].start, fromHost[i - 1].end);
  for (const TraceEntry& e : fromHost) EXPECT_EQ(e.end - e.start, CharacterTime(e.parity));
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
  PtyHost host(server.slavePath());
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
  // The reply is paced at line speed: each byte is due one character time
  // after the one before. (When the machine is busy the server may wake late
  // and hand several due bytes over at once, so the host's own observation
  // only bounds the whole: never faster than the line.)
  EXPECT_GE(ms(seen.back() - written), kDelayMs + (kReplyLength + 1) * characterMs - 0.1);
  serving.stop();
  const auto sent = Only(server.trace(), Direction::DeviceToHost);
  ASSERT_EQ(sent.size(), kReplyLength);
  for (std::size_t i = 1; i < sent.size(); ++i)
    EXPECT_EQ(sent[i].end - sent[i - 1].end, CharacterTime(Parity::None));
}

TEST(PtyServer, KeepsServingWhenTheHostClosesAndReopensWithoutSpinning) {
  PtyServer server;
  ScriptedDevice device;
  device.on({0x11}, {0x91}).on({0x22}, {0x92});
  server.attach(device);
  PtyHost host(server.slavePath());
  Serving serving(server);

  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.exchange({0x11}, 1), Bytes{0x91});
  host.close();

  // Nobody holds the slave: the master reports a hang-up at once, and the
  // server must sleep rather than spin on it.
  const auto cpuSeconds = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  };
  const double cpuBefore = cpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_LT(cpuSeconds() - cpuBefore, 0.1);

  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.exchange({0x22}, 1), Bytes{0x92});
  host.close();
  EXPECT_EQ(serving.stop(), PtyServer::StopReason::Requested);
  EXPECT_EQ(device.received(), (Bytes{0x11, 0x22}));
}

TEST(PtyServer, PlacesASymlinkToTheSlaveReplacingOnlyADanglingOne) {
  const std::string link = testing::TempDir() + "kkm-pty-link-" + std::to_string(getpid());
  const std::string file = link + ".file";
  const std::string live = link + ".live";
  struct stat st {};
  const auto target = [](const std::string& path) {
    char text[256] = {};
    return readlink(path.c_str(), text, sizeof text - 1) > 0 ? std::string(text) : std::string();
  };
  {
    PtyServer other, server;
    ASSERT_EQ(symlink((link + ".gone").c_str(), link.c_str()), 0);
    ASSERT_TRUE(server.linkAt(link)) << "a dangling link is replaced";
    EXPECT_EQ(target(link), server.slavePath());

    // A link that still leads somewhere (another server's slave) is refused
    // like a file, and both are left as they were.
    ASSERT_TRUE(other.linkAt(live));
    EXPECT_FALSE(server.linkAt(live));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(target(live), other.slavePath());
    std::fclose(std::fopen(file.c_str(), "w"));
    EXPECT_FALSE(server.linkAt(file));
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "removed on exit";
  EXPECT_NE(lstat(live.c_str(), &st), 0) << "each server removes its own";
  std::remove(file.c_str());
}

}  // namespace
}  // namespace kkm::sim
