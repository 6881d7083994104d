// Every fault the simulators can inject, at every exchange of the read and of
// the six-exchange write, on both links, through the real windows on the
// virtual line. Each case checks what the operator sees (box, status text,
// buttons), the line address the tool keeps, that the register's memories
// hold exactly the effect of the exchanges that reached it, and that the
// command took no longer than the waits it may make.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "register/MemoryCommands.h"
#include "service/NetworkNumber.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/reliability/CommandExchanges.h"
#include "tests/support/FaultTap.h"
#include "tests/support/OperationBounds.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/WindowsRig.h"

namespace kkm::test {
namespace {

using sim::CashRegister;
using sim::RegisterFault;
using sim::SimTime;
using ui::Link;
using Box = RecordingMessageBoxes::Box;
using Icon = ui::MessageBoxes::Icon;

// ---- The commands ------------------------------------------------------------

constexpr int kStartNumber = 1;  // the register holds 1 (byte 0xFE)
constexpr int kNewNumber = 45;   // and the operator writes 45 (byte 0xBA)
const QString kNewNumberText = QStringLiteral("45");
const QString kFieldBeforeRead = QStringLiteral("33");

std::uint8_t RegisterCommand(Access access) {
  switch (access) {
    case Access::ReadData:
      return 0x06;
    case Access::WriteData:
      return 0x05;
    case Access::ReadNonVolatile:
      return 0x16;
    case Access::WriteNonVolatile:
      break;
  }
  return 0x17;
}

// How many bytes the KIA controller sends for each frame: the acknowledgement,
// then the echo, the byte read, the marker and 64 bytes, or the marker and the
// final byte.
std::size_t KiaAnswerCount(Access access) {
  switch (access) {
    case Access::ReadData:
    case Access::WriteData:
      return 2;
    case Access::ReadNonVolatile:
      return 66;
    case Access::WriteNonVolatile:
      break;
  }
  return 3;
}

// ---- Faults ------------------------------------------------------------------

// On the processor link the simulated register injects them; on the KIA link
// they happen between the line and the board (WrongAck and StrayBytes strike
// both links).
enum class Fault {
  // Register processor link.
  EchoSilent,        // no echo to the first address byte
  EchoSilentTwice,   // nor to the second one the block commands send
  WrongEcho,         // the address byte answered with its complement
  AckSilent,         // echo, then no acknowledgement; the command is not run
  WrongAck,          // the command runs, the acknowledgement is wrong
  NoReply,           // acknowledged, no reply frame
  BadReplyChecksum,  // the reply's checksum is one too high
  ShortReply,        // the reply lacks its checksum
  StrayBytes,        // bytes after the exchange's last answer
  ShortBusyStorm,    // a few busy answers 0x65 before the echo
  EndlessBusyStorm,  // busy answers for longer than the tool waits
  // KIA link.
  MonitorSilent,      // the monitor never hears the frame
  BusDataLow,         // the EEPROM routines report bus error 0x01
  BusClockLow,        // ... 0x02
  BusNoDevice,        // ... 0x03
  LastAnswerMissing,  // the exchange's last byte never comes
  // Both links.
  VanishBeforeCommand,  // the port disappears as the command frame goes out
  VanishAfterCommand,   // the port disappears once the device has taken the frame
};

const char* Name(Fault f) {
  static constexpr std::array kNames{
      "EchoSilent",        "EchoSilentTwice",     "WrongEcho",         "AckSilent",   "WrongAck",
      "NoReply",           "BadReplyChecksum",    "ShortReply",        "StrayBytes",  "ShortBusyStorm",
      "EndlessBusyStorm",  "MonitorSilent",       "BusDataLow",        "BusClockLow", "BusNoDevice",
      "LastAnswerMissing", "VanishBeforeCommand", "VanishAfterCommand"};
  static_assert(kNames.size() == static_cast<std::size_t>(Fault::VanishAfterCommand) + 1);
  return kNames[static_cast<std::size_t>(f)];
}

constexpr std::array kProcessorFaults{
    Fault::EchoSilent,        Fault::EchoSilentTwice, Fault::WrongEcho,        Fault::AckSilent,
    Fault::WrongAck,          Fault::NoReply,         Fault::BadReplyChecksum, Fault::ShortReply,
    Fault::StrayBytes,        Fault::ShortBusyStorm,  Fault::EndlessBusyStorm, Fault::VanishBeforeCommand,
    Fault::VanishAfterCommand};
constexpr std::array kKiaFaults{
    Fault::MonitorSilent,     Fault::WrongAck,          Fault::BusDataLow, Fault::BusClockLow,
    Fault::BusNoDevice,       Fault::LastAnswerMissing, Fault::StrayBytes, Fault::VanishBeforeCommand,
    Fault::VanishAfterCommand};

// Whether the fault can strike an exchange of this kind.
bool Applies(Link link, Access access, Fault f) {
  if (link == Link::Processor) {
    switch (f) {
      case Fault::EchoSilentTwice:   // only the block commands send a second address byte
      case Fault::EndlessBusyStorm:  // only their address phase waits out busy answers
        return NonVolatile(access);
      case Fault::NoReply:
      case Fault::BadReplyChecksum:
      case Fault::ShortReply:
        return Reads(access);
      default:
        return true;
    }
  }
  const bool busFault = f == Fault::BusDataLow || f == Fault::BusClockLow || f == Fault::BusNoDevice;
  return !busFault || NonVolatile(access);
}

struct Effect {
  bool succeeds;  // the tool takes the exchange as done
  bool executes;  // the device carried out the command
};

Effect EffectOf(Access access, Fault f) {
  switch (f) {
    case Fault::EchoSilent:
      // The block commands send the address byte a second time and go on.
      return NonVolatile(access) ? Effect{true, true} : Effect{false, false};
    case Fault::ShortBusyStorm:
      // Only the block commands know the busy answer; to a byte command it is a wrong echo.
      return NonVolatile(access) ? Effect{true, true} : Effect{false, false};
    case Fault::StrayBytes:
      // The next exchange's purge drops them, and nobody waits for them after the last.
      return {true, true};
    case Fault::LastAnswerMissing:
      // The echo of a memory write is never read.
      return {access == Access::WriteData, true};
    case Fault::WrongAck:
    case Fault::NoReply:
    case Fault::BadReplyChecksum:
    case Fault::ShortReply:
    case Fault::VanishAfterCommand:
      return {false, true};
    default:
      return {false, false};
  }
}

// ---- The cases -------------------------------------------------------------------

struct Case {
  Link link;
  bool write;            // the write command, else the read
  std::size_t exchange;  // 1-based within the command
  Fault fault;

