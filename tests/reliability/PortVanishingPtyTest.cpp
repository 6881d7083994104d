// The port vanishing under the tool in real time: the simulated register or
// KIA board served on a pseudo-terminal, the tool on the real POSIX back end,
// and the pseudo-terminal's master closed in the middle of a connection, a
// read or a write. The operator gets the usual error box within the waits'
// bounds, the next attempt finds no port, and once a device is served at the
// same path again the tool connects and reads as before.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "serial/Platform.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
#include "sim/pty/PtyServer.h"
#include "tests/reliability/CommandExchanges.h"
#include "tests/support/FaultTap.h"
#include "tests/support/OperationBounds.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/WindowsRig.h"

namespace kkm::test {
namespace {

using ui::Link;
using Box = RecordingMessageBoxes::Box;
using Icon = ui::MessageBoxes::Icon;
using Clock = std::chrono::steady_clock;

// The KIA link needs the PC UART's receive FIFO: the echo of a memory write
// must be queued together with its acknowledgement for the next purge. The
// processor link does without, and its register echoes at once: the address
// scan gives each candidate 10 ms, and most of that is left for the server's
// scheduling on a busy machine.
constexpr unsigned kKiaFifoTrigger = 14;
constexpr unsigned kKiaFifoTimeoutCharacters = 4;
// Real time on a shared machine, with sanitizers: generous on top of the waits.
constexpr std::uint32_t kSchedulingSlackMs = 2000;

// A device served on a pseudo-terminal from a thread of its own, with the
// slave reachable at `path`. pull() closes the master, which makes the port
// vanish for whoever holds the slave, and removes the path; it is safe from
// any thread, the serving one included.
class PtyPort {
 public:
  PtyPort(const std::string& path, Link link, sim::LineDevice& device) {
    if (pipe2(stop_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category());
    auto server = std::make_unique<sim::PtyServer>();
    if (link == Link::Kia) server->setHostReceiveFifo(kKiaFifoTrigger, kKiaFifoTimeoutCharacters);
    server->keepTrace(false);
    if (!server->linkAt(path)) throw std::system_error(errno, std::generic_category(), path);
    server->attach(device);
    server->addStopDescriptor(stop_[0]);
    thread_ = std::thread([server = std::move(server)]() mutable {
      server->run();
      server.reset();
    });
  }
  ~PtyPort() {
    pull();
    waitUntilGone();
    ::close(stop_[0]);
    ::close(stop_[1]);
  }
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  void pull() {
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_[1], &stop, 1);
  }
  void waitUntilGone() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  int stop_[2] = {-1, -1};
  std::thread thread_;
};

enum class Operation { Connect, Read, Write };

struct PtyCase {
  Link link;
  Operation operation;
};

// The frame during which the port vanishes, counted from the connection's
// first (the version query or the probe; address bytes are no frames), and
// the bound of the operation that is cut.
std::uint32_t VanishingFrame(Operation op) {
  switch (op) {
    case Operation::Connect:
      return 1;
    case Operation::Read:
      return 2;
    case Operation::Write:
      break;
  }
  return 5;  // the write's fourth exchange: the new number into non-volatile memory
}
constexpr std::size_t kWriteCutAt = 4;

std::uint32_t OperationBoundMs(Link link, Operation op) {
  switch (op) {
    case Operation::Connect:
      return link == Link::Processor ? kConnectProcessorBoundMs : kConnectKiaBoundMs;
    case Operation::Read:
      return CommandBoundMs(link, false, 1, true);
    case Operation::Write:
      break;
  }
  return CommandBoundMs(link, true, kWriteCutAt, true);
}

constexpr double kPromptEchoDelayMs = 0.2;

// The address scan gives each candidate 10 ms in real time. A machine busy
// enough to keep the server's thread waiting longer makes the scan miss the
// register, before any frame was sent: such an attempt is made again.
constexpr int kConnectAttempts = 3;

// Connects, trying again while the scan missed; true when connected.
bool ConnectPatiently(WindowsRig& rig, Link link, const FaultTap& tap, RecordingMessageBoxes& boxes) {
  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    const std::uint32_t frames = tap.frames();
    boxes.boxes.clear();
    if (rig.connect(link)) return true;
    if (tap.frames() != frames) return false;
  }
  return false;
}

sim::CashRegister PromptRegister() {
  sim::CashRegister r(1);
  sim::RegisterTiming timing = r.timing();
  timing.echoDelayMs = kPromptEchoDelayMs;
  r.setTiming(timing);
  return r;
}

class PortVanishingOnPty : public ::testing::TestWithParam<PtyCase> {
 protected:
  // COM1 is the path where the device is served.
  PortVanishingOnPty() { setenv("KKM_COM1", path_.c_str(), 1); }
  ~PortVanishingOnPty() override { unsetenv("KKM_COM1"); }

  // The device of the link, fresh for every server: a new server starts its
  // clock at zero, and the board's processor must not be ahead of it. An
  // adapter pulled and put back leaves the register powered: its data memory
  // stays as the cut left it.
  sim::LineDevice& device(Link link, bool powerCut = true) {
    auto& data = register_.dataMemory();
    const std::uint8_t working = data[sim::kWorkingNumberCell], lineAddress = data[sim::kLineAddressCell];
    register_.powerUp();
    if (!powerCut) data[sim::kWorkingNumberCell] = working, data[sim::kLineAddressCell] = lineAddress;
    if (link == Link::Processor) return register_;
    board_ = std::make_unique<sim::kia::KiaBoard>(register_.dataMemory(), register_.nonVolatile());
    return *board_;
  }

