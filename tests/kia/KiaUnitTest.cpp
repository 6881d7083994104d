#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "kia/KiaFrames.h"
#include "kia/KiaUnit.h"
#include "serial/SerialLine.h"
#include "sim/kia/KiaBoard.h"
#include "sim/line/ScriptedDevice.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"

namespace kkm::kia {
namespace {

using Bytes = std::vector<std::uint8_t>;
using serial::Parity;
using sim::Direction;
using sim::SimTime;

constexpr SimTime kPollStep = 100 * sim::kNsPerUs;  // how far the virtual line moves per poll
constexpr std::uint8_t kUntouched = 0x5A;           // the caller's value before an operation

// What the host asked of its port, and a port fault to inject: reads fail
// once `readsBeforeFailure` reads have gone through (negative: never).
struct PortCalls {
  std::vector<std::uint32_t> purges;
  std::vector<std::uint32_t> writes;
  int readsBeforeFailure = -1;
};

class RecordingPort : public serial::SerialPort {
 public:
  RecordingPort(std::unique_ptr<serial::SerialPort> inner, PortCalls& calls)
      : in_(std::move(inner)), calls_(calls) {}
  // clang-format off
  bool setBufferSizes(std::uint32_t i, std::uint32_t o) override { return in_->setBufferSizes(i, o); }
  bool getSettings(serial::LineSettings& s) override { return in_->getSettings(s); }
  bool setSettings(const serial::LineSettings& s) override { return in_->setSettings(s); }
  bool getTimeouts(serial::Timeouts& t) override { return in_->getTimeouts(t); }
  bool setTimeouts(const serial::Timeouts& t) override { return in_->setTimeouts(t); }
  bool clearDtr() override { return in_->clearDtr(); }
  std::int32_t queuedInput() override { return in_->queuedInput(); }
  bool close() override { return in_->close(); }
  // clang-format on
  bool purge(std::uint32_t mask) override {
    calls_.purges.push_back(mask);
    return in_->purge(mask);
  }
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count) override {
    if (calls_.readsBeforeFailure == 0) return -1;
    if (calls_.readsBeforeFailure > 0) --calls_.readsBeforeFailure;
    return in_->read(buffer, count);
  }
  std::int32_t write(const std::uint8_t* data, std::uint32_t count) override {
    calls_.writes.push_back(count);
    return in_->write(data, count);
  }

 private:
  std::unique_ptr<serial::SerialPort> in_;
  PortCalls& calls_;
};

class RecordingPlatform : public serial::Platform {
 public:
  RecordingPlatform(sim::VirtualPlatform& inner, PortCalls& calls) : inner_(inner), calls_(calls) {}
  std::unique_ptr<serial::SerialPort> openPort(const std::string& name) override {
    auto port = inner_.openPort(name);
    if (!port) return nullptr;
    return std::make_unique<RecordingPort>(std::move(port), calls_);
  }
  serial::Clock& clock() override { return inner_.clock(); }

 private:
  sim::VirtualPlatform& inner_;
  PortCalls& calls_;
};

// One operation as the tests drive it: the frame it must send and a call that
// hands it the caller's value where it has an out value.
struct Operation {
  std::string name;
  Bytes frame;
  std::function<bool(serial::PortHandle&, std::uint8_t&)> run;
};

Operation MemoryWrite() {
  return {"memory write", BuildMemoryWriteFrame(0x020F, 0xBA),
          [](serial::PortHandle& port, std::uint8_t&) { return KiaWriteMemory(port, 0x020F, 0xBA).ok(); }};
}
Operation MemoryRead() {
  return {"memory read", BuildMemoryReadFrame(0x1140), [](serial::PortHandle& port, std::uint8_t& value) {
            return KiaReadMemory(port, 0x1140, value).ok();
          }};
}
Operation EepromRead() {
  return {"EEPROM read", BuildEepromReadFrame(0x0740), [](serial::PortHandle& port, std::uint8_t& value) {
            return KiaReadEeprom(port, 0x0740, value).ok();
          }};
}
Operation EepromWrite() {
  return {"EEPROM write", BuildEepromWriteFrame(0x073E, 0xBA),
          [](serial::PortHandle& port, std::uint8_t&) { return KiaWriteEeprom(port, 0x073E, 0xBA).ok(); }};
}

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// `count` EEPROM bytes 0xBA, 0xBB, ... as the controller streams them.
Bytes EepromData(std::size_t count) {
  Bytes data;
  for (std::size_t i = 0; i < count; ++i) data.push_back(static_cast<std::uint8_t>(0xBA + i));
  return data;
}

class KiaExchange : public ::testing::Test {
 protected:
  KiaExchange() : virtualPlatform_(line_), platform_(virtualPlatform_, calls_), port_(platform_.clock()) {
    virtualPlatform_.addPort("COM1", line_);
    line_.attach(device_);
    static_cast<void>(serial::OpenComPort(platform_, 1, port_));  // the rig's own port: it opens
  }

  // Runs `op` once, the caller's value preset to kUntouched.
  bool Run(const Operation& op) {
    line_.clearTrace();
    calls_.purges.clear();
    calls_.writes.clear();
    startTime_ = line_.now();
    value_ = kUntouched;
    return op.run(port_, value_);
  }

