// The KIA board on the virtual line: the host writes the four code frames,
// the board's 8051 runs its monitor and the frames' routines, and the trace
// shows what came back, with parity and times.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#include "kia/KiaFrameImages.h"
#include "kia/KiaFrames.h"
#include "sim/kia/KiaBoard.h"
#include "sim/kia/Monitor.h"
#include "sim/line/VirtualLine.h"

namespace kkm::sim::kia {
namespace {

using kkm::kia::BuildEepromReadFrame;
using kkm::kia::BuildEepromWriteFrame;
using kkm::kia::BuildMemoryReadFrame;
using kkm::kia::BuildMemoryWriteFrame;
using Frame = std::vector<std::uint8_t>;

constexpr std::uint8_t kAck = 0x01;
constexpr std::uint8_t kDataMarker = 0x11;
constexpr SimTime kMemoryFrameAckLimit = 50 * kNsPerMs;
constexpr SimTime kEepromDataLimit = 1500 * kNsPerMs;
constexpr SimTime kMinimumIdleGap = 3 * CharacterTime(Parity::None);

void FixChecksum(Frame& frame) {
  frame.back() = kkm::kia::KiaChecksum(std::span(frame).first(frame.size() - 1));
}

std::vector<std::uint8_t> Bytes(const std::vector<TraceEntry>& entries) {
  std::vector<std::uint8_t> bytes;
  for (const TraceEntry& entry : entries) bytes.push_back(entry.byte);
  return bytes;
}

class KiaBoardTest : public ::testing::Test {
 protected:
  KiaBoardTest() {
    std::iota(nonVolatile.begin(), nonVolatile.end(), std::uint8_t{0x3C});
    for (std::size_t i = 0; i < dataMemory.size(); ++i) dataMemory[i] = static_cast<std::uint8_t>(i * 7);
    line.attach(board);
    port = line.openPort();
    serial::LineSettings settings;
    port->getSettings(settings);
    settings.baudRate = 9600;
    settings.byteSize = 8;
    settings.parity = Parity::None;
    port->setSettings(settings);
  }

  // Writes `frame` in one go, lets the line run for `duration` and returns
  // what the board sent meanwhile.
  std::vector<TraceEntry> exchange(const Frame& frame, SimTime duration = 300 * kNsPerMs) {
    line.clearTrace();
    port->write(frame.data(), static_cast<std::uint32_t>(frame.size()));
    line.advanceBy(duration);
    const auto sent = line.traceOf(Direction::HostToDevice);
    frameEnd = sent.empty() ? 0 : sent.back().end;
    return line.traceOf(Direction::DeviceToHost);
  }

