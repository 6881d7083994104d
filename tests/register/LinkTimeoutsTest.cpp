// Every time-out of the register and KIA links from both sides, in virtual
// time: a device whose answer completes just inside the wait succeeds, one
// whose answer completes just after it fails.
//
// A wait of T ms starts when the host's last write has returned (its bytes
// have left) or when the poll that saw the previous answer returned, and ends
// at the first poll reading a tick more than T ms past its start: at least T
// and less than T + 1 ms + one poll step later. So an answer whose last stop
// bit ends T ms after the start is always inside, and one ending
// T + 1 ms + one poll step after it is always outside. The answers before the
// one under test arrive promptly and on a poll, so that the wait under test
// starts exactly then.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "kia/KiaFrames.h"
#include "kia/KiaUnit.h"
#include "register/AddressDiscovery.h"
#include "register/MemoryCommands.h"
#include "register/RegisterFrame.h"
#include "sim/line/ScriptedDevice.h"
#include "tests/support/LineRig.h"

namespace kkm::reg {
namespace {

using Bytes = std::vector<std::uint8_t>;
using serial::Parity;
using sim::SimTime;
using test::kMs;
using test::kPollStep;
using test::LineRig;

constexpr SimTime kCharacter = sim::CharacterTime(Parity::None);  // the device answers without parity
constexpr SimTime kAddressCharacter = sim::CharacterTime(Parity::Mark);
// A read after a fixed delay (the version query) gives up after the port's
// read time-out for one byte, 100 + 20 ms.
constexpr SimTime kOneByteReadMs = 120;
constexpr std::uint8_t kAddress = 0xBA;

// One answer of the device: to the host bytes `expect`, or, when that is
// empty, following the previous answer.
struct Answer {
  Bytes expect;
  Bytes reply;
  bool underTest = false;
};

struct TimeoutCase {
  std::string name;
  SimTime inside;  // from the wait's start to the last stop bit of the answer under test
  SimTime after;
  std::vector<Answer> answers;
  std::function<bool(LineRig&)> run;
};

// The usual window of a T ms wait (see above).
TimeoutCase Wait(std::string name, SimTime timeoutMs, std::vector<Answer> answers,
                 std::function<bool(LineRig&)> run) {
  return {std::move(name), timeoutMs * kMs, timeoutMs * kMs + kMs + kPollStep, std::move(answers),
          std::move(run)};
}

// A prompt answer ends on the first poll at least 1 ms after all its bytes
// could have crossed.
SimTime Prompt(std::size_t bytes) {
  const SimTime earliest = bytes * kCharacter + kMs;
  return (earliest + kPollStep - 1) / kPollStep * kPollStep;
}

// Scripts `device` so that each answer's last byte ends its offset after its
// wait's start: the answer under test `tested` after, the others promptly.
void Script(sim::ScriptedDevice& device, const std::vector<Answer>& answers, SimTime tested) {
  // In the time frame of the previous answer's wait: when it started to be
  // sent and when it had arrived (which is where the next wait starts).
  SimTime previousFired = 0;
  SimTime previousArrived = 0;
  for (const Answer& answer : answers) {
    const SimTime at = answer.underTest ? tested : Prompt(answer.reply.size());
    const SimTime length = answer.reply.size() * kCharacter;
    if (answer.expect.empty()) {
      device.onAfter({}, answer.reply, previousArrived + at - length - previousFired);
    } else {
      device.onAfter(answer.expect, answer.reply, at - length);
    }
    previousFired = at - length;
    previousArrived = at;
  }
}

Bytes Frame(std::initializer_list<std::uint8_t> bytes) { return bytes; }

std::vector<TimeoutCase> Cases() {
  const Bytes echo{kAddress};
  const Bytes readByteFrame{0x04, 0x06, 0x40, 0x11, 0x01, 0xA3};
  const Bytes writeByteFrame{0x05, 0x05, 0x40, 0x11, 0x01, 0xBA, 0xE9};
  const Bytes readBlockFrame{0x04, 0x16, 0x40, 0x07, 0x01, 0x9D};
  const Bytes writeBlockFrame{0x05, 0x17, 0x40, 0x07, 0x01, 0xBA, 0xE1};
  const Bytes versionReply{0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00, 0x00, 0xF0};
  const Bytes blockReply{0x42, 0xBC};  // L = 1 before it: 01 + 42 + BC = FF

  const auto readByte = [](LineRig& rig) {
    std::uint8_t value = 0;
    return ReadRegisterByte(rig.port, kAddress, 0x1140, value) && value == 0x42;
  };
  const auto writeByte = [](LineRig& rig) {
    return WriteRegisterByte(rig.port, kAddress, 0x1140, 0xBA).ok();
  };
  const auto readBlock = [](std::int32_t version) {
    return [version](LineRig& rig) {
      std::array<std::uint8_t, 1> buffer{};
      return ReadRegisterBlock(rig.port, kAddress, 0x0740, 1, buffer, version) && buffer[0] == 0x42;
    };
  };
  const auto writeBlock = [](LineRig& rig) {
    const std::array<std::uint8_t, 1> data{0xBA};
    return WriteRegisterBlock(rig.port, kAddress, 0x0740, data, 1, 104).ok();
  };
  const auto version = [](LineRig& rig) {
    std::int32_t code = 0;
    return ReadFirmwareVersion(rig.port, kAddress, code).ok();
  };
  // The KIA link runs on the port as opened: no parity.
  const auto onKiaLink = [](std::function<bool(serial::PortHandle&)> op) {
    return [op](LineRig& rig) { return op(rig.port); };
  };
  const auto kiaReadMemory = onKiaLink([](serial::PortHandle& p) {
    std::uint8_t value = 0;
    return kia::KiaReadMemory(p, 0x1140, value) && value == 0x42;
  });
  const auto kiaReadEeprom = onKiaLink([](serial::PortHandle& p) {
    std::uint8_t value = 0;
    return kia::KiaReadEeprom(p, 0x0740, value) && value == 0x42;
  });
  const auto kiaWriteEeprom =
      onKiaLink([](serial::PortHandle& p) { return kia::KiaWriteEeprom(p, 0x073E, 0xBA).ok(); });
  const Bytes kiaWrite = kia::BuildMemoryWriteFrame(0x020F, 0xBA);
  const Bytes kiaRead = kia::BuildMemoryReadFrame(0x1140);
  const Bytes eepromRead = kia::BuildEepromReadFrame(0x0740);
  const Bytes eepromWrite = kia::BuildEepromWriteFrame(0x073E, 0xBA);
  const Bytes eepromData(64, 0x42);

  return {
      // The address scan: the candidate's own wait, then (its echo come late)
      // the next candidate's wait too, which starts once that candidate has left.
      Wait("scan, own wait (10 ms)", 10, {{{0xFF}, {0xFF}, true}},
           [](LineRig& rig) {
             std::uint8_t address = 0;
             return FindRegisterAddress(rig.port, address) && address == 0xFF &&
                    rig.line.traceOf(sim::Direction::HostToDevice).size() == 1;
           }),
      {"scan, late echo during the next candidate's wait (10 + 10 ms)",
       20 * kMs + kAddressCharacter,
       22 * kMs + kAddressCharacter + 2 * kPollStep,
       {{{0xFF}, {0xFF}, true}},
       [](LineRig& rig) {
         std::uint8_t address = 0;
         return FindRegisterAddress(rig.port, address) && address == 0xFF;
       }},
      // The version query reads after fixed delays, with the read's own time-out.
      Wait("version echo (40 ms + read)", 40 + kOneByteReadMs,
           {{echo, echo, true}, {Frame({0x01, 0x14, 0xEA}), {0xEA}}, {{}, versionReply}}, version),
      Wait("version acknowledgement (400 ms + read)", 400 + kOneByteReadMs,
           {{echo, echo}, {Frame({0x01, 0x14, 0xEA}), {0xEA}, true}, {{}, versionReply}}, version),
      // Byte commands.
      Wait("byte read echo (500 ms)", 500,
           {{echo, echo, true}, {readByteFrame, {0xA3}}, {{}, {0x02, 0x42, 0xBB}}}, readByte),
      Wait("byte read acknowledgement (700 ms)", 700,
           {{echo, echo}, {readByteFrame, {0xA3}, true}, {{}, {0x02, 0x42, 0xBB}}}, readByte),
      Wait("byte read reply (700 ms)", 700,
           {{echo, echo}, {readByteFrame, {0xA3}}, {{}, {0x02, 0x42, 0xBB}, true}}, readByte),
      Wait("byte write acknowledgement (700 ms)", 700, {{echo, echo}, {writeByteFrame, {0xE9}, true}},
           writeByte),
      // Block commands: the address phase by version, then the frame's answers.
      Wait("block echo, versions 100..104 (20 ms)", 20,
           {{echo, echo, true}, {readBlockFrame, {0x9D}}, {{}, {0x01}}, {{}, blockReply}}, readBlock(104)),
      {"block echo, version 105 (1650 ms, then the repeated address byte's 20 ms)",
       1650 * kMs,
       1650 * kMs + 22 * kMs + kAddressCharacter + 2 * kPollStep,
       {{echo, echo, true}, {readBlockFrame, {0x9D}}, {{}, {0x01}}, {{}, blockReply}},
       readBlock(105)},
      Wait("block echo to the repeated address byte, version 105 (20 ms)", 20,
           {{{kAddress, kAddress}, echo, true}, {readBlockFrame, {0x9D}}, {{}, {0x01}}, {{}, blockReply}},
           readBlock(105)),
      Wait("block read acknowledgement (200 ms)", 200,
           {{echo, echo}, {readBlockFrame, {0x9D}, true}, {{}, {0x01}}, {{}, blockReply}}, readBlock(104)),
      Wait("block read length (200 ms)", 200,
           {{echo, echo}, {readBlockFrame, {0x9D}}, {{}, {0x01}, true}, {{}, blockReply}}, readBlock(104)),
      Wait("block read data and checksum (200 + L ms)", 201,
           {{echo, echo}, {readBlockFrame, {0x9D}}, {{}, {0x01}}, {{}, blockReply, true}}, readBlock(104)),
      Wait("block write acknowledgement (200 ms)", 200, {{echo, echo}, {writeBlockFrame, {0xE1}, true}},
           writeBlock),
      // The KIA link: each frame's waits in turn.
      Wait("KIA memory write acknowledgement (50 ms)", 50, {{kiaWrite, {0x01}, true}},
           onKiaLink([](serial::PortHandle& p) { return kia::KiaWriteMemory(p, 0x020F, 0xBA).ok(); })),
      Wait("KIA memory read acknowledgement (50 ms)", 50, {{kiaRead, {0x01}, true}, {{}, {0x42}}},
           kiaReadMemory),
      Wait("KIA memory read byte (500 ms)", 500, {{kiaRead, {0x01}}, {{}, {0x42}, true}}, kiaReadMemory),
      Wait("KIA EEPROM read acknowledgement (400 ms)", 400,
           {{eepromRead, {0x01}, true}, {{}, {0x11}}, {{}, eepromData}}, kiaReadEeprom),
      Wait("KIA EEPROM read marker (500 ms)", 500,
           {{eepromRead, {0x01}}, {{}, {0x11}, true}, {{}, eepromData}}, kiaReadEeprom),
      Wait("KIA EEPROM read data (1500 ms)", 1500,
           {{eepromRead, {0x01}}, {{}, {0x11}}, {{}, eepromData, true}}, kiaReadEeprom),
      Wait("KIA EEPROM write acknowledgement (300 ms)", 300,
           {{eepromWrite, {0x01}, true}, {{}, {0x11}}, {{}, {0xBA}}}, kiaWriteEeprom),
      Wait("KIA EEPROM write marker (500 ms)", 500, {{eepromWrite, {0x01}}, {{}, {0x11}, true}, {{}, {0xBA}}},
           kiaWriteEeprom),
      Wait("KIA EEPROM write final byte (500 ms)", 500,
           {{eepromWrite, {0x01}}, {{}, {0x11}}, {{}, {0xBA}, true}}, kiaWriteEeprom),
  };
}

TEST(LinkTimeouts, AnswersJustInsideSucceedAndJustAfterFail) {
  for (const TimeoutCase& c : Cases()) {
    for (const bool inside : {true, false}) {
      SCOPED_TRACE(c.name + (inside ? ", just inside" : ", just after"));
      LineRig rig;
      sim::ScriptedDevice device;
      Script(device, c.answers, inside ? c.inside : c.after);
      rig.line.attach(device);
      EXPECT_EQ(c.run(rig), inside);
    }
  }
}

}  // namespace
}  // namespace kkm::reg
