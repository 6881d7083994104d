// The session on the virtual line: it owns the port to its end, and the
// outcomes of its operations say exactly which step failed.

#include <gtest/gtest.h>

#include <memory>

#include "service/Connection.h"
#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "service/WriteRecord.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/StateHome.h"

namespace kkm::service {
namespace {

using sim::RegisterFault;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_.addPort("COM1", line_);
    line_.attach(register_);
  }

  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  sim::CashRegister register_{1};
};

TEST_F(SessionTest, TheSessionClosesItsPortWhenItEnds) {
  auto session = std::make_unique<Session>(platform_, "kkm-netnum");
  ASSERT_TRUE(Connect(*session, "COM1", Link::Processor).connected());
  ASSERT_TRUE(line_.portOpen());
  session.reset();
  EXPECT_FALSE(line_.portOpen());
}

TEST_F(SessionTest, AFailedAttemptLeavesTheSessionUnconnectedAfterAnEarlierSuccess) {
  Session session(platform_, "kkm-netnum");
  ASSERT_TRUE(Connect(session, 1, Link::Processor).connected());
  EXPECT_TRUE(session.port.isOpen());
  EXPECT_EQ(Connect(session, "COM2", Link::Processor).outcome, ConnectOutcome::PortUnavailable);
  EXPECT_FALSE(session.port.isOpen());
  EXPECT_FALSE(line_.portOpen()) << "the earlier port was closed before the attempt";
}

// A write stops at the exchange that fails and says which; the register is
// addressed anew only after all six.
TEST_F(SessionTest, AWriteReportsTheExchangeItStoppedAt) {
  struct Row {
    std::uint8_t command;
    std::uint32_t occurrence;
    int failedExchange;
  };
  // Byte write 0x05, block read 0x16, block write 0x17, in the write's order.
  const Row rows[] = {{0x05, 1, 1}, {0x16, 1, 2}, {0x16, 2, 3}, {0x17, 1, 4}, {0x17, 2, 5}, {0x05, 2, 6}};
  for (const Row& row : rows) {
    sim::VirtualLine line;
    sim::VirtualPlatform platform(line);
    sim::CashRegister reg(1);
    test::ClearStateHome();
    platform.addPort("COM1", line);
    line.attach(reg);
    reg.faultOnCommand(row.command, RegisterFault::Silent, row.occurrence);
    Session session(platform, "kkm-netnum");
    ASSERT_TRUE(Connect(session, 1, Link::Processor).connected());
    const WriteResult result = WriteNetworkNumber(session, Link::Processor, 45);
    EXPECT_EQ(result.failedExchange, row.failedExchange);
    EXPECT_EQ(result.partlyWritten(), row.failedExchange >= 2 && row.failedExchange <= 5);
    EXPECT_EQ(session.registerAddress, 0xFE) << "exchange " << row.failedExchange;
    // Every write that stopped leaves its record, with the old bytes once it has read them.
    const LoadedRecord loaded = LoadRecord("COM1", Link::Processor, "COM1");
    EXPECT_EQ(loaded.status, RecordStatus::Found) << "exchange " << row.failedExchange;
    EXPECT_EQ(loaded.record.oldKnown, row.failedExchange >= 4) << "exchange " << row.failedExchange;
    test::ClearStateHome();
  }
}

TEST(NetworkNumber, TakesOneToNinetyNineInDecimalDigitsOnly) {
  for (const char* text : {"1", "01", "001", "45", "99", "099"})
    EXPECT_TRUE(ParseNetworkNumber(text)) << text;
  for (const char* text : {"", "0", "100", "0099", "4a", "+5", " 5", "5 ", "1.0", "0x10", "-1"})
    EXPECT_FALSE(ParseNetworkNumber(text)) << text;
  EXPECT_EQ(ParseNetworkNumber("045"), 45);
  EXPECT_EQ(NetworkNumberByte(45), 0xBA);
  EXPECT_EQ(NetworkNumberText(0xBA), "45");
  EXPECT_EQ(NetworkNumberText(0x00), "FF");
}

// Waits that jump over idle virtual time end where stepping ends them: the
// same bytes at the same moments, through time-outs, busy answers and pauses.
TEST(IdleJumps, AConnectionAndAWriteCrossTheLineAsWhenSteppingThrough) {
  const auto run = [](bool jumps, RegisterFault fault, bool vanish = false) {
    test::ClearStateHome();  // no record of the other run's cut write
    sim::VirtualLine line;
    sim::CashRegister reg(1);
    reg.faultOnExchange(3, fault);
    line.attach(reg);
    line.setIdleJumps(jumps);
    sim::VirtualPlatform platform(line);
    platform.addPort("COM1", line);
    Session session(platform, "kkm-netnum");
    EXPECT_TRUE(Connect(session, "COM1", Link::Processor).connected());
    if (vanish) line.vanish();  // the cable pulled: every wait of the write runs out on a dead line
    WriteNetworkNumber(session, Link::Processor, 45);
    return std::make_pair(line.trace(), line.now());
  };
  for (RegisterFault fault : {RegisterFault::Busy, RegisterFault::Silent, RegisterFault::NoReply})
    EXPECT_EQ(run(true, fault), run(false, fault)) << static_cast<int>(fault);
  EXPECT_EQ(run(true, RegisterFault::Busy, true), run(false, RegisterFault::Busy, true));
}

}  // namespace
}  // namespace kkm::service
