#include "register/AddressDiscovery.h"

#include <array>

#include "register/RegisterFailure.h"
#include "register/RegisterFrame.h"
#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"

namespace kkm::reg {

using serial::LineFailure;
using serial::PortHandle;
using serial::Status;
using serial::TimedOut;
using serial::Unexpected;

namespace {
constexpr std::uint32_t kVersionEchoDelayMs = 40;
constexpr std::uint32_t kVersionReplyDelayMs = 400;

// The version reply: L, D0..D8, C.
constexpr std::size_t kVersionReplySize = 11;
constexpr std::size_t kVersionD5Offset = 6;
constexpr std::size_t kVersionD6Offset = 7;

// The scan goes downward, so the candidate tried just before `candidate` is
// the one above it (none before 0xFF): an answer equal to it, while waiting
// for `candidate`, is that register's echo come late.
constexpr bool IsLateEcho(std::uint8_t answer, int candidate) {
  return candidate < 0xFF && answer == candidate + 1;
}
static_assert(IsLateEcho(0xFE, 0xFD) && !IsLateEcho(0x00, 0xFF) && !IsLateEcho(0xFD, 0xFD));
}  // namespace

AddressAnswer ProbeAddress(PortHandle& port, std::uint8_t address, std::uint32_t secondVoiceMs) {
  constexpr std::uint32_t kMaxAnswerBytes = 16;
  port.purge(serial::kPurgeClearBoth);
  if (!port.writeByte(address)) return {AddressAnswer::Kind::Unsent};
  // The wait's own result is not used: the count is asked once more after it,
  // so an answer that lands just as the wait ends is read, not purged with the
  // next candidate.
  serial::WaitForInput(port, 1, kScanAnswerTimeoutMs);
  if (port.queuedInput() < 1) return {};
  if (secondVoiceMs != 0) serial::WaitForInput(port, 2, secondVoiceMs);
  std::uint8_t bytes[kMaxAnswerBytes] = {};
  const std::int32_t count = port.read(bytes, secondVoiceMs != 0 ? kMaxAnswerBytes : 1);
  if (count <= 0) return {};
  using Kind = AddressAnswer::Kind;
  const Kind kind = count > 1                       ? Kind::Garbled
                    : bytes[0] == address           ? Kind::Echo
                    : IsLateEcho(bytes[0], address) ? Kind::LateEcho
                                                    : Kind::Garbled;
  return {kind, bytes[0]};
}

void ScanAddresses(PortHandle& port, std::uint32_t secondVoiceMs,
                   const std::function<bool(std::uint8_t, const AddressAnswer&)>& visit) {
  for (int candidate = 0xFF; candidate >= 0; --candidate) {
    const auto address = static_cast<std::uint8_t>(candidate);
    const AddressAnswer answer = ProbeAddress(port, address, secondVoiceMs);
    if (!visit(address, answer)) return;
  }
}

Status FindRegisterAddress(PortHandle& port, std::uint8_t& registerAddress) {
  serial::OperationTrace operation(port, "FindRegisterAddress", "FF..00");
  // 1. Empty the buffers; every candidate goes out as an address byte.
  port.purge(serial::kPurgeClearBoth);
  serial::SetAddressParity(port, true);
  // 2. Candidates 0xFF down to 0x00, each given 10 ms to answer; the first
  // answer ends the walk.
  std::uint8_t candidate = 0;
  AddressAnswer answer;
  ScanAddresses(port, 0, [&](std::uint8_t address, const AddressAnswer& heard) {
    candidate = address;
    answer = heard;
    return heard.kind == AddressAnswer::Kind::None;
  });
  // 3. Its own address is success; the previous candidate is that register's
  // echo come late, after its own wait had ended; anything else is a foreign
  // device or noise, which ends the scan as failed.
  switch (answer.kind) {
    case AddressAnswer::Kind::None:
      return operation.end(TimedOut(RegisterFailure::NoRegisterFound, kScanAnswerTimeoutMs));
    case AddressAnswer::Kind::Garbled:
      return operation.end(Unexpected(RegisterFailure::WrongEcho, candidate, answer.firstByte));
    case AddressAnswer::Kind::Unsent:
      return operation.end(serial::AtAddress(LineFailure::PortVanished, candidate));
    case AddressAnswer::Kind::Echo:
    case AddressAnswer::Kind::LateEcho:
      break;
  }
  registerAddress = answer.firstByte;
  operation.result("%02X", answer.firstByte);
  return operation.end({});
}

Status ReadFirmwareVersion(PortHandle& port, std::uint8_t address, std::int32_t& firmwareVersion) {
  serial::OperationTrace operation(port, "ReadFirmwareVersion", "%02X", address);
  // 1. Abort anything pending and empty the buffers.
  port.purge(serial::kPurgeAbortAndClear);
  // 2. Address phase: the echo must be there 40 ms later.
  serial::SetAddressParity(port, true);
  port.writeByte(address);
  serial::DelayMs(port.clock(), kVersionEchoDelayMs);
  std::uint8_t echo = 0;
  if (!port.readByte(echo))
    return operation.end(TimedOut(RegisterFailure::NoEcho, kVersionEchoDelayMs, address));
  if (echo != address) return operation.end(Unexpected(RegisterFailure::WrongEcho, address, echo));
  // 3. The query frame in one write; acknowledgement and reply within 400 ms.
  serial::SetAddressParity(port, false);
  port.write(kVersionQueryFrame.data(), kVersionQueryFrame.size());
  serial::DelayMs(port.clock(), kVersionReplyDelayMs);
  std::uint8_t ack = 0;
  const std::int32_t expectedAck = kVersionQueryFrame.back();
  if (!port.readByte(ack))
    return operation.end(TimedOut(LineFailure::NoAcknowledgement, kVersionReplyDelayMs, expectedAck));
  if (ack != expectedAck)
    return operation.end(Unexpected(LineFailure::WrongAcknowledgement, expectedAck, ack));
  // 4. L, then D0..D8 and C: whatever has arrived, missing bytes stay 0.
  std::array<std::uint8_t, kVersionReplySize> reply{};
  port.read(reply.data(), 1);
  port.read(reply.data() + 1, kVersionReplySize - 1);
  // 5. A reply that fails its checksum gives the code 0.
  if (!ReplyChecksumHolds(reply.front(), std::span(reply).subspan(1, kVersionReplySize - 2), reply.back())) {
    firmwareVersion = 0;
    operation.result("version 0 (reply missing or checksum wrong)");
    return operation.end({});
  }
  // 6. The code of D5 and D6.
  firmwareVersion = VersionCode(reply[kVersionD5Offset], reply[kVersionD6Offset]);
  operation.result("version %d", firmwareVersion);
  return operation.end({});
}

std::int32_t VersionCode(std::uint8_t d5, std::uint8_t d6) {
  const std::array<int, 4> nibbles{d5 >> 4, d5 & 0x0F, d6 >> 4, d6 & 0x0F};
  std::int32_t code = 0;
  for (int nibble : nibbles) code = code * (nibble >= 10 ? 100 : 10) + nibble;
  return code;
}

}  // namespace kkm::reg
