#include <gtest/gtest.h>

#include <array>

#include "register/AddressDiscovery.h"
#include "register/MemoryCommands.h"
#include "register/RegisterFrame.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/line/ScriptedDevice.h"
#include "tests/register/LineRig.h"

namespace kkm::reg {
namespace {

using serial::Parity;
using sim::CashRegister;
using sim::RegisterFault;
using test::kMs;
using test::kPollStep;
using test::LineRig;

constexpr std::uint8_t kAddress45 = 0xBA;  // the line address of network number 45
constexpr std::uint8_t kUntouched = 0x5A;

// The calls of a block command's address phase by version: with or without
// the address byte and its echo.
std::string BlockSelectCalls(bool addressed) {
  return addressed ? "purge 0C, purge 0F, mark, write BA, read 1, space" : "purge 0C, purge 0F, mark, space";
}

TEST(ByteCommands, ReadAndWriteTheWorkedFramesAt0x1140) {
  LineRig rig;
  CashRegister reg(45);
  rig.line.attach(reg);
  std::uint8_t value = 0;
  ASSERT_TRUE(ReadRegisterByte(rig.port, kAddress45, 0x1140, value));
  EXPECT_EQ(value, 0xBA);
  EXPECT_EQ(rig.wire(), "BAm <BA 04s 06s 40s 11s 01s A3s <A3 <01 <BA <44");
  EXPECT_EQ(
      rig.calls(),
      "purge 0C, mark, write BA, read 1, space, write 04 06 40 11 01 A3, read 1, read 1, read 1, read 1");
  EXPECT_LT(rig.at(2).start - rig.at(1).end, kPollStep);  // the frame follows the echo at once
  EXPECT_EQ(rig.parity(), Parity::Space);

  rig.line.clearTrace();
  rig.ops.clear();
  reg.dataMemory()[0x1140] = 0;
  ASSERT_TRUE(WriteRegisterByte(rig.port, kAddress45, 0x1140, 0xBA));
  EXPECT_EQ(reg.dataMemory()[0x1140], 0xBA);
  EXPECT_EQ(rig.wire(), "BAm <BA 05s 05s 40s 11s 01s BAs E9s <E9");
  EXPECT_EQ(rig.calls(), "purge 0C, mark, write BA, read 1, space, write 05 05 40 11 01 BA E9, read 1");
}

TEST(ByteCommands, FailOnEveryMissingOrWrongAnswer) {
  struct Case {
    RegisterFault fault;
    bool addressPhase;
  };
  for (const Case c :
       {Case{RegisterFault::Silent, true}, Case{RegisterFault::WrongEcho, true},
        Case{RegisterFault::Silent, false}, Case{RegisterFault::WrongAck, false},
        Case{RegisterFault::ShortReply, false}, Case{RegisterFault::BadReplyChecksum, false}}) {
    LineRig rig;
    CashRegister reg(45);
    if (c.addressPhase)
      reg.faultOnExchange(1, c.fault);
    else
      reg.faultOnCommand(kCmdReadByte, c.fault);
    rig.line.attach(reg);
    std::uint8_t value = kUntouched;
    EXPECT_FALSE(ReadRegisterByte(rig.port, kAddress45, 0x1140, value)) << static_cast<int>(c.fault);
    EXPECT_EQ(rig.parity(), c.addressPhase ? Parity::Mark : Parity::Space) << static_cast<int>(c.fault);
  }
  // A reply whose checksum is off by one, as the register's worked reply 01 BA 44 is not.
  LineRig rig;
  sim::ScriptedDevice dev;
  dev.on({0xBA}, {0xBA}).on({0x04, 0x06, 0x40, 0x11, 0x01, 0xA3}, {0xA3, 0x01, 0xBA, 0x45});
  rig.line.attach(dev);
  std::uint8_t value = kUntouched;
  EXPECT_FALSE(ReadRegisterByte(rig.port, kAddress45, 0x1140, value));
  // No echo at all: the 500 ms wait ends at its first tick past the limit.
  LineRig quiet;
  EXPECT_FALSE(WriteRegisterByte(quiet.port, kAddress45, 0x1140, 0xBA));
  EXPECT_EQ(quiet.wire(), "BAm");
  EXPECT_EQ(quiet.line.now(), 501 * kMs);
}

TEST(BlockCommands, AddressPhaseFollowsTheVersionCode) {
  for (std::int32_t version : {99, 100, 104, 105, 106}) {
    SCOPED_TRACE(version);
    const bool addressed = version >= 100 && version <= 105;
    LineRig rig;
    CashRegister reg(45);
    reg.setAddressPhaseRequired(false);  // takes frames without an address byte too
    rig.line.attach(reg);
    const std::uint8_t checksum = reg.nonVolatile()[0x0740];
    std::array<std::uint8_t, 1> buffer{kUntouched};
    ASSERT_TRUE(ReadRegisterBlock(rig.port, kAddress45, 0x0740, 1, buffer, version));
    EXPECT_EQ(buffer[0], checksum);
    const std::string echo = addressed ? "BAm <BA " : "";
    EXPECT_EQ(rig.wire(), echo + "04s 16s 40s 07s 01s 9Ds <9D <01 <" + test::Hex(checksum) + " <" +
                              test::Hex(static_cast<std::uint8_t>(0xFE - checksum)));
    EXPECT_EQ(rig.calls(),
              BlockSelectCalls(addressed) +
                  ", write 04, write 16, write 40, write 07, write 01, write 9D, read 1, read 1, "
                  "read 1, read 1");

    rig.line.clearTrace();
    rig.ops.clear();
    const std::array<std::uint8_t, 1> data{0xBA};
    ASSERT_TRUE(WriteRegisterBlock(rig.port, kAddress45, 0x0740, data, 1, version));
    EXPECT_EQ(reg.nonVolatile()[0x0740], 0xBA);
    EXPECT_EQ(rig.wire(), echo + "05s 17s 40s 07s 01s BAs E1s <E1");
    EXPECT_EQ(rig.calls(),
              BlockSelectCalls(addressed) +
                  ", write 05, write 17, write 40, write 07, write 01, write BA, write E1, read 1");
    EXPECT_EQ(rig.parity(), Parity::Space);
  }
}

TEST(BlockCommands, LateEchoFailsBelowVersion105) {
  LineRig rig;
  CashRegister reg(45);
  reg.setTiming({.echoDelayMs = 25});
  rig.line.attach(reg);
  std::array<std::uint8_t, 1> buffer{};
  EXPECT_FALSE(ReadRegisterBlock(rig.port, kAddress45, 0x0740, 1, buffer, 104));
  EXPECT_EQ(rig.wire(), "BAm");
  EXPECT_EQ(rig.parity(), Parity::Mark);
}

TEST(BlockCommands, Version105RepeatsTheAddressAfterSilenceAndBusyAnswers) {
  // Busy twice, then the echo: three address bytes, each as soon as 0x65 is in.
  LineRig rig;
  CashRegister reg(45);
  reg.setBusyAnswers(2);
  rig.line.attach(reg);
  std::array<std::uint8_t, 1> buffer{};
  ASSERT_TRUE(ReadRegisterBlock(rig.port, kAddress45, 0x073E, 1, buffer, 105));
  EXPECT_EQ(buffer[0], 0xBA);
  EXPECT_EQ(rig.wire(), "BAm <65 BAm <65 BAm <BA 04s 16s 3Es 07s 01s 9Fs <9F <01 <BA <44");
  EXPECT_LT(rig.at(2).start - rig.at(1).end, kPollStep);
  // The first address byte goes unheard: the second one, 1650 ms later, gets the echo.
  LineRig missed;
  CashRegister deaf(45);
  deaf.faultOnExchange(1, RegisterFault::Silent);
  missed.line.attach(deaf);
  EXPECT_TRUE(ReadRegisterBlock(missed.port, kAddress45, 0x073E, 1, buffer, 105));
  EXPECT_EQ(missed.wire().substr(0, 15), "BAm BAm <BA 04s");
  EXPECT_EQ(missed.at(1).start, 1651 * kMs);
  // Nobody there: two address bytes, then failure after 1650 + 20 ms in MARK parity.
  LineRig silent;
  EXPECT_FALSE(ReadRegisterBlock(silent.port, kAddress45, 0x073E, 1, buffer, 105));
  EXPECT_EQ(silent.wire(), "BAm BAm");
  EXPECT_EQ(silent.calls(), "purge 0C, purge 0F, mark, write BA, write BA");
  EXPECT_EQ(silent.line.now(), (1651 + 21) * kMs);
  EXPECT_EQ(silent.parity(), Parity::Mark);
}

TEST(BlockCommands, Version105BusyAnswersAreBoundedByTenSeconds) {
  for (bool forever : {false, true}) {
    LineRig rig;
    CashRegister reg(45);
    reg.setTiming({.echoDelayMs = 100});
    if (forever)
      reg.setBusyForever(true);
    else
      reg.setBusyAnswers(90);  // about 9.2 s of busy answers, then the echo
    rig.line.attach(reg);
    std::array<std::uint8_t, 1> buffer{};
    EXPECT_EQ(ReadRegisterBlock(rig.port, kAddress45, 0x073E, 1, buffer, 105), !forever);
    const auto hosts = rig.line.traceOf(sim::Direction::HostToDevice);
    if (!forever) {
      EXPECT_EQ(hosts.size(), 91u + 6u);
      continue;
    }
    // It gives up at the first busy answer read more than 10 s after the first address byte.
    const auto tick = [](sim::SimTime t) { return static_cast<std::uint32_t>(t / kMs); };
    EXPECT_GT(tick(rig.line.now()) - tick(hosts.front().start), kBusyLimitMs);
    EXPECT_LE(tick(hosts.back().start) - tick(hosts.front().start), kBusyLimitMs);
    EXPECT_EQ(rig.line.traceOf(sim::Direction::DeviceToHost).size(), hosts.size());
    EXPECT_EQ(rig.parity(), Parity::Mark);
  }
}

TEST(ReadRegisterBlock, TakesAnEmptyReplyAndRefusesOneLongerThanTheBuffer) {
  for (std::uint8_t checksum : {0xFF, 0xFE}) {
    LineRig rig;
    sim::ScriptedDevice dev;
    dev.on({0xBA}, {0xBA}).on({0x04, 0x16, 0x40, 0x07, 0x01, 0x9D}, {0x9D, 0x00, checksum});
    rig.line.attach(dev);
    std::array<std::uint8_t, 1> buffer{kUntouched};
    EXPECT_EQ(ReadRegisterBlock(rig.port, kAddress45, 0x0740, 1, buffer, 104), checksum == 0xFF);
    EXPECT_EQ(buffer[0], kUntouched);
  }
  // Two bytes asked for, room for one: refused as soon as L is read.
  LineRig rig;
  CashRegister reg(45);
  rig.line.attach(reg);
  std::array<std::uint8_t, 3> storage{kUntouched, kUntouched, kUntouched};
  EXPECT_FALSE(ReadRegisterBlock(rig.port, kAddress45, 0x073E, 2, std::span(storage).first(1), 105));
  EXPECT_EQ(storage, (std::array<std::uint8_t, 3>{kUntouched, kUntouched, kUntouched}));
  EXPECT_TRUE(rig.calls().ends_with("write 02, write 9E, read 1, read 1"));
}

TEST(WriteRegisterBlock, RefusesBadArgumentsWithoutTouchingThePort) {
  const std::array<std::uint8_t, 2> data{0x11, 0x22};
  LineRig rig;
  CashRegister reg(45);
  rig.line.attach(reg);
  EXPECT_FALSE(WriteRegisterBlock(rig.port, kAddress45, 0x0A81, data, 1, 105));
  EXPECT_FALSE(WriteRegisterBlock(rig.port, kAddress45, 0x0100, data, -1, 105));
  EXPECT_FALSE(WriteRegisterBlock(rig.port, kAddress45, 0x0100, data, 3, 105));  // more than the data
  EXPECT_FALSE(WriteRegisterBlock(rig.port, kAddress45, 0x0100, std::vector<std::uint8_t>(300), 252, 105));
  EXPECT_EQ(rig.calls(), "");
  EXPECT_EQ(rig.wire(), "");
  // The highest start address is taken, and a count of 0 sends the bare frame.
  ASSERT_TRUE(WriteRegisterBlock(rig.port, kAddress45, 0x0A80, data, 2, 105));
  EXPECT_EQ(reg.nonVolatile()[0x0A81], 0x22);
  rig.line.clearTrace();
  ASSERT_TRUE(WriteRegisterBlock(rig.port, kAddress45, 0x0740, data, 0, 105));
  EXPECT_EQ(rig.wire(), "BAm <BA 04s 17s 40s 07s 00s 9Ds <9D");
}

TEST(RegisterLink, NetworkNumberWriteLeavesTheRegisterConsistent) {
  LineRig rig;
  CashRegister reg(1);
  rig.line.attach(reg);
  std::uint8_t address = 0xFF;
  std::int32_t version = 0;
  ASSERT_TRUE(FindRegisterAddress(rig.port, address));
  ASSERT_TRUE(ReadFirmwareVersion(rig.port, address, version));
  const std::uint8_t b = CashRegister::NetworkNumberByte(45);
  std::array<std::uint8_t, 1> checksum{}, stored{};
  ASSERT_TRUE(WriteRegisterByte(rig.port, address, 0x1140, b));
  ASSERT_TRUE(ReadRegisterBlock(rig.port, address, 0x0740, 1, checksum, version));
  ASSERT_TRUE(ReadRegisterBlock(rig.port, address, 0x073E, 1, stored, version));
  const std::array<std::uint8_t, 1> newChecksum{static_cast<std::uint8_t>(checksum[0] - stored[0] + b)};
  ASSERT_TRUE(WriteRegisterBlock(rig.port, address, 0x073E, std::span(&b, 1), 1, version));
  ASSERT_TRUE(WriteRegisterBlock(rig.port, address, 0x0740, newChecksum, 1, version));
  ASSERT_TRUE(WriteRegisterByte(rig.port, address, 0x020F, b));
  EXPECT_TRUE(reg.nonVolatileChecksumHolds());
  EXPECT_EQ(reg.lineAddress(), 0xBA);
  std::uint8_t value = 0;
  EXPECT_FALSE(ReadRegisterByte(rig.port, address, 0x1140, value));  // the old address is gone
  EXPECT_TRUE(ReadRegisterByte(rig.port, b, 0x1140, value));
  EXPECT_EQ(value, b);
}

}  // namespace
}  // namespace kkm::reg