  std::uint32_t Tick() { return line_.clock().tickMs(); }

  // The tick when the frame's last byte has left: the write returns then, and
  // the first wait starts.
  std::uint32_t TickAfterFrame() const {
    return static_cast<std::uint32_t>(line_.traceOf(Direction::HostToDevice).back().end / sim::kNsPerMs);
  }

  // The tick of the first poll that finds the `n`-th reply byte (from 1) queued.
  std::uint32_t TickSeeing(std::size_t n) const {
    const auto replies = line_.traceOf(Direction::DeviceToHost);
    const SimTime arrival = replies.at(n - 1).end;
    const SimTime poll = (arrival + kPollStep - 1) / kPollStep * kPollStep;
    return static_cast<std::uint32_t>(poll / sim::kNsPerMs);
  }

  // One purge 0x0C, then the whole frame in one write: its bytes back to back
  // from the moment of the write, without a parity bit.
  void ExpectFrameSentOnce(const Bytes& frame) const {
    EXPECT_EQ(calls_.purges, std::vector<std::uint32_t>{serial::kPurgeClearBoth});
    EXPECT_EQ(calls_.writes, std::vector<std::uint32_t>{static_cast<std::uint32_t>(frame.size())});
    const auto sent = line_.traceOf(Direction::HostToDevice);
    ASSERT_EQ(sent.size(), frame.size());
    const SimTime character = sim::CharacterTime(Parity::None);
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].byte, frame[i]) << "byte " << i;
      EXPECT_EQ(sent[i].parity, Parity::None) << "byte " << i;
      EXPECT_EQ(sent[i].start, startTime_ + i * character) << "byte " << i;
      EXPECT_EQ(sent[i].end, startTime_ + (i + 1) * character) << "byte " << i;
    }
  }

  sim::VirtualLine line_;
  sim::VirtualPlatform virtualPlatform_;
  PortCalls calls_;
  RecordingPlatform platform_;
  sim::ScriptedDevice device_;
  serial::PortHandle port_;
  SimTime startTime_ = 0;
  std::uint8_t value_ = kUntouched;
};

struct SuccessCase {
  Operation op;
  Bytes replies;
  std::size_t decidingReply;  // the reply byte whose arrival completes the exchange
  std::uint8_t value;         // the caller's value afterwards
  std::size_t leftQueued;     // reply bytes deliberately not read
  std::uint32_t thenMs = 0;   // ticks from that reply to the end
};

TEST_F(KiaExchange, SuccessfulExchanges) {
  const SuccessCase cases[] = {
      // The echo of a memory write is let arrive, unread, for the next purge...
      {MemoryWrite(), {0x01, 0xBA}, 2, kUntouched, 1},
      // ...but it is never needed: 20 ms after the acknowledgement the write is done.
      {MemoryWrite(), {0x01}, 1, kUntouched, 0, 21},
      {MemoryRead(), {0x01, 0x42}, 2, 0x42, 0},
      {EepromRead(), Concat({0x01, 0x11}, EepromData(64)), 66, 0xBA, 0},
      {EepromWrite(), {0x01, 0x11, 0xBA}, 3, kUntouched, 1},
  };
  for (const SuccessCase& c : cases) {
    SCOPED_TRACE(c.op.name + " answered with " + std::to_string(c.replies.size()) + " bytes");
    device_.on(c.op.frame, c.replies);
    EXPECT_TRUE(Run(c.op));
    ExpectFrameSentOnce(c.op.frame);
    EXPECT_EQ(Tick(), TickSeeing(c.decidingReply) + c.thenMs);
    EXPECT_EQ(value_, c.value);
    line_.advanceBy(100 * sim::kNsPerMs);
    EXPECT_EQ(line_.queuedForHost(), c.leftQueued);
  }
}

struct FailureCase {
  std::string what;
  Operation op;
  Bytes replies;
  std::size_t
      lastSeenReply;     // the reply byte after which the exchange ends or its last wait starts (0: none)
  std::uint32_t thenMs;  // ticks from then to the end: 0 at once, a time-out plus 1
};