  const Exchange& struck() const { return write ? kWriteExchanges[exchange - 1] : kReadExchange; }
  Effect effect() const { return EffectOf(struck().access, fault); }
  // The exchange the command fails in; 0 when it succeeds.
  std::size_t failsIn() const { return effect().succeeds ? 0 : exchange; }
};

std::string CaseName(const Case& c) {
  std::string name = c.link == Link::Processor ? "Processor_" : "Kia_";
  name += c.write ? "Write" + std::to_string(c.exchange) : "Read";
  return name + "_" + Name(c.fault);
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const Link link : {Link::Processor, Link::Kia}) {
    const auto add = [&](bool write, std::size_t exchange, Access access) {
      const auto add_fault = [&](Fault f) {
        if (Applies(link, access, f)) cases.push_back({link, write, exchange, f});
      };
      if (link == Link::Processor)
        for (Fault f : kProcessorFaults) add_fault(f);
      else
        for (Fault f : kKiaFaults) add_fault(f);
    };
    add(false, 1, kReadExchange.access);
    for (std::size_t k = 1; k <= kWriteExchanges.size(); ++k) add(true, k, kWriteExchanges[k - 1].access);
  }
  return cases;
}

// ---- The rig ---------------------------------------------------------------------

// Long enough for a device to finish what a frame started (an EEPROM write
// cycle, the rest of a routine) after the tool has given up on it.
constexpr SimTime kSettleTime = 1000 * sim::kNsPerMs;
// Busy answers that take longer than the tool's bound on them (about 4 ms each).
constexpr std::uint32_t kEndlessBusyAnswers = 10'000;
constexpr std::uint32_t kShortBusyAnswers = 3;
// Bytes that look like an echo and a busy answer, or like an acknowledgement
// and a data marker: taken for answers, they would derail the next exchange.
const std::vector<std::uint8_t> kRegisterStrays{0xFE, sim::kBusyAnswer};
const std::vector<std::uint8_t> kKiaStrays{0x01, 0x11};
constexpr std::uint8_t kWrongKiaAck = 0xFE;
// The PC's UART hands received bytes over in FIFO batches, as a 16550 does.
constexpr unsigned kFifoTrigger = 14;
constexpr unsigned kFifoTimeoutCharacters = 4;

struct Memories {
  sim::DataMemory data;
  sim::NonVolatileMemory nonVolatile;
};

// The windows on a virtual line with the simulated register, reached through
// its processor or through the KIA board, each behind a tap.
class FaultRig : public ::testing::Test {
 protected:
  FaultRig() {
    line_.setHostReceiveFifo(kFifoTrigger, kFifoTimeoutCharacters);
    platform_.addPort("COM1", line_);
  }