  std::array<std::uint8_t, kDataMemorySize> dataMemory{};
  std::array<std::uint8_t, kNonVolatileSize> nonVolatile{};
  KiaBoard board{dataMemory, nonVolatile};
  VirtualLine line;
  std::unique_ptr<serial::SerialPort> port;
  SimTime frameEnd = 0;
};

// Every reply byte is 8N1, and each starts only after the one before has left.
void ExpectBackToBackCharacters(const std::vector<TraceEntry>& replies) {
  for (std::size_t i = 0; i < replies.size(); ++i) {
    EXPECT_EQ(replies[i].parity, Parity::None) << "reply " << i;
    EXPECT_EQ(replies[i].end - replies[i].start, CharacterTime(Parity::None)) << "reply " << i;
    if (i > 0) {
      EXPECT_GE(replies[i].start, replies[i - 1].end) << "reply " << i;
    }
  }
}

TEST_F(KiaBoardTest, MemoryReadFrameAnswersTheAcknowledgementThenTheByte) {
  dataMemory[0x1140] = 0x5A;
  const auto replies = exchange(BuildMemoryReadFrame(0x1140));
  ASSERT_EQ(Bytes(replies), (std::vector<std::uint8_t>{kAck, 0x5A}));
  ExpectBackToBackCharacters(replies);
  // The monitor answers once the line has been idle for its gap, well
  // within the host's wait; the routine then sends as soon as TI is set.
  EXPECT_GE(replies[0].start, frameEnd + kMinimumIdleGap);
  EXPECT_LE(replies[0].end, frameEnd + kMemoryFrameAckLimit);
  EXPECT_LT(replies[1].start - replies[0].end, 500 * kNsPerUs);
}

TEST_F(KiaBoardTest, MemoryWriteFrameStoresTheValueAndEchoesIt) {
  auto expected = dataMemory;
  expected[0x020F] = 0xBA;
  const auto replies = exchange(BuildMemoryWriteFrame(0x020F, 0xBA));
  EXPECT_EQ(Bytes(replies), (std::vector<std::uint8_t>{kAck, 0xBA}));
  ExpectBackToBackCharacters(replies);
  EXPECT_LE(replies.at(0).end, frameEnd + kMemoryFrameAckLimit);
  EXPECT_EQ(dataMemory, expected);
}

TEST_F(KiaBoardTest, EepromReadFrameStreams64BytesFromTheAddress) {
  const auto replies = exchange(BuildEepromReadFrame(0x0740));
  std::vector<std::uint8_t> expected{kAck, kDataMarker};
  expected.insert(expected.end(), nonVolatile.begin() + 0x0740, nonVolatile.begin() + 0x0740 + 64);
  ASSERT_EQ(Bytes(replies), expected);
  ExpectBackToBackCharacters(replies);
  EXPECT_LE(replies[0].end, frameEnd + 400 * kNsPerMs);
  EXPECT_LE(replies.back().end, replies[1].end + kEepromDataLimit);
}

TEST_F(KiaBoardTest, EepromReadWrapsAtTheEndOfTheNonVolatileMemory) {
  const auto replies = exchange(BuildEepromReadFrame(0x1FF0));
  ASSERT_EQ(replies.size(), 66u);
  EXPECT_EQ(replies[2].byte, nonVolatile[0x1FF0]);
  EXPECT_EQ(replies[17].byte, nonVolatile[0x1FFF]);
  EXPECT_EQ(replies[18].byte, nonVolatile[0x0000]);
}

TEST_F(KiaBoardTest, EepromWriteFrameChangesExactlyOneByte) {
  auto expected = nonVolatile;
  expected[0x073E] = 0xBA;
  const auto replies = exchange(BuildEepromWriteFrame(0x073E, 0xBA));
  // The acknowledgement, the marker, and the byte the monitor's code at 0x005
  // sends when the routine jumps there.
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].byte, kAck);
  EXPECT_EQ(replies[1].byte, kDataMarker);
  ExpectBackToBackCharacters(replies);
  EXPECT_LE(replies[2].end, replies[1].end + 500 * kNsPerMs);
  EXPECT_EQ(nonVolatile, expected);
}

// With the original routine's count of 0x40, the value goes on the
// bus 64 times in one page write: the EEPROM wraps inside the 32-byte page,
// so the whole page around the address takes the value. The checksum byte at
// 0x0740 lies in the next page and stays as it was.
TEST_F(KiaBoardTest, EepromWriteWithTheOriginalCountOverwritesTheWholePage) {
  Frame frame = BuildEepromWriteFrame(0x073E, 0xBA);
  ASSERT_EQ(frame[kkm::kia::kEepromWriteCountOffset], kkm::kia::kEepromWriteByteCount);
  frame[kkm::kia::kEepromWriteCountOffset] = kkm::kia::kEepromWriteOriginalCount;
  FixChecksum(frame);
  auto expected = nonVolatile;
  std::fill(expected.begin() + 0x0720, expected.begin() + 0x0740, std::uint8_t{0xBA});
  const auto replies = exchange(frame);
  EXPECT_EQ(replies.size(), 3u);
  EXPECT_EQ(nonVolatile, expected);
}

TEST_F(KiaBoardTest, BusFaultsAreReportedWithTheirCodes) {
  struct Case {
    const char* fault;
    std::function<void(KiaBoard&, bool)> inject;
    Frame frame;
    std::uint8_t code;
  };
  const Case cases[] = {
      {"data line held low", [](KiaBoard& b, bool on) { b.holdDataLow(on); }, BuildEepromReadFrame(0x0740),
       0x01},
      {"clock line held low", [](KiaBoard& b, bool on) { b.holdClockLow(on); }, BuildEepromReadFrame(0x0740),
       0x02},
      {"0x51 missing", [](KiaBoard& b, bool on) { b.setDevicePresent(kReadBusAddress, !on); },
       BuildEepromReadFrame(0x0740), 0x03},
      {"0x53 missing", [](KiaBoard& b, bool on) { b.setDevicePresent(kWriteBusAddress, !on); },
       BuildEepromWriteFrame(0x073E, 0x00), 0x03},
  };
  const auto untouched = nonVolatile;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    c.inject(board, true);
    EXPECT_EQ(Bytes(exchange(c.frame)), (std::vector<std::uint8_t>{kAck, c.code}));
    EXPECT_EQ(nonVolatile, untouched);
    c.inject(board, false);
  }
  // With the faults gone the bus works again.
  EXPECT_EQ(exchange(BuildEepromReadFrame(0x0740)).size(), 66u);
}

