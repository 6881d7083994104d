#include "register/MemoryCommands.h"

#include <array>

#include "register/RegisterFailure.h"
#include "register/RegisterFrame.h"
#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"

namespace kkm::reg {

using serial::Failure;
using serial::LineFailure;
using serial::PortHandle;
using serial::Status;
using serial::TimedOut;
using serial::Unexpected;

namespace {
constexpr std::uint32_t kByteEchoTimeoutMs = 500;
constexpr std::uint32_t kByteAckTimeoutMs = 700;
constexpr std::uint32_t kByteReplyTimeoutMs = 700;
constexpr std::uint32_t kBlockEchoTimeoutMs = 20;
constexpr std::uint32_t kBusyEchoTimeoutMs = 1650;
constexpr std::uint32_t kSecondEchoTimeoutMs = 20;
constexpr std::uint32_t kBlockAckTimeoutMs = 200;
constexpr std::uint32_t kBlockLengthTimeoutMs = 200;
constexpr std::uint32_t kBlockReplyTimeoutMs = 200;  // plus 1 ms per data byte

constexpr std::uint8_t kBusyAnswer = 0x65;
constexpr std::int32_t kFirstEchoingVersion = 100;
constexpr std::int32_t kBusyAnsweringVersion = 105;
constexpr std::size_t kByteReplySize = 3;  // L, value, C

// The frame of the two byte commands: the overhead and at most one value byte.
using ByteCommandFrame = std::array<std::uint8_t, kMemoryFrameOverhead + 1>;

// What a byte the host waits for is: the echo of the address byte, or the
// acknowledgement of a frame.
struct Expected {
  Failure (*missing)(std::int32_t waitedMs, std::int32_t expected);
  Failure (*wrong)(std::int32_t expected, std::int32_t got);
};
constexpr Expected kEcho{[](std::int32_t waitedMs, std::int32_t expected) {
                           return TimedOut(RegisterFailure::NoEcho, waitedMs, expected);
                         },
                         [](std::int32_t expected, std::int32_t got) {
                           return Unexpected(RegisterFailure::WrongEcho, expected, got);
                         }};
constexpr Expected kAcknowledgement{[](std::int32_t waitedMs, std::int32_t expected) {
                                      return TimedOut(LineFailure::NoAcknowledgement, waitedMs, expected);
                                    },
                                    [](std::int32_t expected, std::int32_t got) {
                                      return Unexpected(LineFailure::WrongAcknowledgement, expected, got);
                                    }};

std::int32_t Ms(std::uint32_t ms) { return static_cast<std::int32_t>(ms); }

// Waits up to `timeoutMs` for one byte, reads it and compares it.
Status ExpectByte(PortHandle& port, std::uint8_t expected, std::uint32_t timeoutMs, Expected what) {
  std::uint8_t received = 0;
  if (!serial::WaitForInput(port, 1, timeoutMs) || !port.readByte(received))
    return what.missing(Ms(timeoutMs), expected);
  if (received != expected) return what.wrong(expected, received);
  return {};
}

// Version 105: the register may answer 0x65 (busy) in place of its echo.
Status SelectBusyAnsweringRegister(PortHandle& port, std::uint8_t lineAddress) {
  serial::Clock& clock = port.clock();
  const std::uint32_t start = clock.tickMs();
  for (;;) {
    // 1. The address byte and a long wait for the answer.
    port.writeByte(lineAddress);
    if (!serial::WaitForInput(port, 1, kBusyEchoTimeoutMs)) {
      // 2. Nothing came: the address byte once more, with a short wait.
      port.writeByte(lineAddress);
      if (!serial::WaitForInput(port, 1, kSecondEchoTimeoutMs))
        return TimedOut(RegisterFailure::NoEcho, Ms(kBusyEchoTimeoutMs + kSecondEchoTimeoutMs), lineAddress);
    }
    // 3. A busy answer sends the address byte again, within the bound.
    std::uint8_t answer = 0;
    if (!port.readByte(answer)) return TimedOut(RegisterFailure::NoEcho, Ms(kBusyEchoTimeoutMs), lineAddress);
    if (answer == kBusyAnswer) {
      const std::uint32_t busyMs = serial::ElapsedMs(start, clock.tickMs());
      if (busyMs > kBusyLimitMs)
        return serial::Persisting(RegisterFailure::BusyTooLong, kBusyAnswer, Ms(busyMs));
      continue;
    }
    // 4. Anything else must be the echo.
    if (answer != lineAddress) return Unexpected(RegisterFailure::WrongEcho, lineAddress, answer);
    return {};
  }
}

// Address phase of the byte commands, the same for every version.
Status SelectForByteCommand(PortHandle& port, std::uint8_t registerAddress) {
  port.purge(serial::kPurgeClearBoth);
  serial::SetAddressParity(port, true);
  port.writeByte(registerAddress);
  if (Status echo = ExpectByte(port, registerAddress, kByteEchoTimeoutMs, kEcho); !echo) return echo;
  serial::SetAddressParity(port, false);
  return {};
}

// Writes a frame one byte per write, as the block commands send it.
void WriteBytewise(PortHandle& port, std::span<const std::uint8_t> frame) {
  for (std::uint8_t b : frame) port.writeByte(b);
}
}  // namespace

Status SelectRegister(PortHandle& port, std::uint8_t lineAddress, std::int32_t version) {
  serial::OperationTrace operation(port, "SelectRegister", "%02X version %d", lineAddress, version);
  // 1. Abort and empty, address parity.
  port.purge(serial::kPurgeAbortAndClear);
  serial::SetAddressParity(port, true);
  // 2. The address phase of the firmware version.
  if (version >= kFirstEchoingVersion && version < kBusyAnsweringVersion) {
    port.writeByte(lineAddress);
    if (Status step = ExpectByte(port, lineAddress, kBlockEchoTimeoutMs, kEcho); !step)
      return operation.end(step);
  } else if (version == kBusyAnsweringVersion) {
    if (Status step = SelectBusyAnsweringRegister(port, lineAddress); !step) return operation.end(step);
  }
  // 3. Data parity for the frame.
  serial::SetAddressParity(port, false);
  return operation.end({});
}

Status ReadRegisterByte(PortHandle& port, std::uint8_t registerAddress, std::uint16_t address,
                        std::uint8_t& value) {
  serial::OperationTrace operation(port, "ReadRegisterByte", "%02X %04X", registerAddress, address);
  // 1. Address phase.
  if (Status step = SelectForByteCommand(port, registerAddress); !step) return operation.end(step);
  // 2. The six-byte frame in one write.
  ByteCommandFrame byteCommandFrame{};
  const std::size_t size = BuildMemoryFrame(byteCommandFrame, kCmdReadByte, address, 1, {});
  port.write(byteCommandFrame.data(), static_cast<std::uint32_t>(size));
  // 3. Acknowledgement.
  if (Status step = ExpectByte(port, byteCommandFrame[size - 1], kByteAckTimeoutMs, kAcknowledgement); !step)
    return operation.end(step);
  // 4. Exactly three reply bytes, whatever L says.
  if (!serial::WaitForInput(port, kByteReplySize, kByteReplyTimeoutMs))
    return operation.end(TimedOut(LineFailure::ReplyTooShort, Ms(kByteReplyTimeoutMs), kByteReplySize,
                                  static_cast<std::int32_t>(port.queuedInput())));
  std::uint8_t length = 0;
  std::uint8_t checksum = 0;
  if (!port.readByte(length) || !port.readByte(value) || !port.readByte(checksum))
    return operation.end(TimedOut(LineFailure::ReplyTooShort, Ms(kByteReplyTimeoutMs), kByteReplySize));
  // 5. The reply's checksum.
  if (!ReplyChecksumHolds(length, std::span(&value, 1), checksum))
    return operation.end(Unexpected(RegisterFailure::ReplyChecksum, kFrameSum,
                                    ReplySum(length, std::span(&value, 1), checksum)));
  operation.result("%02X", value);
  return operation.end({});
}

Status WriteRegisterByte(PortHandle& port, std::uint8_t registerAddress, std::uint16_t address,
                         std::uint8_t value) {
  serial::OperationTrace operation(port, "WriteRegisterByte", "%02X %04X %02X", registerAddress, address,
                                   value);
  // 1. Address phase.
  if (Status step = SelectForByteCommand(port, registerAddress); !step) return operation.end(step);
  // 2. The seven-byte frame in one write.
  ByteCommandFrame byteCommandFrame{};
  const std::size_t size =
      BuildMemoryFrame(byteCommandFrame, kCmdWriteByte, address, 1, std::span(&value, 1));
  port.write(byteCommandFrame.data(), static_cast<std::uint32_t>(size));
  // 3. Acknowledgement.
  return operation.end(ExpectByte(port, byteCommandFrame[size - 1], kByteAckTimeoutMs, kAcknowledgement));
}

Status ReadRegisterBlock(PortHandle& port, std::uint8_t lineAddress, std::uint16_t address,
                         std::uint8_t count, std::span<std::uint8_t> buffer, std::int32_t version) {
  serial::OperationTrace operation(port, "ReadRegisterBlock", "%02X %04X count %u", lineAddress, address,
                                   count);
  // 1. Empty the buffers and select the register.
  port.purge(serial::kPurgeClearBoth);
  if (Status step = SelectRegister(port, lineAddress, version); !step) return operation.end(step);
  // 2. The six-byte frame, one byte per write.
  std::array<std::uint8_t, kMemoryFrameOverhead> frame{};
  BuildMemoryFrame(frame, kCmdReadBlock, address, count, {});
  WriteBytewise(port, frame);
  // 3. Acknowledgement.
  if (Status step = ExpectByte(port, frame.back(), kBlockAckTimeoutMs, kAcknowledgement); !step)
    return operation.end(step);
  // 4. The length byte; a reply that would not fit the buffer is refused.
  std::uint8_t length = 0;
  if (!serial::WaitForInput(port, 1, kBlockLengthTimeoutMs) || !port.readByte(length))
    return operation.end(TimedOut(LineFailure::ReplyTooShort, Ms(kBlockLengthTimeoutMs), 1, 0));
  if (length > buffer.size())
    return operation.end(
        Unexpected(RegisterFailure::ReplyTooLong, static_cast<std::int32_t>(buffer.size()), length));
  // 5. The data bytes and the checksum.
  const std::uint32_t replyTimeoutMs = kBlockReplyTimeoutMs + length;
  if (!serial::WaitForInput(port, length + 1u, replyTimeoutMs))
    return operation.end(TimedOut(LineFailure::ReplyTooShort, Ms(replyTimeoutMs), length + 2,
                                  static_cast<std::int32_t>(port.queuedInput()) + 1));
  // 6. The data in one read, then C.
  const auto data = buffer.first(length);
  std::uint8_t checksum = 0;
  if ((length > 0 && port.read(data.data(), length) != length) || !port.readByte(checksum))
    return operation.end(TimedOut(LineFailure::ReplyTooShort, Ms(replyTimeoutMs), length + 2));
  // 7. The reply's checksum.
  if (!ReplyChecksumHolds(length, data, checksum))
    return operation.end(
        Unexpected(RegisterFailure::ReplyChecksum, kFrameSum, ReplySum(length, data, checksum)));
  operation.result("L %u, first %02X", length, length > 0 ? data[0] : 0);
  return operation.end({});
}

Status WriteRegisterBlock(PortHandle& port, std::uint8_t lineAddress, std::uint16_t address,
                          std::span<const std::uint8_t> data, std::int32_t count, std::int32_t version) {
  serial::OperationTrace operation(port, "WriteRegisterBlock", "%02X %04X count %d first %02X", lineAddress,
                                   address, count, data.empty() ? 0 : data[0]);
  // 1. Refuse, before touching the port, a start above the writable area and
  // a count the length byte cannot carry or the data do not hold.
  if (address > kHighestBlockWriteAddress) return operation.end(Failure{RegisterFailure::RequestRefused});
  if (count < 0 || static_cast<std::size_t>(count) > kMaxFrameData ||
      static_cast<std::size_t>(count) > data.size())
    return operation.end(Failure{RegisterFailure::RequestRefused});
  // 2. Empty the buffers and select the register.
  port.purge(serial::kPurgeClearBoth);
  if (Status step = SelectRegister(port, lineAddress, version); !step) return operation.end(step);
  // 3. The frame, one byte per write.
  std::array<std::uint8_t, kMaxMemoryFrameSize> frame{};
  const auto written = data.first(static_cast<std::size_t>(count));
  const std::size_t size =
      BuildMemoryFrame(frame, kCmdWriteBlock, address, static_cast<std::uint8_t>(count), written);
  WriteBytewise(port, std::span(frame).first(size));
  // 4. Acknowledgement.
  return operation.end(ExpectByte(port, frame[size - 1], kBlockAckTimeoutMs, kAcknowledgement));
}

}  // namespace kkm::reg