  void plug(Link link) { line_.attach(tapOf(link)); }
  FaultTap& tapOf(Link link) { return link == Link::Processor ? processorTap_ : kiaTap_; }

  // The port vanishes as frame `frame` starts (the device never hears it), or
  // as the device sends its first answer to it (it has taken it).
  void armVanish(Link link, std::uint32_t frame, bool beforeCommand) {
    FaultTap::Strike strike;
    strike.frame = frame;
    if (beforeCommand) {
      strike.swallow = true;
      strike.beforeFrame = [this] { line_.vanish(); };
    } else {
      strike.answers = [this](std::size_t i, std::uint8_t b) {
        if (i == 0) line_.vanish();
        return std::vector<std::uint8_t>{b};
      };
    }
    tapOf(link).arm(strike);
  }

  Memories memories() const { return {register_.dataMemory(), register_.nonVolatile()}; }

  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  CashRegister register_{kStartNumber};
  sim::kia::KiaBoard board_{register_.dataMemory(), register_.nonVolatile()};
  FaultTap processorTap_{register_};
  FaultTap kiaTap_{board_};
  RecordingMessageBoxes boxes_;
  WindowsRig rig_{platform_, boxes_};
};

// ---- The matrix ------------------------------------------------------------------

class FaultMatrix : public FaultRig, public ::testing::WithParamInterface<Case> {
 protected:
  // Sets the fault up to strike exchange `c.exchange` of the next command.
  void inject(const Case& c) {
    const auto frame = static_cast<std::uint32_t>(c.exchange);
    if (c.fault == Fault::VanishBeforeCommand || c.fault == Fault::VanishAfterCommand) {
      // One frame per exchange on either link (address bytes are no frames).
      armVanish(c.link, frame, c.fault == Fault::VanishBeforeCommand);
    } else if (c.link == Link::Processor) {
      injectIntoRegister(c, register_.exchangeCount() + frame);
    } else {
      kiaTap_.arm(KiaStrike(c, frame));
    }
  }