TEST_F(KiaBoardTest, EepromNotAcknowledgingDuringItsWriteCycleIsANoAnswer) {
  board.setWriteCycleTime(2000 * kNsPerMs);
  exchange(BuildEepromWriteFrame(0x0100, 0x42));
  EXPECT_EQ(nonVolatile[0x0100], 0x42);
  EXPECT_EQ(Bytes(exchange(BuildEepromWriteFrame(0x0101, 0x43))), (std::vector<std::uint8_t>{kAck, 0x03}));
  EXPECT_EQ(nonVolatile[0x0101], static_cast<std::uint8_t>(0x3C + 0x0101));
}

TEST_F(KiaBoardTest, FramesTheMonitorCannotTakeGetNoAnswer) {
  Frame badChecksum = BuildMemoryWriteFrame(0x0300, 0x99);
  badChecksum.back() ^= 0x01;
  Frame badLeadIn = BuildMemoryWriteFrame(0x0300, 0x99);
  badLeadIn[1] = 0x02;
  FixChecksum(badLeadIn);
  Frame tooShort{0x00, 0x01, 0x00, 0x00, 0x01};
  Frame tooLong(kMaxFrameLength + 1, 0x00);  // lead-in, NOPs, RET, two zeros, checksum
  tooLong[1] = 0x01;
  tooLong[tooLong.size() - 4] = 0x22;
  FixChecksum(tooLong);
  const auto before = dataMemory;
  for (const Frame* frame : {&badChecksum, &badLeadIn, &tooShort, &tooLong}) {
    SCOPED_TRACE(frame->size());
    EXPECT_TRUE(exchange(*frame).empty());
  }
  EXPECT_EQ(dataMemory, before);
  // The monitor is still listening, and takes the longest frame it can hold.
  Frame longest(kMaxFrameLength, 0x00);
  longest[1] = 0x01;
  longest[longest.size() - 4] = 0x22;
  FixChecksum(longest);
  EXPECT_EQ(Bytes(exchange(longest)), (std::vector<std::uint8_t>{kAck}));
  EXPECT_EQ(Bytes(exchange(BuildMemoryReadFrame(0x0300))),
            (std::vector<std::uint8_t>{kAck, dataMemory[0x0300]}));
}

TEST_F(KiaBoardTest, APauseLongerThanTheIdleGapSplitsAFrame) {
  const Frame frame = BuildMemoryReadFrame(0x0010);
  const auto sendWithPause = [&] {
    line.clearTrace();
    port->write(frame.data(), 10);
    line.advanceBy(10 * CharacterTime(Parity::None) + 5 * kNsPerMs);
    port->write(frame.data() + 10, static_cast<std::uint32_t>(frame.size() - 10));
    line.advanceBy(300 * kNsPerMs);
    frameEnd = line.traceOf(Direction::HostToDevice).back().end;
    return line.traceOf(Direction::DeviceToHost);
  };
  EXPECT_TRUE(sendWithPause().empty());  // the default gap is about 3 ms
  board.setIdleGap(20 * kNsPerMs);
  const auto replies = sendWithPause();
  EXPECT_EQ(Bytes(replies), (std::vector<std::uint8_t>{kAck, dataMemory[0x0010]}));
  EXPECT_GE(replies.at(0).start, frameEnd + 20 * kNsPerMs);
}

TEST(KiaBoardConstruction, RejectsMemoriesOfTheWrongSize) {
  std::vector<std::uint8_t> data(kDataMemorySize), small(1024), eeprom(kNonVolatileSize);
  EXPECT_THROW((KiaBoard(small, eeprom)), std::invalid_argument);
  EXPECT_THROW((KiaBoard(data, small)), std::invalid_argument);
}

}  // namespace
}  // namespace kkm::sim::kia
