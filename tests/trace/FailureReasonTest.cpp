// Every failure reason, produced on the virtual line by a simulated register,
// KIA board or line fault, and checked with its details; and the one line a
// failed connection leaves on standard error.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>

#include "kia/KiaFailure.h"
#include "kia/KiaUnit.h"
#include "register/AddressDiscovery.h"
#include "register/MemoryCommands.h"
#include "register/RegisterFailure.h"
#include "serial/Failure.h"
#include "serial/SerialLine.h"
#include "service/Connection.h"
#include "service/Session.h"
#include "service/SessionFailure.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/Facts.h"
#include "tests/support/TraceRig.h"

namespace kkm::serial {
// Readable failures in test messages.
void PrintTo(const Failure& f, std::ostream* os) {
  *os << "{" << f.name() << ", waited " << f.waitedMs << ", expected " << f.expected << ", got " << f.got
      << ", errno " << f.osError << (f.cause ? ", caused by " + DescribeFailure(*f.cause) : "") << "}";
}
}  // namespace kkm::serial

namespace kkm::test {
namespace {

using kia::KiaFailure;
using reg::RegisterFailure;
using serial::Failure;
using serial::LineFailure;
using serial::Status;
using service::SessionFailure;
using sim::CashRegister;
using sim::RegisterFault;

constexpr std::uint8_t kLine = 0xFE;  // network number 1
constexpr std::uint16_t kCell = test::kWorkingNumberAddress;
constexpr std::uint16_t kStored = test::kStoredNumberAddress;
constexpr std::int32_t kVersion = 105;

// A register (or a KIA board wired to one) on a virtual line, and the
// application's state on a platform that may put an adapter in between.
struct Rig {
  enum class Device { Register, Kia, Nothing };
  explicit Rig(Device device) {
    virtualPlatform.addPort("COM1", line);
    if (device == Device::Register) line.attach(reg);
    if (device == Device::Kia) {
      board = std::make_unique<sim::kia::KiaBoard>(reg.dataMemory(), reg.nonVolatile());
      line.attach(*board);
    }
  }
  Status open() { return serial::OpenComPort(platform, 1, state.port); }
  service::ConnectResult connect(service::Link link) { return service::Connect(state, 1, link); }

