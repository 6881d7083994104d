// The serial line's operations on the virtual line: settings applied on open,
// the parity switch, the waits and the read time-outs, all in virtual time.

#include <gtest/gtest.h>

#include "serial/SerialLine.h"
#include "sim/line/ScriptedDevice.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"

namespace kkm::serial {
namespace {

using sim::kNsPerMs;
using sim::ScriptedDevice;
using sim::VirtualLine;
using sim::VirtualPlatform;

struct Bench {
  explicit Bench(std::uint32_t startTick = 0) : line(startTick), platform(line), port(platform.clock()) {
    platform.addPort("COM3", line);
    line.attach(device);
  }
  VirtualLine line;
  VirtualPlatform platform;
  ScriptedDevice device;
  PortHandle port;
};

TEST(OpenComPort, AppliesTheFixedLineSettingsOnTheNamedPort) {
  Bench b;
  EXPECT_EQ(ComPortName(3), "COM3");
  EXPECT_FALSE(OpenComPort(b.platform, 1, b.port)) << "COM1 does not exist here";
  EXPECT_FALSE(b.port.isOpen());
  EXPECT_FALSE(CloseComPort(b.port));

  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  const LineSettings& s = b.line.hostSettings();
  EXPECT_EQ(s.baudRate, 9600u);
  EXPECT_EQ(s.byteSize, 8);
  EXPECT_EQ(s.parity, Parity::None);
  EXPECT_EQ(s.stopBits, 0);
  EXPECT_EQ(s.xonLim, 1);
  EXPECT_EQ(s.xoffLim, 1);
  EXPECT_EQ(s.flags, 0x2081u);
  EXPECT_EQ(b.line.hostTimeouts(), (Timeouts{1, 20, 100, 1, 100}));
  EXPECT_FALSE(b.line.dtr());
  EXPECT_TRUE(b.line.rts());
  EXPECT_EQ(b.line.inputBufferSize(), 1024u);
  EXPECT_EQ(b.port.queuedInput(), 0u);
}

TEST(OpenComPort, SecondOpenOfTheSamePortFailsAndCloseReleasesIt) {
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  PortHandle other(b.platform.clock());
  EXPECT_FALSE(OpenComPort(b.platform, 3, other));
  EXPECT_TRUE(CloseComPort(b.port));
  EXPECT_FALSE(CloseComPort(b.port)) << "a closed port cannot be closed again";
  EXPECT_TRUE(OpenComPort(b.platform, 3, other));
}

TEST(SetAddressParity, SwitchesOnlyTheParityAndAppliesToLaterBytes) {
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  const LineSettings before = b.line.hostSettings();
  b.port.writeByte(0x11);
  SetAddressParity(b.port, true);
  b.port.writeByte(0x22);
  LineSettings mark = b.line.hostSettings();
  EXPECT_EQ(mark.parity, Parity::Mark);
  mark.parity = before.parity;
  EXPECT_EQ(mark, before);
  SetAddressParity(b.port, false);
  b.port.writeByte(0x33);
  EXPECT_EQ(b.line.hostSettings().parity, Parity::Space);
  b.line.advanceBy(10 * kNsPerMs);

  const auto& t = b.line.trace();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].parity, Parity::None);
  EXPECT_EQ(t[1].parity, Parity::Mark);
  EXPECT_EQ(t[2].parity, Parity::Space);
  // Back to back: 10 bits, then 11 bits, at 9600 bit/s.
  EXPECT_EQ(t[0].end - t[0].start, sim::CharacterTime(Parity::None));
  EXPECT_EQ(t[1].start, t[0].end);
  EXPECT_EQ(t[1].end - t[1].start, sim::CharacterTime(Parity::Mark));
  EXPECT_EQ(t[2].start, t[1].end);
}

