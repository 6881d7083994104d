#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/cashreg/CashRegister.h"
#include "tests/support/LineRig.h"

namespace kkm::sim {
namespace {

using test::kMs;
using test::LineRig;

constexpr SimTime kSettle = 50 * kMs;  // long enough for every answer to come in

// Frames for the register holding 45 (line address 0xBA).
const std::vector<std::uint8_t> kReadNumber{0x04, 0x06, 0x40, 0x11, 0x01, 0xA3};
const std::vector<std::uint8_t> kWriteNumber{0x05, 0x05, 0x40, 0x11, 0x01, 0xBA, 0xE9};
const std::vector<std::uint8_t> kVersionQuery{0x01, 0x14, 0xEA};

// One exchange sent raw: the address byte, the echo's time, then the frame.
void Exchange(LineRig& rig, std::uint8_t address, const std::vector<std::uint8_t>& frame) {
  rig.send(Parity::Mark, {address});
  rig.line.advanceBy(kSettle);
  rig.send(Parity::Space, frame);
  rig.line.advanceBy(kSettle);
}

TEST(CashRegister, HoldsItsNetworkNumberWithAConsistentChecksum) {
  EXPECT_EQ(CashRegister::NetworkNumberByte(1), 0xFE);
  EXPECT_EQ(CashRegister::NetworkNumberByte(10), 0xEF);
  EXPECT_EQ(CashRegister::NetworkNumberByte(99), 0x66);
  EXPECT_THROW(CashRegister(0), std::out_of_range);
  EXPECT_THROW(CashRegister(100), std::out_of_range);
  CashRegister reg(45);
  EXPECT_EQ(reg.nonVolatile()[kStoredNumberCell], 0xBA);
  EXPECT_EQ(reg.dataMemory()[kLineAddressCell], 0xBA);
  EXPECT_EQ(reg.dataMemory()[kWorkingNumberCell], 0xBA);
  EXPECT_TRUE(reg.nonVolatileChecksumHolds());
  // Power-up takes the line address from non-volatile memory.
  reg.nonVolatile()[kStoredNumberCell] = 0xFE;
  EXPECT_EQ(reg.lineAddress(), 0xBA);
  reg.powerUp();
  EXPECT_EQ(reg.lineAddress(), 0xFE);
  EXPECT_FALSE(reg.nonVolatileChecksumHolds());
}

TEST(CashRegister, AnswersOnTimeAtLineSpeed) {
  LineRig rig;
  CashRegister reg(45);
  reg.setTiming({.echoDelayMs = 3, .ackDelayMs = 4, .replyDelayMs = 5});
  rig.line.attach(reg);
  Exchange(rig, 0xBA, kReadNumber);
  EXPECT_EQ(rig.wire(), "BAm <BA 04s 06s 40s 11s 01s A3s <A3 <01 <BA <44");
  EXPECT_EQ(rig.at(1).start, rig.at(0).end + 3 * kMs);
  EXPECT_EQ(rig.at(8).start, rig.at(7).end + 4 * kMs);
  EXPECT_EQ(rig.at(9).start, rig.at(8).end + 5 * kMs);
  for (std::size_t i = 10; i < 12; ++i) EXPECT_EQ(rig.at(i).start, rig.at(i - 1).end);
  EXPECT_EQ(rig.at(11).end - rig.at(11).start, CharacterTime(Parity::Space));
  EXPECT_EQ(reg.log(), (std::vector<ExecutedCommand>{{0x06, 0x1140, 1, rig.at(7).end}}));
}

TEST(CashRegister, FollowsTheMultiDropRules) {
  LineRig rig;
  CashRegister one(1), other(45);
  rig.line.attach(one);
  rig.line.attach(other);
  // Only the addressed register answers, and only to a MARK address byte.
  rig.send(Parity::Space, {0xBA});
  rig.line.advanceBy(kSettle);
  Exchange(rig, 0xFE, kVersionQuery);
  EXPECT_EQ(rig.wire().substr(0, 23), "BAs FEm <FE 01s 14s EAs");
  rig.line.clearTrace();
  // A frame after another register's address, one with a bad checksum, one
  // with an unknown command and one that stalls are all ignored.
  Exchange(rig, 0x11, kWriteNumber);
  Exchange(rig, 0xBA, {0x05, 0x05, 0x40, 0x11, 0x01, 0x00, 0xE9});
  Exchange(rig, 0xBA, {0x01, 0x33, 0xCB});
  rig.send(Parity::Mark, {0xBA});
  rig.line.advanceBy(kSettle);
  rig.send(Parity::Space, {0x05, 0x05, 0x40});
  rig.line.advanceBy(60 * kMs);
  rig.send(Parity::Space, {0x11, 0x01, 0x00, 0xA3});
  rig.line.advanceBy(kSettle);
  EXPECT_EQ(rig.line.traceOf(Direction::DeviceToHost).size(), 3u);  // the three echoes
  EXPECT_TRUE(other.log().empty());
  EXPECT_EQ(other.dataMemory()[0x1140], 0xBA);
  // A frame taken without an address byte when the register allows it; the
  // new number at 0x020F is its new address at once.
  other.setAddressPhaseRequired(true);
  one.setAddressPhaseRequired(false);
  rig.send(Parity::Space, {0x05, 0x05, 0x0F, 0x02, 0x01, 0xEF, 0xF4});
  rig.line.advanceBy(kSettle);
  EXPECT_EQ(one.lineAddress(), 0xEF);
  EXPECT_EQ(one.exchangeCount(), 2u);
}

TEST(CashRegister, InjectsFaultsByExchangeAndByCommand) {
  LineRig rig;
  CashRegister reg(45);
  reg.faultOnExchange(2, RegisterFault::WrongAck, {0x00});
  reg.faultOnCommand(0x06, RegisterFault::StrayBytes, 3, {0x77});
  FaultRule busy;
  busy.fault = RegisterFault::Busy;
  busy.exchange = 3;
  busy.count = 1;
  reg.addFault(busy);
  rig.line.attach(reg);
  for (int i = 0; i < 3; ++i) Exchange(rig, 0xBA, kReadNumber);
  Exchange(rig, 0xBA, kReadNumber);  // the repeat after the busy answer
  const auto answers = rig.line.traceOf(Direction::DeviceToHost);
  std::string text;
  for (const auto& e : answers) text += test::Hex(e.byte) + " ";
  EXPECT_EQ(text, "BA A3 01 BA 44 BA 00 01 BA 44 65 BA A3 01 BA 44 77 ");
  EXPECT_EQ(reg.exchangeCount(), 3u);
  EXPECT_EQ(reg.log().size(), 3u);  // a wrong acknowledgement still executes
}

}  // namespace
}  // namespace kkm::sim
