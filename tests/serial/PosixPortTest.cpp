// The POSIX back end on a real pseudo-terminal: the settings as the master side
// sees them, the queue count, purges, exclusive opening and the refusal of
// anything that is not a terminal. These tests use the real clock with
// generous bounds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "serial/Failure.h"
#include "serial/PosixPort.h"
#include "serial/SerialLine.h"
#include "sim/line/VirtualLine.h"

namespace kkm::serial {
namespace {

class PseudoTerminal {
 public:
  PseudoTerminal() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
    // Only the port under test keeps the slave open.
    if (slave_ >= 0) ::close(slave_);
  }
  ~PseudoTerminal() {
    if (master_ >= 0) ::close(master_);
  }
  int master() const { return master_; }
  const std::string& path() const { return path_; }
  termios slaveSettings() const {
    termios tio{};
    tcgetattr(master_, &tio);
    return tio;
  }
  void send(const std::string& bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedEnv() { unsetenv(name_); }

 private:
  const char* name_;
};

void WaitUntilQueued(PortHandle& port, std::uint32_t count) {
  // Bytes written on the master reach the slave's queue within milliseconds.
  ASSERT_TRUE(WaitForInput(port, count, 2000));
}

TEST(PosixPort, PortNumbersMapToEnvironmentOrSerialDevices) {
  EXPECT_EQ(DevicePathFor("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DevicePathFor("COM4"), "/dev/ttyS3");
  ScopedEnv env("KKM_COM3", "/dev/pts/77");
  EXPECT_EQ(DevicePathFor("COM3"), "/dev/pts/77");
  EXPECT_EQ(DevicePathFor("LPT1"), "");
  EXPECT_EQ(DevicePathFor("COM12"), "/dev/ttyS11");
  EXPECT_EQ(DevicePathFor("COM255"), "/dev/ttyS254");
  EXPECT_EQ(DevicePathFor("/dev/ttyUSB0"), "/dev/ttyUSB0");
  for (const char* refused : {"COM0", "COM256", "COM012", "COM", "COM1x", "ttyUSB0"})
    EXPECT_EQ(DevicePathFor(refused), "") << refused;
}

TEST(PosixPort, OpensWithRawNinetySixHundredAndSwitchesMarkAndSpace) {
  PseudoTerminal pty;
  ASSERT_FALSE(pty.path().empty());
  ScopedEnv env("KKM_COM3", pty.path());
  auto platform = MakeNativePlatform();
  PortHandle port(platform->clock());
  ASSERT_TRUE(OpenComPort(*platform, 3, port));

  termios tio = pty.slaveSettings();
  EXPECT_EQ(cfgetospeed(&tio), B9600);
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(tio.c_cflag & (CMSPAR | PARODD | CSTOPB), tcflag_t(0));
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0)) << "raw mode";
  EXPECT_EQ(tio.c_iflag & (INPCK | IXON | IXOFF | ICRNL), tcflag_t(0));
  EXPECT_EQ(tio.c_oflag & OPOST, tcflag_t(0));

  SetAddressParity(port, true);
  tio = pty.slaveSettings();
  EXPECT_EQ(tio.c_cflag & (CMSPAR | PARODD), tcflag_t(CMSPAR | PARODD));
  EXPECT_EQ(cfgetospeed(&tio), B9600);
  SetAddressParity(port, false);
  tio = pty.slaveSettings();
  EXPECT_EQ(tio.c_cflag & (CMSPAR | PARODD), tcflag_t(CMSPAR));
  EXPECT_EQ(PosixPort::ParityOf(tio.c_cflag), Parity::Space);

  // Bytes written by the port arrive unchanged at the master.
  ASSERT_TRUE(port.writeByte(0x0A));
  std::uint8_t byte = 0;
  pollfd p{pty.master(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  ASSERT_EQ(::read(pty.master(), &byte, 1), 1);
  EXPECT_EQ(byte, 0x0A) << "no newline translation";
  EXPECT_TRUE(CloseComPort(port));
}

TEST(PosixPort, CountsQueuedInputWithoutConsumingAndPurgesEmptyIt) {
  PseudoTerminal pty;
  ScopedEnv env("KKM_COM2", pty.path());
  auto platform = MakeNativePlatform();
  PortHandle port(platform->clock());
  ASSERT_TRUE(OpenComPort(*platform, 2, port));
  for (std::uint32_t mask : {kPurgeClearBoth, kPurgeAbortAndClear}) {
    pty.send("\x01\x02\x03");
    WaitUntilQueued(port, 3);
    EXPECT_EQ(port.queuedInput(), 3u);
    EXPECT_EQ(port.queuedInput(), 3u);
    EXPECT_TRUE(port.purge(mask));
    EXPECT_EQ(port.queuedInput(), 0u);
  }
  pty.send("\x41\x42");
  WaitUntilQueued(port, 2);
  std::uint8_t bytes[4] = {};
  EXPECT_EQ(port.read(bytes, 4), 2) << "the read ends at the gap after the queued bytes";
  EXPECT_EQ(bytes[0], 0x41);
  EXPECT_EQ(bytes[1], 0x42);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.read(bytes, 1), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(100));
  EXPECT_LT(took, std::chrono::milliseconds(1000));
}

TEST(PosixPort, ASecondOpenOfTheSamePortFails) {
  PseudoTerminal pty;
  ScopedEnv env("KKM_COM1", pty.path());
  auto platform = MakeNativePlatform();
  PortHandle first(platform->clock());
  PortHandle second(platform->clock());
  ASSERT_TRUE(OpenComPort(*platform, 1, first));
  EXPECT_FALSE(OpenComPort(*platform, 1, second));
  EXPECT_FALSE(second.isOpen());
  EXPECT_EQ(LastFailure().name(), std::string("port-in-use"));
  EXPECT_TRUE(CloseComPort(first));
  EXPECT_TRUE(OpenComPort(*platform, 1, second));
}

TEST(PosixPort, RefusesRegularFilesAndMissingPaths) {
  char file[] = "/tmp/kkm-not-a-port-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  ::close(fd);
  auto platform = MakeNativePlatform();
  PortHandle port(platform->clock());
  {
    ScopedEnv env("KKM_COM4", file);
    EXPECT_FALSE(OpenComPort(*platform, 4, port));
    EXPECT_EQ(LastFailure().name(), std::string("not-a-terminal"));
  }
  {
    ScopedEnv env("KKM_COM4", "/nonexistent/kkm-port");
    EXPECT_FALSE(OpenComPort(*platform, 4, port));
    EXPECT_EQ(LastFailure().name(), std::string("no-such-device"));
  }
  FILE* f = std::fopen(file, "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fgetc(f), EOF) << "nothing was written into the file";
  std::fclose(f);
  std::remove(file);
}

TEST(PosixPort, ADeviceWithoutAccessIsReportedWithTheDialoutHint) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens any device";
  PseudoTerminal pty;
  ASSERT_EQ(chmod(pty.path().c_str(), 0), 0);
  ScopedEnv env("KKM_COM1", pty.path());
  auto platform = MakeNativePlatform();
  PortHandle port(platform->clock());
  EXPECT_FALSE(OpenComPort(*platform, 1, port));
  EXPECT_TRUE(LastFailure().is(LineFailure::PermissionDenied));
  EXPECT_NE(LastFailure().text().find("dialout"), std::string::npos);
}

TEST(PosixPort, APortWhoseOtherEndHangsUpHasVanished) {
  auto pty = std::make_unique<PseudoTerminal>();
  ScopedEnv env("KKM_COM1", pty->path());
  auto platform = MakeNativePlatform();
  PortHandle port(platform->clock());
  ASSERT_TRUE(OpenComPort(*platform, 1, port));
  EXPECT_FALSE(port.vanished());
  pty.reset();  // the master closes: the slave is hung up
  std::uint8_t byte = 0;
  EXPECT_EQ(port.read(&byte, 1), -1);
  EXPECT_TRUE(port.vanished());
}

TEST(PosixPort, RefusesACharacterDeviceThatIsNoTerminal) { EXPECT_EQ(OpenPosixPort("/dev/null"), nullptr); }

// Runs `sh -c 'exec 3<>PATH'` as an unprivileged user (root passes the
// exclusive flag): its exit status, 0 when the open succeeded.
int OpenAsUnprivilegedUser(const std::string& path) {
  const std::string open = "sh -c 'exec 3<>\"$0\"' '" + path + "' 2>/dev/null";
  const std::string command =
      getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " + open : open;
  return std::system(command.c_str());
}

// Closing clears the exclusive flag and restores the settings found at open,
// so that another user, or this tool run again, can open the port afterwards.
TEST(PosixPort, ClosingLeavesTheDeviceAsItWasFound) {
  if (getuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") != 0)
    GTEST_SKIP()
        << "setpriv is missing: the exclusivity check needs an unprivileged user, root passes TIOCEXCL";
  PseudoTerminal pty;
  ASSERT_EQ(chmod(pty.path().c_str(), 0666), 0);  // the unprivileged user may open it
  const termios before = pty.slaveSettings();
  auto port = OpenPosixPort(pty.path());
  ASSERT_NE(port, nullptr);
  LineSettings settings;
  ASSERT_TRUE(port->getSettings(settings));
  settings.parity = Parity::Mark;
  ASSERT_TRUE(port->setSettings(settings));
  EXPECT_NE(OpenAsUnprivilegedUser(pty.path()), 0) << "held exclusively while open";
  EXPECT_TRUE(port->close());
  EXPECT_EQ(OpenAsUnprivilegedUser(pty.path()), 0) << "free again after the close";
  const termios after = pty.slaveSettings();
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
}

// A device another process holds open is in use, under any of its names, and
// the failure names its holder; the look by device number finds it too.
TEST(PosixPort, ADeviceAnotherProcessHoldsIsInUse) {
  PseudoTerminal pty;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, pty.path().c_str(), O_RDWR | O_NOCTTY, 0);
  char sleepName[] = "sleep";
  char seconds[] = "30";
  char* argv[] = {sleepName, seconds, nullptr};
  pid_t holder = 0;
  ASSERT_EQ(posix_spawnp(&holder, "sleep", &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(OpenPosixPort(pty.path()), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "the front end says it, once";
  EXPECT_TRUE(LastFailure().is(LineFailure::PortInUse));
  EXPECT_NE(LastFailure().text().find("процесс " + std::to_string(holder) + " (sleep)"), std::string::npos)
      << LastFailure().text();
  const std::string link = ::testing::TempDir() + "/held-port-" + std::to_string(getpid());
  ASSERT_EQ(symlink(pty.path().c_str(), link.c_str()), 0);
  EXPECT_EQ(OpenPosixPort(link), nullptr) << "by a link to it";
  unlink(link.c_str());
  struct stat st {};
  ASSERT_EQ(stat(pty.path().c_str(), &st), 0);
  EXPECT_EQ(OtherHoldersOf(st.st_rdev), std::vector<std::string>{std::to_string(holder) + " (sleep)"});

  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_NE(OpenPosixPort(pty.path()), nullptr) << "free once the holder is gone";
}

// The wait after a write, on a virtual clock: over once the queue and the
// transmitter are empty; at the limit it reports what is still queued; a
// driver that cannot report ends it at once.
TEST(PosixPort, AWriteWaitsForTheOutputToDrainWithinItsLimit) {
  sim::VirtualLine line;
  Clock& clock = line.clock();
  // Three bytes leave one a millisecond; the shift register is empty 0.5 ms after the last.
  const auto draining = [&]() -> std::optional<OutputState> {
    const sim::SimTime now = line.now();
    const auto left = static_cast<std::uint32_t>(now / sim::kNsPerMs);
    return OutputState{left >= 3 ? 0 : 3 - left, now >= 3 * sim::kNsPerMs + sim::kNsPerMs / 2};
  };
  EXPECT_EQ(AwaitOutputDrained(draining, clock, 100), 0u);
  EXPECT_GE(line.now(), 3 * sim::kNsPerMs + sim::kNsPerMs / 2);
  EXPECT_LT(line.now(), 4 * sim::kNsPerMs);

  sim::VirtualLine slow;
  const auto stuck = []() -> std::optional<OutputState> { return OutputState{2, false}; };
  EXPECT_EQ(AwaitOutputDrained(stuck, slow.clock(), 5), 2u);
  EXPECT_EQ(slow.clock().tickMs(), 6u) << "the first tick past the limit";
  const auto lastByteInShiftRegister = []() -> std::optional<OutputState> { return OutputState{0, false}; };
  EXPECT_EQ(AwaitOutputDrained(lastByteInShiftRegister, slow.clock(), 5), 1u);

  sim::VirtualLine mute;
  EXPECT_EQ(AwaitOutputDrained([] { return std::optional<OutputState>{}; }, mute.clock(), 100), 0u);
  EXPECT_EQ(mute.now(), 0u);
}

// A write on a pseudo-terminal has drained once it returns, though the other
// end may not have read it yet: the purge before the next exchange must not
// take those bytes away (a slow simulator would miss a whole candidate).
TEST(PosixPort, APurgeAfterADrainedWriteLeavesTheBytesToTheOtherEnd) {
  PseudoTerminal pty;
  // Opened before the port under test makes the slave exclusive.
  const int stalledFds[] = {::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK),
                            ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)};
  auto port = OpenPosixPort(pty.path());
  ASSERT_NE(port, nullptr);
  const std::uint8_t sent[] = {0xFF, 0xFE, 0xFD};
  ASSERT_EQ(port->write(sent, 3), 3);
  EXPECT_FALSE(static_cast<PosixPort&>(*port).outputMayBePending()) << "a drained write leaves nothing";
  EXPECT_TRUE(port->purge(kPurgeClearBoth));
  std::uint8_t got[8] = {};
  pollfd p{pty.master(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  ASSERT_EQ(::read(pty.master(), got, sizeof got), 3);
  EXPECT_EQ(got[0], 0xFF);
  EXPECT_EQ(got[2], 0xFD);

  // Bytes the driver still holds when a write ends (a stalled UART), or a
  // driver that cannot tell, leave the output pending until a purge takes it.
  const PosixPort::OutputProbe probes[] = {[](int) -> std::optional<OutputState> {
                                             return OutputState{3, false};
                                           },
                                           [](int) -> std::optional<OutputState> { return std::nullopt; }};
  for (int i = 0; i < 2; ++i) {
    PosixPort stalled(stalledFds[i], nullptr, probes[i]);
    stalled.write(sent, 3);
    EXPECT_TRUE(stalled.outputMayBePending()) << i;
    EXPECT_TRUE(stalled.purge(kPurgeClearBoth));
    EXPECT_FALSE(stalled.outputMayBePending()) << i;
  }
}

// The real clock, counting how often a wait lets time pass on it.
class CountingClock : public Clock {
 public:
  explicit CountingClock(Clock& inner) : inner_(inner) {}
  std::uint32_t tickMs() override { return inner_.tickMs(); }
  void letTimePass() override {
    ++sleeps;
    inner_.letTimePass();
  }
  void letTimePassUntil(std::uint32_t tick) override {
    ++sleeps;
    inner_.letTimePassUntil(tick);
  }
  int sleeps = 0;

 private:
  Clock& inner_;
};

// A wait whose end is known sleeps once on the real clock, and still ends at
// the first tick past its limit, never before it.
TEST(PosixPort, TimedWaitsSleepOnceAndEndPastTheirLimit) {
  auto platform = MakeNativePlatform();
  CountingClock clock(platform->clock());
  for (const bool pause : {false, true}) {
    SCOPED_TRACE(pause ? "PauseMs(20)" : "DelayMs(20)");
    clock.sleeps = 0;
    const std::uint32_t start = clock.tickMs();
    pause ? PauseMs(clock, 20) : DelayMs(clock, 20);
    EXPECT_GT(ElapsedMs(start, clock.tickMs()), pause ? 21u : 20u);
    // A signal may wake the sleep early once; a sleep per tick would be 20 or more.
    EXPECT_LE(clock.sleeps, 2);
  }
  const std::uint32_t target = platform->clock().tickMs() + 15;
  platform->clock().letTimePassUntil(target);
  EXPECT_LE(ElapsedMs(target, platform->clock().tickMs()), 1000u) << "not before the tick it sleeps to";
}

// WaitForInput on a pseudo-terminal waits on the port, not on the clock: for
// the first byte, for the rest of an answer part of which is queued, and
// after a wait for more bytes than came (which must not leave the port
// deaf to fewer). Bytes come from a thread some milliseconds into the wait.
TEST(PosixPort, WaitForInputWaitsOnThePortUntilTheWholeCountIsQueued) {
  PseudoTerminal pty;
  ScopedEnv env("KKM_COM2", pty.path());
  auto platform = MakeNativePlatform();
  CountingClock clock(platform->clock());
  PortHandle port(clock);
  ASSERT_TRUE(OpenComPort(*platform, 2, port));

  // Nothing comes: the wait runs to its limit without a sleep on the clock.
  const std::uint32_t start = clock.tickMs();
  EXPECT_FALSE(WaitForInput(port, 3, 20));
  EXPECT_GT(ElapsedMs(start, clock.tickMs()), 20u);
  EXPECT_EQ(clock.sleeps, 0);

  struct Case {
    const char* queuedFirst;  // in the queue when the wait begins
    const char* later;        // written 5 ms into the wait
    std::uint32_t count;
  };
  for (const Case& c : {Case{"", "\x01", 1}, Case{"\x01", "\x02", 2}, Case{"\x01\x02", "\x03\x04", 4}}) {
    const std::string first = c.queuedFirst;
    SCOPED_TRACE(first.size());
    clock.sleeps = 0;
    if (!first.empty()) {
      pty.send(first);
      WaitUntilQueued(port, static_cast<std::uint32_t>(first.size()));
    }
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      pty.send(c.later);
    });
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitForInput(port, c.count, 5000));
    const auto took = std::chrono::steady_clock::now() - begun;
    writer.join();
    EXPECT_EQ(port.queuedInput(), c.count);
    EXPECT_EQ(clock.sleeps, 0) << "woken by the bytes, not by the ticks";
    EXPECT_GE(took, std::chrono::milliseconds(4));
    EXPECT_TRUE(port.purge(kPurgeClearBoth));
  }
  EXPECT_TRUE(CloseComPort(port));
}

}  // namespace
}  // namespace kkm::serial
