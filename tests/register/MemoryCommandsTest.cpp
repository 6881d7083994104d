#include <gtest/gtest.h>

#include <array>

#include "register/MemoryCommands.h"
#include "register/RegisterFrame.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/line/ScriptedDevice.h"
#include "tests/support/LineRig.h"

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
using Byte = std::array<std::uint8_t, 1>;

TEST(ByteCommands, SendTheWorkedFramesAt0x1140InOneWrite) {
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

  rig.line.clearTrace();
  rig.ops.clear();
  reg.dataMemory()[0x1140] = 0;
  ASSERT_TRUE(WriteRegisterByte(rig.port, kAddress45, 0x1140, 0xBA));
  EXPECT_EQ(reg.dataMemory()[0x1140], 0xBA);
  EXPECT_EQ(rig.wire(), "BAm <BA 05s 05s 40s 11s 01s BAs E9s <E9");
  EXPECT_EQ(rig.calls(), "purge 0C, mark, write BA, read 1, space, write 05 05 40 11 01 BA E9, read 1");
  EXPECT_EQ(rig.parity(), Parity::Space);
}

TEST(ByteCommands, FailOnEveryMissingOrWrongAnswer) {
  for (const auto& [fault, addressPhase] : {std::pair{RegisterFault::Silent, true},
                                            {RegisterFault::WrongEcho, true},
                                            {RegisterFault::Silent, false},
                                            {RegisterFault::WrongAck, false},
                                            {RegisterFault::ShortReply, false},
                                            {RegisterFault::BadReplyChecksum, false}}) {
    SCOPED_TRACE(static_cast<int>(fault));
    LineRig rig;
    CashRegister reg(45);
    addressPhase ? reg.faultOnExchange(1, fault) : reg.faultOnCommand(kCmdReadByte, fault);
    rig.line.attach(reg);
    std::uint8_t value = kUntouched;
    EXPECT_FALSE(ReadRegisterByte(rig.port, kAddress45, 0x1140, value));
    EXPECT_EQ(rig.parity(), addressPhase ? Parity::Mark : Parity::Space);
    if (addressPhase && fault == RegisterFault::Silent) {
      EXPECT_EQ(rig.line.now(), test::WaitEnd(rig.at(0).end, 500));  // the 500 ms echo wait
    }
  }
}

TEST(BlockCommands, AddressPhaseFollowsTheVersionCode) {
  for (std::int32_t version : {99, 100, 104, 105, 106}) {
    SCOPED_TRACE(version);
    const bool addressed = version >= 100 && version <= 105;
    const std::string select =
        addressed ? "purge 0C, purge 0F, mark, write BA, read 1, space" : "purge 0C, purge 0F, mark, space";
    const std::string echo = addressed ? "BAm <BA " : "";
    LineRig rig;
    CashRegister reg(45);
    reg.setAddressPhaseRequired(false);  // takes frames without an address byte too
    rig.line.attach(reg);
    const std::uint8_t checksum = reg.nonVolatile()[0x0740];
    Byte buffer{kUntouched};
    ASSERT_TRUE(ReadRegisterBlock(rig.port, kAddress45, 0x0740, 1, buffer, version));
    EXPECT_EQ(buffer[0], checksum);
    EXPECT_EQ(rig.wire(), echo + "04s 16s 40s 07s 01s 9Ds <9D <01 <" + test::Hex(checksum) + " <" +
                              test::Hex(static_cast<std::uint8_t>(0xFE - checksum)));
    EXPECT_EQ(rig.calls(), select +
                               ", write 04, write 16, write 40, write 07, write 01, write 9D, "
                               "read 1, read 1, read 1, read 1");
    rig.line.clearTrace();
    rig.ops.clear();
    ASSERT_TRUE(WriteRegisterBlock(rig.port, kAddress45, 0x0740, Byte{0xBA}, 1, version));
    EXPECT_EQ(reg.nonVolatile()[0x0740], 0xBA);
    EXPECT_EQ(rig.wire(), echo + "05s 17s 40s 07s 01s BAs E1s <E1");
    EXPECT_EQ(rig.calls(),
              select + ", write 05, write 17, write 40, write 07, write 01, write BA, write E1, read 1");
    EXPECT_EQ(rig.parity(), Parity::Space);
  }
  // Versions 100..104 wait 20 ms for the echo.
  LineRig rig;
  CashRegister reg(45);
  reg.setTiming({.echoDelayMs = 25});
  rig.line.attach(reg);
  Byte buffer{};
  EXPECT_FALSE(ReadRegisterBlock(rig.port, kAddress45, 0x0740, 1, buffer, 104));
  EXPECT_EQ(rig.parity(), Parity::Mark);
}