  // Register faults are keyed by the register's own count of exchanges.
  void injectIntoRegister(const Case& c, std::uint32_t exchange) {
    const std::uint8_t command = RegisterCommand(c.struck().access);
    const auto inFrame = [&](RegisterFault fault, std::vector<std::uint8_t> bytes = {}) {
      register_.addFault({.fault = fault,
                          .exchange = exchange,
                          .command = command,
                          .occurrence = 0,
                          .times = 1,
                          .bytes = std::move(bytes),
                          .count = 0});
    };
    const auto busy = [&](std::uint32_t answers) {
      register_.addFault({.fault = RegisterFault::Busy,
                          .exchange = exchange,
                          .command = {},
                          .occurrence = 0,
                          .times = 1,
                          .bytes = {},
                          .count = answers});
    };
    switch (c.fault) {
      case Fault::EchoSilent:
        register_.faultOnExchange(exchange, RegisterFault::Silent);
        break;
      case Fault::EchoSilentTwice:
        // The second address byte starts an exchange of its own.
        register_.faultOnExchange(exchange, RegisterFault::Silent);
        register_.faultOnExchange(exchange + 1, RegisterFault::Silent);
        break;
      case Fault::WrongEcho:
        register_.faultOnExchange(exchange, RegisterFault::WrongEcho);
        break;
      case Fault::AckSilent:
        inFrame(RegisterFault::Silent);
        break;
      case Fault::WrongAck:
        inFrame(RegisterFault::WrongAck);
        break;
      case Fault::NoReply:
        inFrame(RegisterFault::NoReply);
        break;
      case Fault::BadReplyChecksum:
        inFrame(RegisterFault::BadReplyChecksum);
        break;
      case Fault::ShortReply:
        inFrame(RegisterFault::ShortReply);
        break;
      case Fault::StrayBytes:
        inFrame(RegisterFault::StrayBytes, kRegisterStrays);
        break;
      case Fault::ShortBusyStorm:
        busy(kShortBusyAnswers);
        break;
      case Fault::EndlessBusyStorm:
        busy(kEndlessBusyAnswers);
        break;
      default:
        FAIL() << "not a register fault: " << Name(c.fault);
    }
  }

