// The operator's road through the real POSIX back end, in real time: kkm-sim
// serves a register (or a KIA board wired to one) on a pseudo-terminal, COM1
// is pointed at it, and the connection procedure, a read, a write of 45 and a
// read back run as the windows run them. Afterwards the simulator's trace
// shows every byte as the device saw it, with its parity, and its memory dump
// shows where the new number landed. The binary links the tests' state
// folder (tests/support/StateHome.h): XDG_STATE_HOME points at a temporary
// folder before main(), so no write record reaches the operator's own.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "kia/KiaFrames.h"
#include "serial/Platform.h"
#include "serial/SerialLine.h"
#include "service/Connection.h"
#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "tests/support/Facts.h"
#include "tests/support/KeptFolder.h"
#include "tests/support/SimChild.h"
#include "tests/support/StateHome.h"

namespace kkm::service {
// Test names and messages say which link.
void PrintTo(Link link, std::ostream* os) {
  *os << (link == Link::Processor ? "processor link" : "KIA link");
}
}  // namespace kkm::service

namespace kkm::e2e {
namespace {

using namespace test;  // the simulator launcher, its files, the register's addresses
using Bytes = std::vector<std::uint8_t>;
using service::ConnectOutcome;
using service::Link;

// The state folder is the test's own, never the operator's.
TEST(NativeRoadStateFolder, IsTheTestsOwn) {
  const char* folder = std::getenv("XDG_STATE_HOME");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(std::string(folder), StateHome());
}

constexpr double kPauseAfterReadMs = 200.0;

constexpr std::uint8_t kNumberOneByte = 0xFE;
constexpr std::uint8_t kNumberFortyFiveByte = 0xBA;
// A fresh simulated register's checksum block holds only the number byte, so
// its checksum starts equal to it.
constexpr std::uint8_t kChecksumBefore = kNumberOneByte;
constexpr auto kChecksumAfter =
    static_cast<std::uint8_t>(kChecksumBefore - kNumberOneByte + kNumberFortyFiveByte);

constexpr std::uint16_t kWorkingCopy = test::kWorkingNumberAddress;
constexpr std::uint16_t kLineAddressCopy = test::kLineAddressAddress;
constexpr std::uint16_t kStoredNumber = test::kStoredNumberAddress;
constexpr std::uint16_t kStoredChecksum = test::kStoredChecksumAddress;

// A register with network number 1 on `link`. On the processor link the PC's
// UART hands each byte over at once: behind a 14-byte FIFO trigger an echo
// waits four character times and reaches the host about 8.5 ms after its
// address byte, too close to the address scan's 10 ms wait for a machine that
// is busy with other work. The KIA link needs the FIFO (a memory write's echo
// must be queued before the next frame's purge) and has longer waits.
std::vector<std::string> SimArguments(Link link) {
  if (link == Link::Processor) return {"--link", "cpu", "--number", "1", "--uart-fifo", "0"};
  return {"--link", "kia", "--number", "1"};
}

// ---- The exchanges as the device sees them --------------------------------

// One exchange: on the processor link the address byte (MARK) and its echo,
// then the frame (SPACE); on the KIA link the frame alone (no parity). Then
// the device's answer: in full on the processor link; on the KIA link only
// how it begins (acknowledgement, marker, value), the routine's further bytes
// being the board's business.
struct Exchange {
  std::optional<std::uint8_t> address;
  Bytes frame;
  Bytes answer;
  bool afterPause = false;  // the host paused 200 ms after the exchange before
};

// A run of bytes that one side sent while the other was silent.
struct Turn {
  bool fromHost = false;
  std::vector<TraceLine> lines;
};

std::vector<Turn> SplitIntoTurns(const std::vector<TraceLine>& trace) {
  std::vector<Turn> turns;
  for (const TraceLine& line : trace) {
    if (turns.empty() || turns.back().fromHost != line.fromHost) turns.push_back({line.fromHost, {}});
    turns.back().lines.push_back(line);
  }
  return turns;
}

// "host FF/mark FE/mark" or "dev FE 01": host bytes with the parity they
// crossed with; device bytes without (the host takes them whatever it is).
std::string Describe(bool fromHost, const std::vector<std::pair<std::uint8_t, std::string>>& bytes) {
  std::string text = fromHost ? "host" : "dev";
  char hex[4];
  for (const auto& [byte, parity] : bytes) {
    std::snprintf(hex, sizeof hex, " %02X", byte);
    text += hex;
    if (fromHost) text += "/" + parity;
  }
  return text;
}

std::string Describe(bool fromHost, const Bytes& bytes, const std::string& parity) {
  std::vector<std::pair<std::uint8_t, std::string>> withParity;
  for (std::uint8_t byte : bytes) withParity.emplace_back(byte, parity);
  return Describe(fromHost, withParity);
}

constexpr std::size_t kWholeTurn = SIZE_MAX;

// The first `count` bytes of a turn (all when it is shorter).
std::string Describe(const Turn& turn, std::size_t count) {
  std::vector<std::pair<std::uint8_t, std::string>> bytes;
  for (std::size_t i = 0; i < turn.lines.size() && i < count; ++i)
    bytes.emplace_back(turn.lines[i].byte, turn.lines[i].parity);
  return Describe(turn.fromHost, bytes);
}

// Compares the traced turns with `opening` and then `exchanges`, up to the
// first turn that differs. Whole turns are compared, except the KIA answers,
// which only have to begin as expected. Where an exchange follows a pause,
// its first byte ends at least 200 ms after the device's last byte before it.
void ExpectTurns(const std::vector<Turn>& turns, const std::vector<std::string>& opening,
                 const std::vector<Exchange>& exchanges, Link link) {
  // 1. The expected turns, each with how much of the traced turn it covers.
  const std::string frameParity = link == Link::Processor ? "space" : "none";
  const bool wholeAnswers = link == Link::Processor;
  std::vector<std::pair<std::string, std::size_t>> expected;
  for (const std::string& turn : opening) expected.emplace_back(turn, kWholeTurn);
  std::vector<std::size_t> pausedTurns;
  for (const Exchange& exchange : exchanges) {
    if (exchange.afterPause) pausedTurns.push_back(expected.size());
    if (exchange.address) {
      expected.emplace_back(Describe(true, Bytes{*exchange.address}, "mark"), kWholeTurn);
      expected.emplace_back(Describe(false, Bytes{*exchange.address}, ""), kWholeTurn);
    }
    expected.emplace_back(Describe(true, exchange.frame, frameParity), kWholeTurn);
    expected.emplace_back(Describe(false, exchange.answer, ""),
                          wholeAnswers ? kWholeTurn : exchange.answer.size());
  }

  // 2. Turn by turn, up to the first difference.
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_LT(i, turns.size()) << "the trace ends before turn " << i << ": " << expected[i].first;
    ASSERT_EQ(Describe(turns[i], expected[i].second), expected[i].first) << "turn " << i;
  }
  EXPECT_EQ(turns.size(), expected.size()) << "nothing else crossed the line";