TEST_F(KiaExchange, FailedExchangesLeaveTheValueAlone) {
  const FailureCase cases[] = {
      {"no acknowledgement", MemoryWrite(), {}, 0, 51},
      {"wrong acknowledgement", MemoryWrite(), {0x00, 0xBA}, 1, 0},
      {"no acknowledgement", MemoryRead(), {}, 0, 51},
      {"wrong acknowledgement", MemoryRead(), {0x11, 0x42}, 1, 0},
      {"no byte read", MemoryRead(), {0x01}, 1, 501},
      {"no acknowledgement", EepromRead(), {}, 0, 401},
      {"no marker", EepromRead(), {0x01}, 1, 501},
      {"bus error 0x01", EepromRead(), {0x01, 0x01}, 2, 0},
      {"bus error 0x02", EepromRead(), {0x01, 0x02}, 2, 0},
      {"bus error 0x03", EepromRead(), {0x01, 0x03}, 2, 0},
      {"63 of 64 bytes", EepromRead(), Concat({0x01, 0x11}, EepromData(63)), 2, 1501},
      {"no acknowledgement", EepromWrite(), {}, 0, 301},
      {"no marker", EepromWrite(), {0x01}, 1, 501},
      {"bus error 0x01", EepromWrite(), {0x01, 0x01}, 2, 0},
      {"bus error 0x02", EepromWrite(), {0x01, 0x02}, 2, 0},
      {"bus error 0x03", EepromWrite(), {0x01, 0x03}, 2, 0},
      {"no final byte", EepromWrite(), {0x01, 0x11}, 2, 501},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.op.name + ": " + c.what);
    if (!c.replies.empty()) device_.on(c.op.frame, c.replies);
    EXPECT_FALSE(Run(c.op));
    ExpectFrameSentOnce(c.op.frame);
    // A wait that ran out saw every reply there was; a rejected byte ends it at once.
    EXPECT_EQ(line_.traceOf(Direction::DeviceToHost).size(),
              c.thenMs == 0 ? c.lastSeenReply : c.replies.size());
    const std::uint32_t from = c.lastSeenReply == 0 ? TickAfterFrame() : TickSeeing(c.lastSeenReply);
    EXPECT_EQ(Tick(), from + c.thenMs);
    EXPECT_EQ(value_, kUntouched);
    line_.advanceBy(100 * sim::kNsPerMs);
  }
}

// Bytes an earlier exchange left queued (an echo and a stray byte) are purged
// before the next frame goes out, so they can pass neither for its
// acknowledgement nor for its result.
TEST_F(KiaExchange, StaleBytesArePurgedBeforeTheFrame) {
  const Operation write = MemoryWrite();
  const Operation read = MemoryRead();
  for (const bool readAnswered : {false, true}) {
    SCOPED_TRACE(readAnswered ? "read answered" : "read unanswered");
    device_.on(write.frame, {0x01, 0x01, 0x77});
    ASSERT_TRUE(Run(write));
    line_.advanceBy(20 * sim::kNsPerMs);
    ASSERT_EQ(line_.queuedForHost(), 2u);

    if (readAnswered) device_.on(read.frame, {0x01, 0x42});
    EXPECT_EQ(Run(read), readAnswered);
    EXPECT_EQ(value_, readAnswered ? 0x42 : kUntouched);
    EXPECT_EQ(Tick(), readAnswered ? TickSeeing(2) : TickAfterFrame() + 51);
    line_.advanceBy(20 * sim::kNsPerMs);
  }
}

// A read that fails after its bytes were seen queued (the port dropped away)
// must not hand an unread byte over as the result.
TEST_F(KiaExchange, FailedReadOfTheResultIsNoSuccess) {
  const Operation read = MemoryRead();
  device_.on(read.frame, {0x01, 0x42});
  calls_.readsBeforeFailure = 1;
  EXPECT_FALSE(Run(read));
  EXPECT_EQ(value_, kUntouched);
}

// The board's monitor takes a frame only once the line has been quiet for its
// idle gap after the last byte, and the EEPROM routines are long (194 bytes,
// about 202 ms on the line): the first wait counts from the moment the frame
// has left the port. A board with a long idle gap still answers inside every
// first wait, though not inside it counted from the start of the frame.
TEST(KiaBoardExchange, TheFirstWaitStartsOnceTheFrameHasLeft) {
  // {operation, idle gap (ms): the acknowledgement comes just after it, the first wait (ms)}
  const std::tuple<Operation, double, SimTime> cases[] = {
      {MemoryRead(), 40, 50}, {EepromRead(), 250, 400}, {EepromWrite(), 250, 300}};
  for (const auto& [op, gapMs, firstWaitMs] : cases) {
    SCOPED_TRACE(op.name);
    std::vector<std::uint8_t> dataMemory(sim::kia::kDataMemorySize, 0x42);
    std::vector<std::uint8_t> nonVolatile(sim::kia::kNonVolatileSize, 0x42);
    sim::kia::KiaBoard board(dataMemory, nonVolatile);
    board.setIdleGap(static_cast<SimTime>(gapMs * sim::kNsPerMs));
    sim::VirtualLine line;
    sim::VirtualPlatform platform(line);
    platform.addPort("COM1", line);
    line.attach(board);
    serial::PortHandle port(platform.clock());
    ASSERT_TRUE(serial::OpenComPort(platform, 1, port));
    std::uint8_t value = kUntouched;
    EXPECT_TRUE(op.run(port, value));
    const auto sent = line.traceOf(Direction::HostToDevice);
    const auto replies = line.traceOf(Direction::DeviceToHost);
    ASSERT_EQ(sent.size(), op.frame.size());
    ASSERT_FALSE(replies.empty());
    // The acknowledgement came after the idle gap, later than the wait's
    // length counted from the frame's first byte.
    EXPECT_GT(replies.front().end - sent.back().end, static_cast<SimTime>(gapMs * sim::kNsPerMs));
    EXPECT_GT(replies.front().end - sent.front().start, (firstWaitMs + 1) * sim::kNsPerMs);
  }
}

}  // namespace
}  // namespace kkm::kia