  // KIA faults happen between the line and the board.
  FaultTap::Strike KiaStrike(const Case& c, std::uint32_t frame) {
    FaultTap::Strike strike;
    strike.frame = frame;
    const std::size_t last = KiaAnswerCount(c.struck().access) - 1;
    switch (c.fault) {
      case Fault::MonitorSilent:
        strike.swallow = true;
        break;
      case Fault::WrongAck:
        strike.answers = [](std::size_t i, std::uint8_t b) {
          return std::vector<std::uint8_t>{i == 0 ? kWrongKiaAck : b};
        };
        break;
      case Fault::BusDataLow:
        strike.beforeFrame = [this] { board_.holdDataLow(true); };
        break;
      case Fault::BusClockLow:
        strike.beforeFrame = [this] { board_.holdClockLow(true); };
        break;
      case Fault::BusNoDevice:
        strike.beforeFrame = [this] {
          board_.setDevicePresent(sim::kia::kReadBusAddress, false);
          board_.setDevicePresent(sim::kia::kWriteBusAddress, false);
        };
        break;
      case Fault::LastAnswerMissing:
        strike.answers = [last](std::size_t i, std::uint8_t b) {
          return i == last ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>{b};
        };
        break;
      case Fault::StrayBytes:
        strike.answers = [last](std::size_t i, std::uint8_t b) {
          std::vector<std::uint8_t> sent{b};
          if (i == last) sent.insert(sent.end(), kKiaStrays.begin(), kKiaStrays.end());
          return sent;
        };
        break;
      default:
        ADD_FAILURE() << "not a KIA fault: " << Name(c.fault);
    }
    return strike;
  }
};

// The memories once the exchanges in `done` have had their effect: each
// write stores its one byte, on either link.
Memories ExpectedAfter(const Memories& before, const std::vector<Exchange>& done) {
  Memories m = before;
  const std::uint8_t b = service::NetworkNumberByte(kNewNumber);
  const auto checksumNew = static_cast<std::uint8_t>(before.nonVolatile[service::kEepromChecksumAddress] -
                                                     before.nonVolatile[service::kEepromNumberAddress] + b);
  for (const Exchange& e : done) {
    const std::uint8_t value = e.address == service::kEepromChecksumAddress ? checksumNew : b;
    if (e.access == Access::WriteData) m.data[e.address] = value;
    if (e.access == Access::WriteNonVolatile) m.nonVolatile[e.address] = value;
  }
  return m;
}

// The cells where two memories differ, for a readable failure; empty when none.
std::string Differences(const Memories& expected, const Memories& actual) {
  constexpr int kShown = 8;
  std::string out;
  int count = 0;
  const auto compare = [&](const char* space, const auto& want, const auto& got) {
    for (std::size_t i = 0; i < want.size(); ++i) {
      if (want[i] == got[i] || count++ >= kShown) continue;
      char cell[64];
      std::snprintf(cell, sizeof cell, " %s[%04zX]=%02X (expected %02X)", space, i, got[i], want[i]);
      out += cell;
    }
  };
  compare("data", expected.data, actual.data);
  compare("nv", expected.nonVolatile, actual.nonVolatile);
  if (count > kShown) out += " ... " + std::to_string(count) + " cells in all";
  return out;
}

// When each exchange between `from` and `to` began: its first byte on the
// line. On the processor link an exchange begins with an address byte that
// follows anything but an address byte (a repeated address byte belongs to
// its exchange); on the KIA link with a frame, which never follows the last
// byte back to back.
std::vector<SimTime> ExchangeStarts(const sim::VirtualLine& line, Link link, SimTime from, SimTime to) {
  std::vector<SimTime> starts;
  const sim::TraceEntry* previous = nullptr;
  for (const sim::TraceEntry& e : line.trace()) {
    if (e.direction != sim::Direction::HostToDevice || e.start < from || e.start >= to) continue;
    const bool begins = previous == nullptr ||
                        (link == Link::Processor
                             ? e.parity == serial::Parity::Mark && previous->parity != serial::Parity::Mark
                             : e.start > previous->end);
    if (begins) starts.push_back(e.start);
    previous = &e;
  }
  return starts;
}

TEST_P(FaultMatrix, OperatorSeesTheOutcomeAndTheRegisterHoldsWhatReachedIt) {
  const Case& c = GetParam();
  const QString linkWord = CommandLinkWord(c.link);
  plug(c.link);
  ASSERT_TRUE(rig_.connect(c.link));
  const std::uint8_t addressBefore = rig_.state().registerAddress;
  inject(c);
  const Memories before = memories();

  // 1. The command, timed in virtual time; then the device may finish what it
  //    started after the tool gave up on it.
  rig_.setNumberText(c.write ? kNewNumberText : kFieldBeforeRead);
  const SimTime start = line_.now();
  if (c.write)
    rig_.pressWrite();
  else
    rig_.read();
  const SimTime elapsed = line_.now() - start;
  line_.advanceBy(kSettleTime);

  // 2. What the operator sees, and the line address the tool keeps.
  const std::size_t failsIn = c.failsIn();
  if (failsIn != 0) {
    EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{kNoInterface + linkWord, kCommandTitle, Icon::Error}}));
    EXPECT_EQ(rig_.statusText(), kNoContactCommand + linkWord);
    // Only a write stopped between its first and last exchange leaves them disabled.
    const bool halfWritten = c.write && failsIn >= 2 && failsIn <= 5;
    EXPECT_EQ(rig_.commandsEnabled(), !halfWritten);
    EXPECT_EQ(rig_.state().registerAddress, addressBefore);
    if (!c.write) {
      EXPECT_EQ(rig_.numberText(), kFieldBeforeRead) << "a failed read keeps the field";
    }
  } else if (c.write) {
    EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{kWriteSucceeded, kCommandTitle, Icon::Information}}));
    EXPECT_EQ(rig_.statusText(), kWriteDone);
    EXPECT_TRUE(rig_.commandsEnabled());
    EXPECT_EQ(rig_.state().registerAddress, service::NetworkNumberByte(kNewNumber));
  } else {
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(rig_.statusText(), kReadDone);
    EXPECT_TRUE(rig_.commandsEnabled());
    EXPECT_EQ(rig_.numberText(), "01");
    EXPECT_EQ(rig_.state().registerAddress, addressBefore);
  }

  // 3. The register holds the exchanges before the failing one, and that one
  //    too when the device carried it out although the tool saw a failure.
  const std::vector<Exchange> exchanges = CommandExchanges(c.write);
  const std::size_t reached = failsIn == 0 ? exchanges.size() : failsIn - (c.effect().executes ? 0 : 1);
  const std::vector<Exchange> done(exchanges.begin(),
                                   exchanges.begin() + static_cast<std::ptrdiff_t>(reached));
  EXPECT_EQ(Differences(ExpectedAfter(before, done), memories()), "");

  // 4. The exchanges tried, one after another from the press, and none of
  //    them longer than the waits it may make and the pause after it.
  const std::size_t tried = failsIn == 0 ? exchanges.size() : failsIn;
  const std::vector<SimTime> starts = ExchangeStarts(line_, c.link, start, start + elapsed);
  ASSERT_EQ(starts.size(), tried) << "nothing goes out after a failed exchange";
  EXPECT_EQ(starts.front(), start) << "nothing waits before the first exchange";
  const bool storm = c.fault == Fault::ShortBusyStorm || c.fault == Fault::EndlessBusyStorm;
  for (std::size_t i = 1; i <= tried; ++i) {
    const SimTime end = i < tried ? starts[i] : start + elapsed;
    const std::uint32_t boundMs = ExchangeBoundMs(c.link, exchanges[i - 1].access, storm && i == c.exchange) +
                                  (i != failsIn ? PauseBoundMs(c.write, i) : 0);
    EXPECT_LE(end - starts[i - 1], SimTime{boundMs} * sim::kNsPerMs)
        << "exchange " << i << " took " << (end - starts[i - 1]) / sim::kNsPerMs << " ms, bound " << boundMs;
  }
  if (c.fault == Fault::EndlessBusyStorm) {
    EXPECT_GE(elapsed, SimTime{reg::kBusyLimitMs} * sim::kNsPerMs) << "busy answers are waited out for 10 s";
  }

  // 5. After a successful write the register answers to its new number, and
  //    nothing a fault left on the line disturbs the next command.
  if (c.write && failsIn == 0) {
    rig_.read();
    EXPECT_EQ(rig_.numberText(), kNewNumberText);
    EXPECT_EQ(rig_.statusText(), kReadDone);
  }
}