TEST(BlockCommands, Version105RepeatsTheAddressAfterBusyAnswersAndSilence) {
  LineRig rig;
  CashRegister reg(45);
  reg.setBusyAnswers(2);
  rig.line.attach(reg);
  Byte buffer{};
  ASSERT_TRUE(ReadRegisterBlock(rig.port, kAddress45, 0x073E, 1, buffer, 105));
  EXPECT_EQ(buffer[0], 0xBA);
  EXPECT_EQ(rig.wire(), "BAm <65 BAm <65 BAm <BA 04s 16s 3Es 07s 01s 9Fs <9F <01 <BA <44");
  EXPECT_LT(rig.at(2).start - rig.at(1).end, kPollStep);
  // Nobody there: two address bytes, then failure after 1650 + 20 ms.
  LineRig silent;
  EXPECT_FALSE(ReadRegisterBlock(silent.port, kAddress45, 0x073E, 1, buffer, 105));
  EXPECT_EQ(silent.calls(), "purge 0C, purge 0F, mark, write BA, write BA");
  EXPECT_EQ(silent.at(1).start, test::WaitEnd(silent.at(0).end, 1650));
  EXPECT_EQ(silent.line.now(), test::WaitEnd(silent.at(1).end, 20));
  EXPECT_EQ(silent.parity(), Parity::Mark);
}

TEST(BlockCommands, Version105BusyAnswersAreBoundedByTenSeconds) {
  for (bool forever : {false, true}) {
    LineRig rig;
    CashRegister reg(45);
    reg.setTiming({.echoDelayMs = 100});
    forever ? reg.setBusyForever(true) : reg.setBusyAnswers(90);  // about 9.2 s, then the echo
    rig.line.attach(reg);
    Byte buffer{};
    EXPECT_EQ(ReadRegisterBlock(rig.port, kAddress45, 0x073E, 1, buffer, 105).ok(), !forever);
    if (!forever) continue;
    // It gives up at the first busy answer read more than 10 s after the first address byte.
    const auto sent = rig.line.traceOf(sim::Direction::HostToDevice);
    const auto tick = [](sim::SimTime t) { return static_cast<std::uint32_t>(t / kMs); };
    EXPECT_GT(tick(rig.line.now()) - tick(sent.front().start), kBusyLimitMs);
    EXPECT_LE(tick(sent.back().start) - tick(sent.front().start), kBusyLimitMs);
    EXPECT_EQ(rig.line.traceOf(sim::Direction::DeviceToHost).size(), sent.size());
    EXPECT_EQ(rig.parity(), Parity::Mark);
  }
}

TEST(ReadRegisterBlock, TakesAnEmptyReplyAndRefusesOneLongerThanTheBuffer) {
  for (std::uint8_t checksum : {0xFF, 0xFE}) {
    LineRig rig;
    sim::ScriptedDevice dev;
    dev.on({0xBA}, {0xBA}).on({0x04, 0x16, 0x40, 0x07, 0x01, 0x9D}, {0x9D, 0x00, checksum});
    rig.line.attach(dev);
    Byte buffer{kUntouched};
    EXPECT_EQ(ReadRegisterBlock(rig.port, kAddress45, 0x0740, 1, buffer, 104).ok(), checksum == 0xFF);
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
  EXPECT_EQ(rig.calls() + rig.wire(), "");
  // The highest start address is taken, and a count of 0 sends the bare frame.
  ASSERT_TRUE(WriteRegisterBlock(rig.port, kAddress45, 0x0A80, data, 2, 105));
  EXPECT_EQ(reg.nonVolatile()[0x0A81], 0x22);
  rig.line.clearTrace();
  ASSERT_TRUE(WriteRegisterBlock(rig.port, kAddress45, 0x0740, data, 0, 105));
  EXPECT_EQ(rig.wire(), "BAm <BA 04s 17s 40s 07s 00s 9Ds <9D");
}

}  // namespace
}  // namespace kkm::reg
