#include <gtest/gtest.h>

#include <string>

#include "register/AddressDiscovery.h"
#include "register/RegisterFrame.h"
#include "sim/cashreg/CashRegister.h"
#include "tests/support/LineRig.h"

namespace kkm::reg {
namespace {

using serial::Parity;
using sim::CashRegister;
using sim::RegisterFault;
using test::kMs;
using test::LineRig;
using test::WaitEnd;

constexpr std::uint8_t kUnchangedAddress = 0x42;
constexpr std::int32_t kUnchangedVersion = 77;

TEST(FindRegisterAddress, FindsTheSecondCandidateAfterOneUnansweredWait) {
  LineRig rig;
  CashRegister reg(1);  // 0xFE
  rig.line.attach(reg);
  std::uint8_t address = kUnchangedAddress;
  ASSERT_TRUE(FindRegisterAddress(rig.port, address));
  EXPECT_EQ(address, 0xFE);
  EXPECT_EQ(rig.wire(), "FFm FEm <FE");
  EXPECT_EQ(rig.calls(), "purge 0C, mark, purge 0C, write FF, purge 0C, write FE, read 1");
  // The 10 ms wait starts once the candidate has left the port.
  EXPECT_EQ(rig.at(1).start, WaitEnd(rig.at(0).end, 10));
  EXPECT_EQ(rig.parity(), Parity::Mark);
}

TEST(FindRegisterAddress, TriesEveryCandidateDownToZeroAndStopsAtAForeignByte) {
  for (bool present : {true, false}) {
    LineRig rig;
    CashRegister reg;  // blank memory: address byte 0x00
    if (present) rig.line.attach(reg);
    std::uint8_t address = kUnchangedAddress;
    EXPECT_EQ(FindRegisterAddress(rig.port, address).ok(), present);
    EXPECT_EQ(address, present ? 0x00 : kUnchangedAddress);
    const auto sent = rig.line.traceOf(sim::Direction::HostToDevice);
    ASSERT_EQ(sent.size(), 256u);
    for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i].byte, 0xFF - i);
    for (std::size_t i = 1; i < sent.size(); ++i) ASSERT_EQ(sent[i].start, WaitEnd(sent[i - 1].end, 10));
  }
  LineRig rig;
  CashRegister reg(2);  // 0xFD
  reg.faultOnExchange(1, RegisterFault::WrongEcho, {0x02});
  rig.line.attach(reg);
  std::uint8_t address = kUnchangedAddress;
  EXPECT_FALSE(FindRegisterAddress(rig.port, address));
  EXPECT_EQ(address, kUnchangedAddress);
  EXPECT_EQ(rig.wire(), "FFm FEm FDm <02");
}

// A register whose echo comes late is still found at its own address: its
// echo, arriving during the next candidate's wait, is that previous
// candidate. Handed over byte by byte, an echo up to 20 ms late is always
// found. Behind a receive FIFO (14 bytes, 4 characters of 11 bits) the echo
// reaches the port 4.583 ms after its stop bit; up to 4 ms late it comes
// within its own wait, and later ones may fall into the purge before the
// next candidate. Whatever the delay, the scan never names another address.
TEST(FindRegisterAddress, FindsARegisterWhoseEchoComesLate) {
  constexpr std::uint8_t kAddress10 = 0xEF;  // network number 10: the 17th candidate
  for (const auto& [fifo, alwaysFoundUpToMs] : {std::pair{false, 20.0}, {true, 4.0}}) {
    for (double delayMs = 0; delayMs <= 20.0; delayMs += 0.25) {
      SCOPED_TRACE(std::string(fifo ? "with" : "without") + " the receive FIFO, echo " +
                   std::to_string(delayMs) + " ms late");
      LineRig rig;
      if (fifo) rig.line.setHostReceiveFifo(14, 4);
      CashRegister reg(10);
      reg.setTiming({.echoDelayMs = delayMs});
      rig.line.attach(reg);
      std::uint8_t address = kUnchangedAddress;
      const bool found = FindRegisterAddress(rig.port, address).ok();
      if (delayMs <= alwaysFoundUpToMs) {
        EXPECT_TRUE(found);
      }
      EXPECT_EQ(address, found ? kAddress10 : kUnchangedAddress);
    }
  }
}

TEST(ReadFirmwareVersion, ReadsTheQueryExchangeByteForByte) {
  LineRig rig;
  CashRegister reg(45);
  rig.line.attach(reg);
  std::int32_t version = kUnchangedVersion;
  ASSERT_TRUE(ReadFirmwareVersion(rig.port, 0xBA, version));
  EXPECT_EQ(version, 105);
  EXPECT_EQ(rig.wire(), "BAm <BA 01s 14s EAs <EA <09 <00 <00 <00 <00 <00 <01 <05 <00 <00 <F0");
  EXPECT_EQ(rig.calls(), "purge 0F, mark, write BA, read 1, space, write 01 14 EA, read 1, read 1, read 10");
  EXPECT_EQ(rig.at(2).start, WaitEnd(rig.at(0).end, 40));  // DelayMs(40) once the address byte is out
  EXPECT_EQ(rig.line.now(), WaitEnd(rig.at(4).end, 400));  // then DelayMs(400) after the frame
}

TEST(VersionCode, WritesTheNibblesInDecimal) {
  EXPECT_EQ(VersionCode(0x01, 0x00), 100);
  EXPECT_EQ(VersionCode(0x12, 0x34), 1234);
  EXPECT_EQ(VersionCode(0x0A, 0x05), 1005);
  EXPECT_EQ(VersionCode(0xFF, 0xFF), 15151515);
}

TEST(ReadFirmwareVersion, BadRepliesGiveZeroMissingAnswersFail) {
  // {fault, hits the query frame (else the address phase), result, version, parity after}
  for (const auto& [fault, onQuery, result, expected, parity] :
       {std::tuple{RegisterFault::BadReplyChecksum, true, true, 0, Parity::Space},
        {RegisterFault::ShortReply, true, true, 0, Parity::Space},
        {RegisterFault::NoReply, true, true, 0, Parity::Space},
        {RegisterFault::WrongAck, true, false, kUnchangedVersion, Parity::Space},
        {RegisterFault::Silent, true, false, kUnchangedVersion, Parity::Space},
        {RegisterFault::WrongEcho, false, false, kUnchangedVersion, Parity::Mark}}) {
    SCOPED_TRACE(static_cast<int>(fault));
    LineRig rig;
    CashRegister reg(45);
    onQuery ? reg.faultOnCommand(kCmdVersionQuery, fault) : reg.faultOnExchange(1, fault);
    rig.line.attach(reg);
    std::int32_t version = kUnchangedVersion;
    EXPECT_EQ(ReadFirmwareVersion(rig.port, 0xBA, version).ok(), result);
    EXPECT_EQ(version, expected);
    EXPECT_EQ(rig.parity(), parity);
  }
}

}  // namespace
}  // namespace kkm::reg