  // 3. The pauses after the non-volatile reads.
  for (std::size_t i : pausedTurns)
    EXPECT_GE(turns[i].lines.front().endMs - turns[i - 1].lines.back().endMs, kPauseAfterReadMs)
        << "turn " << i << " came without the pause before it";
}

// ---- The road ---------------------------------------------------------------

// A folder for the simulator's trace and dump, kept when the test fails.
class NativeLine : public test::KeptFolderTest {
 protected:
  NativeLine() : KeptFolderTest("kkm-e2e-") {}
  void TearDown() override {
    unsetenv("KKM_COM1");
    KeptFolderTest::TearDown();
  }
};

class NativeRoad : public NativeLine, public ::testing::WithParamInterface<Link> {};

TEST_P(NativeRoad, ConnectReadWriteFortyFiveAndReadBack) {
  const Link link = GetParam();
  const bool processor = link == Link::Processor;

  // 1. The simulated register (number 1) on a pseudo-terminal; COM1 is its slave.
  RecordedSim sim(KKM_SIM_PATH, SimArguments(link), file("trace.txt"), file("cells.txt"));
  const std::string slave = sim.slavePath(kSimStartTimeout);
  ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";
  setenv("KKM_COM1", slave.c_str(), 1);

  // 2. Connect through the machine's own serial back end.
  const std::unique_ptr<serial::Platform> platform = serial::MakeNativePlatform();
  service::Session state(*platform, "kkm-netnum");
  ASSERT_EQ(service::Connect(state, 1, link).outcome, ConnectOutcome::Connected);
  EXPECT_TRUE(state.port.isOpen());
  EXPECT_EQ(state.firmwareVersion, 105);
  EXPECT_EQ(state.registerAddress, processor ? kNumberOneByte : 0xFF) << "only the address scan sets it";

  // 3. Read: number 1.
  const service::ReadResult first = service::ReadNetworkNumber(state, link);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(service::NetworkNumberText(first.networkNumberByte), "01");

  // 4. Write 45: all six exchanges; the register is addressed anew.
  EXPECT_TRUE(service::WriteNetworkNumber(state, link, 45).written());
  EXPECT_EQ(state.registerAddress, kNumberFortyFiveByte);

  // 5. Read back.
  const service::ReadResult back = service::ReadNetworkNumber(state, link);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(service::NetworkNumberText(back.networkNumberByte), "45");

  // 6. The end of the program closes the port; the simulator leaves its dump.
  serial::CloseComPort(state.port);
  ASSERT_EQ(sim.stop(kSimStopTimeout), 0);

  // 7. The register's memories: 45 in the three places, the checksum moved with it.
  EXPECT_EQ(ReadMemoryDump(sim.dumpPath()),
            (std::map<std::uint16_t, std::uint8_t>{{kWorkingCopy, kNumberFortyFiveByte},
                                                   {kLineAddressCopy, kNumberFortyFiveByte},
                                                   {kStoredNumber, kNumberFortyFiveByte},
                                                   {kStoredChecksum, kChecksumAfter}}));

  // 8. Every byte as the device saw it.
  const std::vector<TraceLine> trace = ReadTrace(sim.tracePath());
  ASSERT_FALSE(trace.empty());
  const std::vector<Turn> turns = SplitIntoTurns(trace);
  if (processor) {
    // Candidates 0xFF (unanswered) and 0xFE (echoed), then each exchange: the
    // address byte and its echo, the frame and its acknowledgement (the
    // frame's checksum) with the reply. From the write on, the register
    // answers to 0xBA.
    const std::vector<std::string> scan{"host FF/mark FE/mark", "dev FE"};
    const Bytes noReply;
    const auto ack = [](const Bytes& frame, Bytes reply) {
      reply.insert(reply.begin(), frame.back());
      return reply;
    };
    const Bytes version{0x01, 0x14, 0xEA};
    const Bytes readWorking{0x04, 0x06, 0x40, 0x11, 0x01, 0xA3};
    const Bytes writeWorking{0x05, 0x05, 0x40, 0x11, 0x01, 0xBA, 0xE9};
    const Bytes readChecksum{0x04, 0x16, 0x40, 0x07, 0x01, 0x9D};
    const Bytes readStored{0x04, 0x16, 0x3E, 0x07, 0x01, 0x9F};
    const Bytes writeStored{0x05, 0x17, 0x3E, 0x07, 0x01, 0xBA, 0xE3};
    const Bytes writeChecksum{0x05, 0x17, 0x40, 0x07, 0x01, 0xBA, 0xE1};
    static_assert(kChecksumAfter == 0xBA, "writeChecksum carries the new checksum");
    const Bytes writeLineAddress{0x05, 0x05, 0x0F, 0x02, 0x01, 0xBA, 0x29};
    ExpectTurns(
        turns, scan,
        {
            {0xFE, version, ack(version, {0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00, 0x00, 0xF0})},
            {0xFE, readWorking, ack(readWorking, {0x01, 0xFE, 0x00})},
            {0xFE, writeWorking, ack(writeWorking, noReply)},
            {0xFE, readChecksum, ack(readChecksum, {0x01, kChecksumBefore, 0x00})},
            {0xFE, readStored, ack(readStored, {0x01, 0xFE, 0x00}), true},
            {0xFE, writeStored, ack(writeStored, noReply), true},
            {0xFE, writeChecksum, ack(writeChecksum, noReply)},
            {0xFE, writeLineAddress, ack(writeLineAddress, noReply)},
            {0xBA, readWorking, ack(readWorking, {0x01, 0xBA, 0x44})},
        },
        link);
  } else {
    // Nine routines, each acknowledged with 0x01; the reads answer with the
    // byte (the EEPROM reads after the data marker 0x11). The host sends
    // without parity (device bytes carry none in the trace).
    constexpr std::uint8_t kAck = 0x01, kMarker = 0x11;
    ExpectTurns(turns, {},
                {
                    {{}, kia::BuildMemoryReadFrame(0x0000), {kAck}},  // the probe: no map loaded yet
                    {{}, kia::BuildMemoryReadFrame(kWorkingCopy), {kAck, 0xFE}},
                    {{}, kia::BuildMemoryWriteFrame(kWorkingCopy, 0xBA), {kAck}},
                    {{}, kia::BuildEepromReadFrame(kStoredChecksum), {kAck, kMarker, kChecksumBefore}},
                    {{}, kia::BuildEepromReadFrame(kStoredNumber), {kAck, kMarker, 0xFE}, true},
                    {{}, kia::BuildEepromWriteFrame(kStoredNumber, 0xBA), {kAck, kMarker}, true},
                    {{}, kia::BuildEepromWriteFrame(kStoredChecksum, kChecksumAfter), {kAck, kMarker}},
                    {{}, kia::BuildMemoryWriteFrame(kLineAddressCopy, 0xBA), {kAck}},
                    {{}, kia::BuildMemoryReadFrame(kWorkingCopy), {kAck, 0xBA}},
                },
                link);
    for (const TraceLine& line : trace)
      ASSERT_EQ(line.parity, line.fromHost ? "none" : "") << (line.fromHost ? "host" : "device") << " byte "
                                                          << int(line.byte) << " at " << line.endMs << " ms";
  }
}

INSTANTIATE_TEST_SUITE_P(BothLinks, NativeRoad, ::testing::Values(Link::Processor, Link::Kia),
                         [](const auto& info) { return info.param == Link::Processor ? "Cpu" : "Kia"; });

TEST_F(NativeLine, APortHeldByAnotherProgramIsUnavailableUntilItIsClosed) {
  RecordedSim sim(KKM_SIM_PATH, SimArguments(Link::Processor), file("trace.txt"), file("cells.txt"));
  const std::string slave = sim.slavePath(kSimStartTimeout);
  ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";
  setenv("KKM_COM1", slave.c_str(), 1);

  // Another program holds COM1.
  const std::unique_ptr<serial::Platform> otherPlatform = serial::MakeNativePlatform();
  serial::PortHandle other(otherPlatform->clock());
  ASSERT_TRUE(serial::OpenComPort(*otherPlatform, 1, other));

  const std::unique_ptr<serial::Platform> platform = serial::MakeNativePlatform();
  service::Session state(*platform, "kkm-netnum");
  EXPECT_EQ(service::Connect(state, 1, Link::Processor).outcome, ConnectOutcome::PortUnavailable);
  EXPECT_FALSE(state.port.isOpen());
  EXPECT_TRUE(ReadTrace(sim.tracePath()).empty()) << "nothing was sent";

  // Once it lets go, the register answers.
  serial::CloseComPort(other);
  EXPECT_EQ(service::Connect(state, 1, Link::Processor).outcome, ConnectOutcome::Connected);
  EXPECT_EQ(state.registerAddress, kNumberOneByte);
  serial::CloseComPort(state.port);
  EXPECT_EQ(sim.stop(kSimStopTimeout), 0);
}

}  // namespace
}  // namespace kkm::e2e
