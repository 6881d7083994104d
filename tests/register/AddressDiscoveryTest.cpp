#include <gtest/gtest.h>

#include "register/AddressDiscovery.h"
#include "register/RegisterFrame.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/line/ScriptedDevice.h"
#include "tests/register/LineRig.h"

namespace kkm::reg {
namespace {

using sim::CashRegister;
using sim::RegisterFault;
using test::kMs;
using test::LineRig;

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
  EXPECT_EQ(rig.at(1).start, 11 * kMs);  // first tick past the 10 ms wait
  EXPECT_EQ(rig.parity(), serial::Parity::Mark);
}

TEST(FindRegisterAddress, TriesEveryCandidateDownToZero) {
  for (bool present : {true, false}) {
    LineRig rig;
    CashRegister reg;  // blank memory: address byte 0x00
    if (present) rig.line.attach(reg);
    std::uint8_t address = kUnchangedAddress;
    EXPECT_EQ(FindRegisterAddress(rig.port, address), present);
    EXPECT_EQ(address, present ? 0x00 : kUnchangedAddress);
    const auto hosts = rig.line.traceOf(sim::Direction::HostToDevice);
    ASSERT_EQ(hosts.size(), 256u);
    for (std::size_t i = 0; i < hosts.size(); ++i) {
      EXPECT_EQ(hosts[i].byte, 0xFF - i);
      EXPECT_EQ(hosts[i].start, i * 11 * kMs);
    }
    EXPECT_EQ(rig.parity(), serial::Parity::Mark);
  }
}

TEST(FindRegisterAddress, StopsAtAForeignByte) {
  LineRig rig;
  CashRegister reg(2);  // 0xFD
  reg.faultOnExchange(1, RegisterFault::WrongEcho, {0x02});
  rig.line.attach(reg);
  std::uint8_t address = kUnchangedAddress;
  EXPECT_FALSE(FindRegisterAddress(rig.port, address));
  EXPECT_EQ(address, kUnchangedAddress);
  EXPECT_EQ(rig.wire(), "FFm FEm FDm <02");
}

TEST(FindRegisterAddress, TakesALateEchoAsTheAnswerToTheNextCandidate) {
  LineRig rig;
  sim::ScriptedDevice late;
  late.on({0xFF}, {0xFF}, 10.5);  // arrives after the poll that follows the wait
  rig.line.attach(late);
  std::uint8_t address = kUnchangedAddress;
  EXPECT_FALSE(FindRegisterAddress(rig.port, address));
  EXPECT_EQ(address, kUnchangedAddress);
  EXPECT_EQ(rig.wire(), "FFm FEm <FF");
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
  EXPECT_EQ(rig.at(2).start, 41 * kMs);         // DelayMs(40) after the address byte
  EXPECT_EQ(rig.line.now(), (41 + 401) * kMs);  // then DelayMs(400)
  EXPECT_EQ(rig.parity(), serial::Parity::Space);
}

TEST(ReadFirmwareVersion, FormsTheCodeFromTheNibblesInDecimal) {
  struct Case {
    std::uint8_t d5, d6;
    std::int32_t code;
  };
  for (const Case c : {Case{0x01, 0x05, 105}, Case{0x01, 0x00, 100}, Case{0x12, 0x34, 1234},
                       Case{0x0A, 0x05, 1005}, Case{0x01, 0x06, 106}}) {
    LineRig rig;
    CashRegister reg(45);
    reg.setFirmwareVersion(c.d5, c.d6);
    rig.line.attach(reg);
    std::int32_t version = kUnchangedVersion;
    EXPECT_TRUE(ReadFirmwareVersion(rig.port, 0xBA, version));
    EXPECT_EQ(version, c.code) << std::hex << int{c.d5} << " " << int{c.d6};
  }
  EXPECT_EQ(VersionCode(0xFF, 0xFF), 15151515);
}

TEST(ReadFirmwareVersion, BadOrMissingRepliesGiveZeroMissingAnswersFail) {
  struct Case {
    RegisterFault fault;
    bool onQuery;  // the fault hits the query frame, not the address phase
    bool result;
    std::int32_t version;
    serial::Parity parityAfter;
  };
  using P = serial::Parity;
  for (const Case c : {Case{RegisterFault::BadReplyChecksum, true, true, 0, P::Space},
                       Case{RegisterFault::ShortReply, true, true, 0, P::Space},
                       Case{RegisterFault::NoReply, true, true, 0, P::Space},
                       Case{RegisterFault::WrongAck, true, false, kUnchangedVersion, P::Space},
                       Case{RegisterFault::Silent, true, false, kUnchangedVersion, P::Space},
                       Case{RegisterFault::Silent, false, false, kUnchangedVersion, P::Mark},
                       Case{RegisterFault::WrongEcho, false, false, kUnchangedVersion, P::Mark}}) {
    LineRig rig;
    CashRegister reg(45);
    if (c.onQuery)
      reg.faultOnCommand(kCmdVersionQuery, c.fault);
    else
      reg.faultOnExchange(1, c.fault);
    rig.line.attach(reg);
    std::int32_t version = kUnchangedVersion;
    EXPECT_EQ(ReadFirmwareVersion(rig.port, 0xBA, version), c.result) << static_cast<int>(c.fault);
    EXPECT_EQ(version, c.version) << static_cast<int>(c.fault);
    EXPECT_EQ(rig.parity(), c.parityAfter) << static_cast<int>(c.fault);
    if (!c.onQuery) {
      EXPECT_EQ(rig.line.traceOf(sim::Direction::HostToDevice).size(), 1u);  // no frame sent
    }
  }
}

}  // namespace
}  // namespace kkm::reg