  sim::VirtualLine line;
  sim::VirtualPlatform virtualPlatform{line};
  DecoratingPlatform platform{virtualPlatform};
  CashRegister reg{1};
  std::unique_ptr<sim::kia::KiaBoard> board;
  service::Session state{platform, "kkm-netnum"};
};

struct Case {
  const char* name;
  Rig::Device device;
  std::function<Status(Rig&)> run;  // sets the fault up and runs the operation; its result
  Failure expected;
};

// `operation` on the port once it is open.
Status Opened(Rig& rig, const std::function<Status(serial::PortHandle&)>& operation) {
  const Status opened = rig.open();
  return opened ? operation(rig.state.port) : opened;
}
Status ReadByte(Rig& rig) {
  std::uint8_t value = 0;
  return Opened(rig, [&](auto& port) { return reg::ReadRegisterByte(port, kLine, kCell, value); });
}
Status ReadBlock(Rig& rig, std::uint8_t count) {
  std::array<std::uint8_t, 1> buffer{};
  return Opened(
      rig, [&](auto& port) { return reg::ReadRegisterBlock(port, kLine, kStored, count, buffer, kVersion); });
}
Status KiaEepromRead(Rig& rig) {
  std::uint8_t value = 0;
  return Opened(rig, [&](auto& port) { return kia::KiaReadEeprom(port, kStored, value); });
}

// The byte command frames' checksums (the acknowledgements expected).
constexpr std::int32_t kReadByteAck = 0xFF - ((0x04 + 0x06 + 0x40 + 0x11 + 0x01) & 0xFF);
constexpr std::uint8_t kWrongByte = 0x12;

const Case kCases[] = {
    {"NoEcho", Rig::Device::Register,
     [](Rig& rig) {
       rig.reg.faultOnExchange(1, RegisterFault::Silent);
       return ReadByte(rig);
     },
     serial::TimedOut(RegisterFailure::NoEcho, 500, kLine)},
    {"WrongEcho", Rig::Device::Register,
     [](Rig& rig) {
       rig.reg.faultOnExchange(1, RegisterFault::WrongEcho, {kWrongByte});
       return ReadByte(rig);
     },
     serial::Unexpected(RegisterFailure::WrongEcho, kLine, kWrongByte)},
    {"BusyTooLong", Rig::Device::Register,
     [](Rig& rig) {
       rig.reg.setBusyForever(true);
       return ReadBlock(rig, 1);
     },
     serial::Persisting(RegisterFailure::BusyTooLong, 0x65, -1)},
    {"NoAcknowledgement", Rig::Device::Register,
     [](Rig& rig) {
       rig.reg.faultOnCommand(0x06, RegisterFault::Silent);
       return ReadByte(rig);
     },
     serial::TimedOut(LineFailure::NoAcknowledgement, 700, kReadByteAck)},
    {"WrongAcknowledgement", Rig::Device::Register,
     [](Rig& rig) {
       rig.reg.faultOnCommand(0x06, RegisterFault::WrongAck, 1, {kWrongByte});
       return ReadByte(rig);
     },
     serial::Unexpected(LineFailure::WrongAcknowledgement, kReadByteAck, kWrongByte)},
    {"ReplyTooShort", Rig::Device::Register,
     [](Rig& rig) {
       rig.reg.faultOnCommand(0x06, RegisterFault::ShortReply);
       return ReadByte(rig);
     },
     serial::TimedOut(LineFailure::ReplyTooShort, 700, 3, 2)},
    {"ReplyChecksum", Rig::Device::Register,
     [](Rig& rig) {
       rig.reg.faultOnCommand(0x06, RegisterFault::BadReplyChecksum);
       return ReadByte(rig);
     },
     serial::Unexpected(RegisterFailure::ReplyChecksum, 0xFF, 0x00)},
    {"ReplyTooLong", Rig::Device::Register, [](Rig& rig) { return ReadBlock(rig, 2); },
     serial::Unexpected(RegisterFailure::ReplyTooLong, 1, 2)},
    {"BusError", Rig::Device::Kia,
     [](Rig& rig) {
       rig.board->setDevicePresent(sim::kia::kReadBusAddress, false);
       return KiaEepromRead(rig);
     },
     serial::Unexpected(KiaFailure::BusError, 0x11, 0x03)},  // 03: no device acknowledged its bus address
    {"RequestRefused",
     Rig::Device::Register,
     [](Rig& rig) {
       const std::array<std::uint8_t, 1> data{0xBA};
       return Opened(
           rig, [&](auto& port) { return reg::WriteRegisterBlock(port, kLine, 0x0A81, data, 1, kVersion); });
     },
     {RegisterFailure::RequestRefused}},
    {"PortUnavailable",
     Rig::Device::Register,
     [](Rig& rig) {
       rig.virtualPlatform.removePort("COM1");
       return rig.open();
     },
     {LineFailure::PortUnavailable}},
    {"ParityDropped", Rig::Device::Register,
     [](Rig& rig) {
       rig.platform.decorate([](auto port) { return std::make_unique<ParityDroppingPort>(std::move(port)); });
       return ReadByte(rig);
     },
     serial::Wrap(serial::TimedOut(LineFailure::ParityDropped, 500, kLine),
                  serial::TimedOut(RegisterFailure::NoEcho, 500, kLine))},
    {"PortVanished", Rig::Device::Register,
     [](Rig& rig) {
       if (!rig.open()) return Status{};
       rig.line.vanish();
       std::uint8_t value = 0;
       return reg::ReadRegisterByte(rig.state.port, kLine, kCell, value);
     },
     serial::Wrap(serial::TimedOut(LineFailure::PortVanished, 500, kLine),
                  serial::TimedOut(RegisterFailure::NoEcho, 500, kLine))},
    {"NoRegisterFound", Rig::Device::Nothing,
     [](Rig& rig) {
       std::uint8_t address = 0;
       return Opened(rig, [&](auto& port) { return reg::FindRegisterAddress(port, address); });
     },
     serial::TimedOut(RegisterFailure::NoRegisterFound, 10)},
    {"WrongFirmware", Rig::Device::Register,
     [](Rig& rig) {
       rig.reg.setFirmwareVersion(0x01, 0x04);
       return Status(rig.connect(service::Link::Processor).failure);
     },
     serial::Unexpected(SessionFailure::WrongFirmware, 105, 104)},
    {"NoKiaAnswer", Rig::Device::Nothing,
     [](Rig& rig) { return Status(rig.connect(service::Link::Kia).failure); },
     serial::Wrap(serial::TimedOut(SessionFailure::NoKiaAnswer, 50),
                  serial::TimedOut(LineFailure::NoAcknowledgement, 50, 0x01))},
};

class FailureReason : public ::testing::TestWithParam<Case> {};

TEST_P(FailureReason, IsReportedWithItsDetails) {
  const Case& c = GetParam();
  Rig rig(c.device);
  // A stale failure of the platform must not pass for this one.
  serial::Fail({LineFailure::PortVanished});
  ::testing::internal::CaptureStderr();
  const Status status = c.run(rig);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(status);
  Failure got = status.failure();
  // How long the busy answers went on depends on the register's pace: past the bound is what counts.
  if (c.expected.is(RegisterFailure::BusyTooLong)) {
    EXPECT_GT(got.waitedMs, static_cast<std::int32_t>(reg::kBusyLimitMs));
    got.waitedMs = -1;
  }
  EXPECT_EQ(got.name(), std::string(c.expected.name()));
  EXPECT_EQ(got, c.expected) << serial::DescribeFailure(got);
  // The link operations and the core say nothing on standard error: that
  // line is the front end's.
  EXPECT_EQ(errors, "");
}

INSTANTIATE_TEST_SUITE_P(OnTheVirtualLine, FailureReason, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every code of every layer has its own machine name and a text; a success reads as such.
template <typename Code>
void CollectNames(int count, std::set<std::string>& names) {
  for (int i = 0; i < count; ++i) {
    const Failure failure{static_cast<Code>(i)};
    EXPECT_TRUE(names.insert(failure.name()).second) << failure.name();
    EXPECT_FALSE(failure.text().empty());
  }
}
TEST(FailureNames, AreDistinctAndEveryCodeHasAText) {
  std::set<std::string> names{"ok"};
  CollectNames<LineFailure>(serial::kLineFailureCount, names);
  CollectNames<RegisterFailure>(reg::kRegisterFailureCount, names);
  CollectNames<KiaFailure>(1, names);
  CollectNames<SessionFailure>(service::kSessionFailureCount, names);
  EXPECT_NE(Failure{LineFailure::PermissionDenied}.text().find("dialout"), std::string::npos);
  EXPECT_EQ(serial::DescribeFailure(serial::TimedOut(RegisterFailure::NoEcho, 10, 0xFE)),
            "no-echo: эхо адресного байта FE не пришло за 10 мс");
  EXPECT_EQ(serial::DescribeFailure({}), "ok: успешно");
}

// A successful operation carries no failure, whatever the platform recorded before.
TEST(FailureReasonAfterSuccess, IsNone) {
  Rig rig(Rig::Device::Register);
  ASSERT_TRUE(rig.open());
  serial::Fail({RegisterFailure::NoEcho});
  std::uint8_t value = 0;
  EXPECT_EQ(reg::ReadRegisterByte(rig.state.port, kLine, kCell, value).failure(), Failure{});
}

// A request refused before the port was touched stays the caller's fault,
// even on a port that has gone away.
TEST(FailureReasonOnAVanishedPort, LeavesARefusedRequestAsItIs) {
  Rig rig(Rig::Device::Register);
  ASSERT_TRUE(rig.open());
  rig.line.vanish();
  std::uint8_t value = 0;
  ASSERT_TRUE(
      reg::ReadRegisterByte(rig.state.port, kLine, kCell, value).failure().is(LineFailure::PortVanished));
  const std::array<std::uint8_t, 1> data{0xBA};
  EXPECT_EQ(reg::WriteRegisterBlock(rig.state.port, kLine, 0x0A81, data, 1, kVersion).failure(),
            Failure{RegisterFailure::RequestRefused});
}

// A failed connection comes back with its reason, for the front end to show
// in its one line on standard error; the core itself writes nothing there.
TEST(ConnectionFailure, ComesBackWithItsReason) {
  struct Attempt {
    Rig::Device device;
    service::Link link;
    const char* reason;  // expected, or nullptr for a connection
  };
  const Attempt attempts[] = {
      {Rig::Device::Nothing, service::Link::Processor,
       "no-register: ни один адрес 00..FF не получил эха: ККМ не ответила на поиск"},
      {Rig::Device::Nothing, service::Link::Kia, "no-kia-answer: микроконтроллер КИА не ответил за 50 мс"},
      {Rig::Device::Register, service::Link::Processor, nullptr},
  };
  for (const Attempt& attempt : attempts) {
    Rig rig(attempt.device);
    ::testing::internal::CaptureStderr();
    const service::ConnectResult result = rig.connect(attempt.link);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result.connected(), attempt.reason == nullptr);
    EXPECT_EQ(result.failure.failed() ? serial::DescribeFailure(result.failure) : "",
              attempt.reason ? attempt.reason : "");
    EXPECT_EQ(errors, "");
  }
}

}  // namespace
}  // namespace kkm::test