  std::string path_ = testing::TempDir() + "kkm-reliability-com1-" + std::to_string(getpid());
  std::unique_ptr<serial::Platform> platform_ = serial::MakeNativePlatform();
  sim::CashRegister register_ = PromptRegister();
  std::unique_ptr<sim::kia::KiaBoard> board_;
  RecordingMessageBoxes boxes_;
};

TEST_P(PortVanishingOnPty, TheOperationFailsInTimeAndTheToolConnectsOnceThePortIsBack) {
  const auto [link, operation] = GetParam();
  const QString linkWord = CommandLinkWord(link);
  WindowsRig rig(*platform_, boxes_);

  // 1. Served with a tap that pulls the port as the chosen frame starts.
  FaultTap tap(device(link));
  std::unique_ptr<PtyPort> port;
  FaultTap::Strike strike;
  strike.frame = VanishingFrame(operation);
  strike.swallow = true;
  strike.beforeFrame = [&port] { port->pull(); };
  tap.arm(strike);
  port = std::make_unique<PtyPort>(path_, link, tap);

  // 2. The operation, cut in the middle.
  if (operation != Operation::Connect) {
    ASSERT_TRUE(ConnectPatiently(rig, link, tap, boxes_));
  }
  rig.setNumberText("45");
  auto start = Clock::now();
  switch (operation) {
    case Operation::Connect:
      for (int attempt = 0; attempt < kConnectAttempts && tap.frames() == 0; ++attempt) {
        boxes_.boxes.clear();
        start = Clock::now();
        EXPECT_FALSE(rig.connect(link));
      }
      break;
    case Operation::Read:
      rig.read();
      break;
    case Operation::Write:
      rig.pressWrite();
      break;
  }
  const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  port->pull();  // in case the operation ended before the chosen frame
  port->waitUntilGone();
  EXPECT_EQ(tap.frames(), strike.frame)
      << "the port vanished during the chosen frame, and nothing came after";

  // 3. The usual error box and status, in no more time than the waits allow.
  if (operation == Operation::Connect) {
    const QString box = link == Link::Processor ? test::kNoRegister : test::kNoKia;
    EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{box, QStringLiteral("Ошибка"), Icon::Error}}));
    EXPECT_EQ(rig.statusText(), kNoContactDialog + (link == Link::Processor ? "ККМ" : "микроконтроллером"));
    EXPECT_FALSE(rig.commandsEnabled());
  } else {
    EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{kNoInterface + linkWord, kCommandTitle, Icon::Error}}));
    EXPECT_EQ(rig.statusText(), kNoContactCommand + linkWord);
    EXPECT_EQ(rig.commandsEnabled(), operation == Operation::Read) << "a write cut after its first exchange";
  }
  EXPECT_LE(elapsedMs, OperationBoundMs(link, operation) + kSchedulingSlackMs);

  // 4. While the port is gone, it cannot be opened.
  boxes_.boxes.clear();
  EXPECT_FALSE(rig.connect(link));
  EXPECT_EQ(boxes_.boxes,
            (std::vector<Box>{{kPortUnavailable, QStringLiteral("Предупреждение"), Icon::Warning}}));

  // 5. Back at the same path: connect and read as before.
  boxes_.boxes.clear();
  FaultTap healthy(device(link, false));
  PtyPort back(path_, link, healthy);
  ASSERT_TRUE(ConnectPatiently(rig, link, healthy, boxes_));
  // A write cut there is offered for finishing at once, and "Да" finishes it.
  const bool cutWrite = operation == Operation::Write;
  if (cutWrite) {
    ASSERT_EQ(boxes_.boxes.size(), 2u);
    EXPECT_EQ(boxes_.boxes[0].icon, Icon::Question);
    EXPECT_EQ(boxes_.boxes[1].icon, Icon::Information);
    boxes_.boxes.clear();
  }
  rig.read();
  EXPECT_TRUE(boxes_.boxes.empty());
  EXPECT_EQ(rig.statusText(), kReadDone);
  EXPECT_EQ(rig.numberText(), cutWrite ? "45" : "01");
  EXPECT_TRUE(rig.commandsEnabled());
}

std::string PtyCaseName(const PtyCase& c) {
  const char* op = c.operation == Operation::Connect ? "Connect"
                   : c.operation == Operation::Read  ? "Read"
                                                     : "Write";
  return std::string(c.link == Link::Processor ? "Processor_" : "Kia_") + op;
}

INSTANTIATE_TEST_SUITE_P(
    EachOperation, PortVanishingOnPty,
    ::testing::Values(PtyCase{Link::Processor, Operation::Connect}, PtyCase{Link::Processor, Operation::Read},
                      PtyCase{Link::Processor, Operation::Write}, PtyCase{Link::Kia, Operation::Connect},
                      PtyCase{Link::Kia, Operation::Read}, PtyCase{Link::Kia, Operation::Write}),
    [](const auto& info) { return PtyCaseName(info.param); });

}  // namespace
}  // namespace kkm::test
