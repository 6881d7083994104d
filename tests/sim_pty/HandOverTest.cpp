// When the line's UART next hands bytes to the host, as the schedule predicts
// it (the pseudo-terminal server wakes precisely for that moment), against
// when the schedule, run on, really hands them over; and the virtual line's
// model of the operating system's hand-offs between a host program and it.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "serial/SerialLine.h"
#include "sim/line/LineSchedule.h"
#include "sim/line/ScriptedDevice.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"

namespace kkm::sim {
namespace {

constexpr SimTime kUs = kNsPerUs;
constexpr SimTime kMs = kNsPerMs;

// Notes each hand-over.
class RecordingHost : public LineHost {
 public:
  Parity receiveParity() const override { return Parity::Mark; }
  void receive(const std::uint8_t*, std::size_t count, SimTime at) override {
    handOvers.push_back({at, count});
  }
  void crossed(const TraceEntry&) override {}
  std::vector<std::pair<SimTime, std::size_t>> handOvers;
};

TEST(LineSchedule, PredictsEveryHandOverToTheHost) {
  struct Case {
    unsigned trigger;    // 0: no FIFO
    std::size_t answer;  // bytes the device sends back to back at 1 ms
    SimTime secondAtMs;  // one more byte sent then, 0: none
  };
  // Short and long answers, a trigger level reached mid-answer, and a second
  // answer that comes before the FIFO times out (restarting the time-out) or
  // after it.
  const Case cases[] = {{0, 1, 0}, {0, 3, 0},  {14, 1, 0}, {14, 13, 0}, {14, 14, 0}, {14, 20, 0},
                        {2, 3, 0}, {14, 2, 5}, {14, 1, 6}, {14, 2, 9},  {0, 2, 4}};
  constexpr SimTime kStep = 10 * kUs;
  for (const Case& c : cases) {
    SCOPED_TRACE("trigger " + std::to_string(c.trigger) + ", " + std::to_string(c.answer) +
                 " bytes, second at " + std::to_string(c.secondAtMs) + " ms");
    RecordingHost host;
    LineSchedule schedule(host);
    ScriptedDevice device;
    schedule.attach(device);
    schedule.setReceiveFifo(c.trigger, 4);
    device.sendAt(1 * kMs, std::vector<std::uint8_t>(c.answer, 0x5A));
    if (c.secondAtMs != 0) device.sendAt(c.secondAtMs * kMs, {0xA5});

    // Step by step: every prediction made once the device had sent what
    // precedes a hand-over must name that hand-over to the nanosecond.
    const std::vector<SimTime> sends = {1 * kMs, c.secondAtMs * kMs};
    std::vector<std::pair<SimTime, SimTime>> predictions;  // made at, predicted
    for (SimTime t = 0; t < 40 * kMs; t += kStep) {
      predictions.push_back({t, schedule.nextHandOver()});
      const std::size_t before = host.handOvers.size();
      schedule.runTo(t + kStep);
      if (host.handOvers.size() == before) continue;
      ASSERT_EQ(host.handOvers.size(), before + 1);
      const SimTime handOver = host.handOvers.back().first;
      SimTime lastSend = 0;
      for (SimTime send : sends)
        if (send != 0 && send <= handOver) lastSend = std::max(lastSend, send);
      std::size_t checked = 0;
      for (const auto& [madeAt, predicted] : predictions) {
        if (madeAt < lastSend) continue;
        EXPECT_EQ(predicted, handOver) << "predicted at " << madeAt;
        ++checked;
      }
      EXPECT_GT(checked, 0u);
      predictions.clear();
    }
    std::size_t delivered = 0;
    for (const auto& handOver : host.handOvers) delivered += handOver.second;
    EXPECT_EQ(delivered, c.answer + (c.secondAtMs != 0 ? 1 : 0));
    EXPECT_EQ(schedule.nextHandOver(), LineSchedule::kNever);
  }
}

// A host program's byte reaches the line `toLine` after its write, and the
// answer reaches the program `toHost` after the UART handed it over: the
// answer shows `toLine + toHost` later than with a host wired to the UART.
TEST(VirtualLine, DelaysTheHostsHandOffsByWhatTheyAreSetTo) {
  struct Case {
    SimTime toLine;
    SimTime toHost;
  };
  const auto answeredAt = [](const Case& c) {
    VirtualLine line(0, 1 * kUs);
    ScriptedDevice device;
    device.on({0x42}, {0x24}, 2.0);
    line.attach(device);
    line.setHostWriteReturnsAtOnce(true);
    line.setHostHandOffDelays(c.toLine, c.toHost);
    VirtualPlatform platform(line);
    platform.addPort("COM1", line);
    serial::PortHandle port(platform.clock());
    EXPECT_TRUE(serial::OpenComPort(platform, 1, port));
    const SimTime start = line.now();
    port.writeByte(0x42);
    EXPECT_TRUE(serial::WaitForInput(port, 1, 50));
    return line.now() - start;
  };
  const SimTime wired = answeredAt({0, 0});
  // The host polls every microsecond.
  const SimTime line = 2 * CharacterTime(Parity::None) + 2 * kMs;
  EXPECT_GE(wired, line);
  EXPECT_LT(wired, line + kUs);
  for (const Case& c : {Case{50 * kUs, 0}, Case{0, 70 * kUs}, Case{50 * kUs, 70 * kUs}}) {
    SCOPED_TRACE(std::to_string(c.toLine) + " ns to the line, " + std::to_string(c.toHost) +
                 " ns to the host");
    EXPECT_EQ(answeredAt(c), wired + c.toLine + c.toHost);
  }
}

}  // namespace
}  // namespace kkm::sim