TEST(WaitForInput, CountZeroAndQueuedBytesReturnAtOnceWithoutConsuming) {
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  const std::uint32_t start = b.platform.clock().tickMs();
  EXPECT_TRUE(WaitForInput(b.port, 0, 0));
  b.device.sendAt(b.line.now(), {0xA1, 0xA2});
  b.line.advanceBy(5 * kNsPerMs);
  const sim::SimTime before = b.line.now();
  EXPECT_TRUE(WaitForInput(b.port, 2, 0));
  EXPECT_EQ(b.line.now(), before) << "no time passes when the bytes are there";
  EXPECT_EQ(b.port.queuedInput(), 2u);
  std::uint8_t bytes[2]{};
  EXPECT_EQ(b.port.read(bytes, 2), 2);
  EXPECT_EQ(bytes[0], 0xA1);
  EXPECT_EQ(bytes[1], 0xA2);
  EXPECT_EQ(b.platform.clock().tickMs() - start, 5u);
}

TEST(WaitForInput, TimesOutAtTheFirstTickPastTheLimitAndKeepsWhatCame) {
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  const std::uint32_t start = b.platform.clock().tickMs();
  EXPECT_FALSE(WaitForInput(b.port, 1, 10));
  EXPECT_EQ(b.platform.clock().tickMs() - start, 11u);

  b.device.sendAt(b.line.now(), {0x55});
  EXPECT_FALSE(WaitForInput(b.port, 2, 20));
  EXPECT_EQ(b.port.queuedInput(), 1u) << "the byte that did arrive stays queued";
}

TEST(WaitForInput, EndsAsSoonAsTheBytesHaveArrived) {
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  b.device.sendAt(3 * kNsPerMs, {0x01, 0x02, 0x03});
  EXPECT_TRUE(WaitForInput(b.port, 3, 500));
  const sim::SimTime lastArrival = 3 * kNsPerMs + 3 * sim::CharacterTime(Parity::None);
  EXPECT_GE(b.line.now(), lastArrival);
  EXPECT_LT(b.line.now(), lastArrival + kNsPerMs);
}

