// Listing every register on a line, and the line itself garbling characters
// that two devices send at once.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "service/Scan.h"
#include "service/Session.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/line/ScriptedDevice.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/CableCutter.h"

namespace kkm::service {
namespace {

struct ScanCase {
  const char* name;
  std::vector<int> numbers;  // one register each
  std::vector<std::uint8_t> registers;
  std::vector<std::uint8_t> conflicts;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class ScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, ListsEachRegisterOnceAndSharedAddressesAsConflicts) {
  const ScanCase& c = GetParam();
  sim::VirtualLine line;
  sim::VirtualPlatform platform(line);
  platform.addPort("COM1", line);
  std::vector<std::unique_ptr<sim::CashRegister>> registers;
  for (const int number : c.numbers) {
    registers.push_back(std::make_unique<sim::CashRegister>(number));
    line.attach(*registers.back());
  }

  Session session(platform, "kkm-netnum");
  const ScanResult result = ScanLine(session, "COM1");
  ASSERT_TRUE(result.portOpened);
  std::vector<std::uint8_t> found;
  for (const FoundRegister& r : result.registers) {
    found.push_back(r.address);
    EXPECT_EQ(r.firmwareVersion, 105) << int(r.address);
  }
  EXPECT_EQ(found, c.registers);
  EXPECT_EQ(result.conflicts, c.conflicts);
  EXPECT_EQ(session.memoryMap.entries, memmap::MemoryMap{}.entries) << "no map loaded";

  // Every one of the 256 address bytes went out in MARK parity, highest first.
  std::vector<std::uint8_t> candidates;
  for (const auto& e : line.traceOf(sim::Direction::HostToDevice))
    if (e.parity == serial::Parity::Mark && candidates.size() < 256) candidates.push_back(e.byte);
  ASSERT_EQ(candidates.size(), 256u);
  for (std::size_t i = 0; i < candidates.size(); ++i) EXPECT_EQ(candidates[i], 0xFF - i);
}

INSTANTIATE_TEST_SUITE_P(Lines, ScanTest,
                         ::testing::Values(ScanCase{"Nobody", {}, {}, {}}, ScanCase{"One", {1}, {0xFE}, {}},
                                           ScanCase{"Three", {17, 1, 5}, {0xFE, 0xFA, 0xE8}, {}},
                                           ScanCase{"TwoSharingFive", {5, 1, 5}, {0xFE}, {0xFA}},
                                           ScanCase{"OnlyAPairSharing", {99, 99}, {}, {0x66}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A cable pulled part-way ends the census as failed: what was heard before
// is kept, nothing is asked of it, and the walk stops at the cut.
TEST(ScanCut, EndsAsPortVanishedWithWhatWasFound) {
  sim::VirtualLine line;
  sim::VirtualPlatform platform(line);
  platform.addPort("COM1", line);
  sim::CashRegister one(1), seventeen(17);
  test::CableCutter cutter(line, 0xF0);
  for (sim::LineDevice* device : std::initializer_list<sim::LineDevice*>{&one, &seventeen, &cutter})
    line.attach(*device);
  Session session(platform, "kkm-netnum");
  const ScanResult result = ScanLine(session, "COM1");
  EXPECT_TRUE(result.portOpened);
  EXPECT_FALSE(result.complete());
  EXPECT_TRUE(result.failure.is(serial::LineFailure::PortVanished))
      << serial::DescribeFailure(result.failure);
  EXPECT_EQ(result.registers, (std::vector<FoundRegister>{{0xFE, std::nullopt}}));
  EXPECT_LE(line.traceOf(sim::Direction::HostToDevice).size(), 0x10u);
}

// An echo that comes after its own 10 ms wait lands in the next candidate's
// wait: it is the register above that candidate, not a conflict there.
TEST(ScanLateEcho, IsTheRegisterItBelongsTo) {
  for (const double delayMs : {2.0, 9.0, 13.0, 16.0, 20.0}) {
    sim::VirtualLine line;
    sim::VirtualPlatform platform(line);
    platform.addPort("COM1", line);
    sim::CashRegister one(1);
    sim::CashRegister seventeen(17);
    one.setTiming({.echoDelayMs = delayMs});
    seventeen.setTiming({.echoDelayMs = delayMs});
    line.attach(one);
    line.attach(seventeen);
    Session session(platform, "kkm-netnum");
    const ScanResult result = ScanLine(session, "COM1");
    std::vector<std::uint8_t> found;
    for (const FoundRegister& r : result.registers) found.push_back(r.address);
    EXPECT_EQ(found, (std::vector<std::uint8_t>{0xFE, 0xE8})) << delayMs << " ms";
    EXPECT_TRUE(result.conflicts.empty()) << delayMs << " ms";
  }
}

TEST(ScanPort, AMissingPortIsReportedAndNothingIsSent) {
  sim::VirtualLine line;
  sim::VirtualPlatform platform(line);
  Session session(platform, "kkm-netnum");
  const ScanResult result = ScanLine(session, "COM1");
  EXPECT_FALSE(result.portOpened);
  EXPECT_TRUE(line.traceOf(sim::Direction::HostToDevice).empty());
}

TEST(FirmwareVersionText, SeparatesTheDigitsOfTheCode) {
  EXPECT_EQ(FirmwareVersionText(105), "1.0.5");
  EXPECT_EQ(FirmwareVersionText(104), "1.0.4");
  EXPECT_EQ(FirmwareVersionText(0), "0");
}

// Two devices sending into one another: the host gets one garbled character,
// finished when the later one ends; characters apart in time stay apart.
TEST(CollidingDevices, OverlappingCharactersArriveAsOneGarbledByte) {
  sim::VirtualLine line;
  sim::VirtualPlatform platform(line);
  platform.addPort("COM1", line);
  sim::ScriptedDevice first, second;
  line.attach(first);
  line.attach(second);
  const sim::SimTime character = sim::CharacterTime(serial::Parity::None);
  first.sendAt(10 * sim::kNsPerMs, {0xFE});
  second.sendAt(10 * sim::kNsPerMs, {0xFE});  // the same moment
  first.sendAt(20 * sim::kNsPerMs, {0xF0});
  second.sendAt(20 * sim::kNsPerMs + character / 2, {0x0F});  // half a character later
  first.sendAt(30 * sim::kNsPerMs, {0x41});
  second.sendAt(30 * sim::kNsPerMs + character, {0x42});  // right after it
  line.advanceTo(40 * sim::kNsPerMs);

  std::vector<std::uint8_t> arrived;
  std::vector<sim::SimTime> ends;
  for (const auto& e : line.traceOf(sim::Direction::DeviceToHost)) {
    arrived.push_back(e.byte);
    ends.push_back(e.end);
  }
  EXPECT_EQ(arrived, (std::vector<std::uint8_t>{0xFC, 0xF0 & 0x1E, 0x41, 0x42}));
  ASSERT_EQ(ends.size(), 4u);
  EXPECT_EQ(ends[1], 20 * sim::kNsPerMs + character / 2 + character);
}

}  // namespace
}  // namespace kkm::service
