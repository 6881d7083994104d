#include "register/AddressDiscovery.h"

#include <array>

#include "register/RegisterFrame.h"
#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"

namespace kkm::reg {

using serial::FailOn;
using serial::FailureCode;
using serial::PortHandle;

namespace {
constexpr std::uint32_t kVersionEchoDelayMs = 40;
constexpr std::uint32_t kVersionReplyDelayMs = 400;

// The version reply: L, D0..D8, C.
constexpr std::size_t kVersionReplySize = 11;
constexpr std::size_t kVersionD5Offset = 6;
constexpr std::size_t kVersionD6Offset = 7;

static_assert(IsLateEcho(0xFE, 0xFD) && !IsLateEcho(0x00, 0xFF) && !IsLateEcho(0xFD, 0xFD));
}  // namespace

bool FindRegisterAddress(PortHandle& port, std::uint8_t& registerAddress) {
  serial::OperationTrace operation(port, "FindRegisterAddress", "FF..00");
  // 1. Empty the buffers; every candidate goes out as an address byte.
  port.purge(serial::kPurgeClearBoth);
  serial::SetAddressParity(port, true);
  // 2. Candidates 0xFF down to 0x00.
  for (int candidate = 0xFF; candidate >= 0; --candidate) {
    const auto address = static_cast<std::uint8_t>(candidate);
    // 3. Send the candidate and give the register 10 ms to answer.
    port.purge(serial::kPurgeClearBoth);
    port.writeByte(address);
    serial::WaitForInput(port, 1, kScanAnswerTimeoutMs);
    // 4. An answer ends the scan: its own address is success; the
    // previous candidate is that register's echo come late, after its own
    // wait had ended; anything else is a foreign device or noise, which ends
    // the scan as failed.
    if (port.queuedInput() == 0) continue;
    std::uint8_t answer = 0;
    if (!port.readByte(answer)) return FailOn(port, {FailureCode::NoEcho, kScanAnswerTimeoutMs, address});
    if (answer != address && !IsLateEcho(answer, candidate))
      return FailOn(port, {FailureCode::WrongEcho, -1, address, answer});
    registerAddress = answer;
    operation.result("%02X", answer);
    return true;
  }
  // 5. Nobody answered.
  return FailOn(port, {FailureCode::NoRegisterFound, kScanAnswerTimeoutMs});
}

bool ReadFirmwareVersion(PortHandle& port, std::uint8_t address, std::int32_t& firmwareVersion) {
  serial::OperationTrace operation(port, "ReadFirmwareVersion", "%02X", address);
  // 1. Abort anything pending and empty the buffers.
  port.purge(serial::kPurgeAbortAndClear);
  // 2. Address phase: the echo must be there 40 ms later.
  serial::SetAddressParity(port, true);
  port.writeByte(address);
  serial::DelayMs(port.clock(), kVersionEchoDelayMs);
  std::uint8_t echo = 0;
  if (!port.readByte(echo)) return FailOn(port, {FailureCode::NoEcho, kVersionEchoDelayMs, address});
  if (echo != address) return FailOn(port, {FailureCode::WrongEcho, -1, address, echo});
  // 3. The query frame in one write; acknowledgement and reply within 400 ms.
  serial::SetAddressParity(port, false);
  port.write(kVersionQueryFrame.data(), kVersionQueryFrame.size());
  serial::DelayMs(port.clock(), kVersionReplyDelayMs);
  std::uint8_t ack = 0;
  const std::int32_t expectedAck = kVersionQueryFrame.back();
  if (!port.readByte(ack))
    return FailOn(port, {FailureCode::NoAcknowledgement, kVersionReplyDelayMs, expectedAck});
  if (ack != expectedAck) return FailOn(port, {FailureCode::WrongAcknowledgement, -1, expectedAck, ack});
  // 4. L, then D0..D8 and C: whatever has arrived, missing bytes stay 0.
  std::array<std::uint8_t, kVersionReplySize> reply{};
  port.read(reply.data(), 1);
  port.read(reply.data() + 1, kVersionReplySize - 1);
  // 5. A reply that fails its checksum gives the code 0.
  if (!ReplyChecksumHolds(reply.front(), std::span(reply).subspan(1, kVersionReplySize - 2), reply.back())) {
    firmwareVersion = 0;
    operation.result("version 0 (reply missing or checksum wrong)");
    return true;
  }
  // 6. The code of D5 and D6.
  firmwareVersion = VersionCode(reply[kVersionD5Offset], reply[kVersionD6Offset]);
  operation.result("version %d", firmwareVersion);
  return true;
}

std::int32_t VersionCode(std::uint8_t d5, std::uint8_t d6) {
  const std::array<int, 4> nibbles{d5 >> 4, d5 & 0x0F, d6 >> 4, d6 & 0x0F};
  std::int32_t code = 0;
  for (int nibble : nibbles) code = code * (nibble >= 10 ? 100 : 10) + nibble;
  return code;
}

}  // namespace kkm::reg