TEST(Waits, NeverEndEarlyAndSurviveAWrapOfTheTickCounter) {
  for (std::uint32_t startTick : {0u, 0xFFFFFFFFu - 100u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(startTick);
    Bench b(startTick);
    Clock& clock = b.platform.clock();
    std::uint32_t t0 = clock.tickMs();
    DelayMs(clock, 400);
    EXPECT_EQ(clock.tickMs() - t0, 401u);
    t0 = clock.tickMs();
    PauseMs(clock, 200);
    EXPECT_EQ(clock.tickMs() - t0, 202u);
    DelayMs(clock, 40);
    ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
    t0 = clock.tickMs();
    EXPECT_FALSE(WaitForInput(b.port, 1, 150));
    EXPECT_EQ(clock.tickMs() - t0, 151u);
  }
}

TEST(PortRead, ReturnsEmptyWithinTheTotalTimeoutAndStopsAtAGap) {
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  std::uint8_t bytes[8]{};
  sim::SimTime start = b.line.now();
  EXPECT_EQ(b.port.read(bytes, 1), 0);
  EXPECT_LE(b.line.now() - start, 120 * kNsPerMs);
  EXPECT_GE(b.line.now() - start, 100 * kNsPerMs);

  // Two bytes back to back, then a pause of 5 ms before a third: the read
  // takes the first two and ends at the gap.
  b.device.sendAt(b.line.now(), {0x10, 0x20});
  b.device.sendAt(b.line.now() + 2 * sim::CharacterTime(Parity::None) + 5 * kNsPerMs, {0x30});
  start = b.line.now();
  EXPECT_EQ(b.port.read(bytes, 3), 2);
  EXPECT_EQ(bytes[1], 0x20);
  EXPECT_LT(b.line.now() - start, 10 * kNsPerMs);
}

TEST(PortHandle, OperationsWithoutAPortFailWithoutEffect) {
  Bench b;
  std::uint8_t byte = 0x5A;
  EXPECT_EQ(b.port.read(&byte, 1), -1);
  EXPECT_EQ(byte, 0x5A);
  EXPECT_EQ(b.port.write(&byte, 1), -1);
  EXPECT_EQ(b.port.queuedInput(), 0u);
  EXPECT_FALSE(b.port.purge(kPurgeClearBoth));
  SetAddressParity(b.port, true);
  EXPECT_FALSE(WaitForInput(b.port, 1, 5));
  EXPECT_TRUE(b.line.trace().empty());
}

TEST(PortHandle, AVanishedPortFailsEveryOperation) {
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  b.line.vanish();
  std::uint8_t byte = 0;
  EXPECT_EQ(b.port.write(&byte, 1), -1);
  EXPECT_EQ(b.port.read(&byte, 1), -1);
  EXPECT_FALSE(WaitForInput(b.port, 1, 20));
  EXPECT_FALSE(CloseComPort(b.port));
}

TEST(Purge, ClearsTheInputQueue) {
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  b.device.sendAt(0, {1, 2, 3});
  b.line.advanceBy(10 * kNsPerMs);
  ASSERT_EQ(b.port.queuedInput(), 3u);
  EXPECT_TRUE(b.port.purge(kPurgeClearBoth));
  EXPECT_EQ(b.port.queuedInput(), 0u);
}

// A write is over when the last byte's stop bit has gone out (10 bits a
// character without parity, 11 with MARK or SPACE), so the waits that follow
// start with the frame on the wire; a write time-out ends it early with the
// count of the bytes that left, and the bytes not yet started are dropped.
TEST(Write, LastsUntilTheBytesHaveLeftOrItsTimeOut) {
  const std::uint8_t frame[4] = {9, 8, 7, 6};
  for (const bool mark : {false, true}) {
    SCOPED_TRACE(mark ? "MARK" : "no parity");
    Bench b;
    ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
    if (mark) SetAddressParity(b.port, true);
    const sim::SimTime start = b.line.now();
    EXPECT_EQ(b.port.write(frame, 4), 4);
    EXPECT_EQ(b.line.now() - start, 4 * sim::CharacterTime(mark ? Parity::Mark : Parity::None));
    EXPECT_EQ(b.device.received(), (std::vector<std::uint8_t>{9, 8, 7, 6}));
  }
  {
    // As on a pseudo-terminal: the write returns at once, the bytes cross afterwards.
    Bench b;
    b.line.setHostWriteReturnsAtOnce(true);
    ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
    EXPECT_EQ(b.port.write(frame, 4), 4);
    EXPECT_EQ(b.line.now(), 0u);
    EXPECT_TRUE(b.device.received().empty());
  }
  Bench b;
  ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
  b.port.setTimeouts({1, 20, 100, 0, 2});  // 2 ms for the whole write
  EXPECT_EQ(b.port.write(frame, 4), 1);    // the second byte is still crossing at 2 ms
  EXPECT_EQ(b.line.now(), 2 * kNsPerMs);
  b.line.advanceBy(10 * kNsPerMs);
  EXPECT_EQ(b.device.received(), (std::vector<std::uint8_t>{9, 8}));
}

// The receive FIFO's time-out is four characters of the format the host has
// set: 44 bits with MARK or SPACE parity (4.583 ms), 40 without (4.167 ms).
TEST(ReceiveFifo, HandsAShortAnswerOverFourCharacterTimesAfterIt) {
  for (const bool mark : {false, true}) {
    SCOPED_TRACE(mark ? "MARK" : "no parity");
    Bench b;
    b.line.setHostReceiveFifo(14, 4);
    ASSERT_TRUE(OpenComPort(b.platform, 3, b.port));
    if (mark) SetAddressParity(b.port, true);
    const sim::SimTime sentAt = b.line.now();
    b.device.sendAt(sentAt, {0x42});
    const sim::SimTime handedOver = sentAt + sim::CharacterTime(Parity::None) +
                                    4 * sim::CharacterTime(mark ? Parity::Mark : Parity::None);
    b.line.advanceTo(handedOver - 1);
    EXPECT_EQ(b.port.queuedInput(), 0u);
    b.line.advanceTo(handedOver);
    EXPECT_EQ(b.port.queuedInput(), 1u);
  }
}

}  // namespace
}  // namespace kkm::serial