INSTANTIATE_TEST_SUITE_P(AllFaults, FaultMatrix, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) { return CaseName(info.param); });

// ---- The port vanishing while connecting ------------------------------------------

struct VanishWhileConnecting {
  Link link;
  bool beforeCommand;
};

class PortVanishesWhileConnecting : public FaultRig,
                                    public ::testing::WithParamInterface<VanishWhileConnecting> {};

TEST_P(PortVanishesWhileConnecting, ReportsNoContactAndThenAPortThatIsGone) {
  const auto [link, beforeCommand] = GetParam();
  plug(link);
  // The version query on the processor link, the probe on the KIA link: the
  // first frame either way.
  armVanish(link, 1, beforeCommand);

  const SimTime start = line_.now();
  EXPECT_FALSE(rig_.connect(link));
  const SimTime elapsed = line_.now() - start;
  const bool processor = link == Link::Processor;
  EXPECT_EQ(boxes_.boxes, (std::vector<Box>{{processor ? test::kNoRegister : test::kNoKia,
                                             QStringLiteral("Ошибка"), Icon::Error}}));
  EXPECT_EQ(rig_.statusText(), kNoContactDialog + (processor ? "ККМ" : "микроконтроллером"));
  EXPECT_FALSE(rig_.commandsEnabled());
  const std::uint32_t boundMs = processor ? kConnectProcessorBoundMs : kConnectKiaBoundMs;
  EXPECT_LE(elapsed, SimTime{boundMs} * sim::kNsPerMs);

  // The next attempt finds no port to open.
  boxes_.boxes.clear();
  EXPECT_FALSE(rig_.connect(link));
  EXPECT_EQ(boxes_.boxes,
            (std::vector<Box>{{kPortUnavailable, QStringLiteral("Предупреждение"), Icon::Warning}}));
  EXPECT_FALSE(rig_.state().port.isOpen());
}

INSTANTIATE_TEST_SUITE_P(BothLinks, PortVanishesWhileConnecting,
                         ::testing::Values(VanishWhileConnecting{Link::Processor, true},
                                           VanishWhileConnecting{Link::Processor, false},
                                           VanishWhileConnecting{Link::Kia, true},
                                           VanishWhileConnecting{Link::Kia, false}),
                         [](const auto& info) {
                           return std::string(info.param.link == Link::Processor ? "Processor" : "Kia") +
                                  (info.param.beforeCommand ? "_BeforeCommand" : "_AfterCommand");
                         });

}  // namespace
}  // namespace kkm::test
