#include "kia/KiaUnit.h"

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "kia/KiaFailure.h"
#include "kia/KiaFrameImages.h"
#include "kia/KiaFrames.h"
#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"

namespace kkm::kia {
namespace {

constexpr std::uint8_t kAcknowledge = 0x01;  // the monitor took the frame
constexpr std::uint8_t kDataMarker = 0x11;   // the EEPROM routine got through to the device

constexpr std::uint32_t kMemoryAckTimeoutMs = 50;
constexpr std::uint32_t kEepromReadAckTimeoutMs = 400;
constexpr std::uint32_t kEepromWriteAckTimeoutMs = 300;
constexpr std::uint32_t kReplyTimeoutMs = 500;
constexpr std::uint32_t kEepromDataTimeoutMs = 1500;
// The memory write routine echoes the value right after the acknowledgement.
// Letting it arrive (unread) means the next frame's purge discards it even on a
// port that hands bytes over one by one; otherwise the next exchange would
// take the echo for its acknowledgement.
constexpr std::uint32_t kEchoGraceMs = 20;

// How many bytes the EEPROM read routine streams to the host.
constexpr std::uint32_t kEepromReadLength = kEepromReadImage[kEepromReadCountOffset];
static_assert(kEepromReadLength == 64);

// One reply step: wait until `count` bytes are queued, then deal with them.
enum class Take {
  Required,     // read them; the first must be `required`
  Result,       // read them; the first is the operation's result
  LeaveQueued,  // do not read: they stay for the next purge
  LetArrive,    // as LeaveQueued, but their absence is no failure
};

// What a step awaits decides how its failure is reported: missing bytes are a
// missing acknowledgement or a short reply; a wrong acknowledgement is one, a
// wrong data marker is the bus error code the EEPROM routine sent in its place.
enum class Awaits { Acknowledgement, Reply };
constexpr Awaits kAckStep = Awaits::Acknowledgement;

struct ReplyStep {
  std::uint32_t count;
  std::uint32_t timeoutMs;
  Take take;
  std::uint8_t required = 0;
  Awaits awaits = Awaits::Reply;
};

serial::Failure Missing(const ReplyStep& step) {
  const auto waitedMs = static_cast<std::int32_t>(step.timeoutMs);
  if (step.awaits == Awaits::Acknowledgement)
    return serial::TimedOut(serial::LineFailure::NoAcknowledgement, waitedMs, step.required);
  return serial::TimedOut(serial::LineFailure::ReplyTooShort, waitedMs,
                          static_cast<std::int32_t>(step.count));
}

serial::Failure Wrong(const ReplyStep& step, std::uint8_t got) {
  if (step.awaits == Awaits::Acknowledgement)
    return serial::Unexpected(serial::LineFailure::WrongAcknowledgement, step.required, got);
  return serial::Unexpected(KiaFailure::BusError, step.required, got);
}

constexpr std::array kMemoryWriteReplies = {
    ReplyStep{1, kMemoryAckTimeoutMs, Take::Required, kAcknowledge, kAckStep},
    ReplyStep{1, kEchoGraceMs, Take::LetArrive},
};
constexpr std::array kMemoryReadReplies = {
    ReplyStep{1, kMemoryAckTimeoutMs, Take::Required, kAcknowledge, kAckStep},
    ReplyStep{1, kReplyTimeoutMs, Take::Result},
};
constexpr std::array kEepromReadReplies = {
    ReplyStep{1, kEepromReadAckTimeoutMs, Take::Required, kAcknowledge, kAckStep},
    ReplyStep{1, kReplyTimeoutMs, Take::Required, kDataMarker},
    ReplyStep{kEepromReadLength, kEepromDataTimeoutMs, Take::Result},
};
constexpr std::array kEepromWriteReplies = {
    ReplyStep{1, kEepromWriteAckTimeoutMs, Take::Required, kAcknowledge, kAckStep},
    ReplyStep{1, kReplyTimeoutMs, Take::Required, kDataMarker},
    ReplyStep{1, kReplyTimeoutMs, Take::LeaveQueued},
};

// Only the reading operations have a result step, and exactly one.
constexpr std::size_t ResultSteps(std::span<const ReplyStep> steps) {
  std::size_t count = 0;
  for (const ReplyStep& step : steps) count += step.take == Take::Result ? 1 : 0;
  return count;
}
static_assert(ResultSteps(kMemoryWriteReplies) == 0 && ResultSteps(kEepromWriteReplies) == 0);
static_assert(ResultSteps(kMemoryReadReplies) == 1 && ResultSteps(kEepromReadReplies) == 1);

// Sends `frame` and collects the replies of `steps`. `*result`, when given,
// receives the result step's byte, and only when every step succeeded.
serial::Status Exchange(serial::PortHandle& port, const std::vector<std::uint8_t>& frame,
                        std::span<const ReplyStep> steps, std::uint8_t* result = nullptr) {
  // 1. Drop whatever an earlier exchange left in either queue.
  port.purge(serial::kPurgeClearBoth);
  // 2. The whole frame in one write; a failed write shows as a missing acknowledgement.
  port.write(frame.data(), static_cast<std::uint32_t>(frame.size()));
  // 3. Each reply in turn: wait for its bytes, read them, check them.
  std::uint8_t taken = 0;
  std::vector<std::uint8_t> reply;
  for (const ReplyStep& step : steps) {
    const bool arrived = serial::WaitForInput(port, step.count, step.timeoutMs);
    if (step.take == Take::LetArrive) continue;
    if (!arrived) return Missing(step);
    if (step.take == Take::LeaveQueued) continue;
    // A read that does not deliver what was queued must not pass for a reply.
    reply.assign(step.count, 0);
    if (port.read(reply.data(), step.count) != static_cast<std::int32_t>(step.count)) return Missing(step);
    if (step.take == Take::Required && reply.front() != step.required) return Wrong(step, reply.front());
    if (step.take == Take::Result) taken = reply.front();
  }
  // 4. Success: hand the result over.
  if (result != nullptr) *result = taken;
  return {};
}

}  // namespace

serial::Status KiaWriteMemory(serial::PortHandle& port, std::uint16_t address, std::uint8_t value) {
  serial::OperationTrace operation(port, "KiaWriteMemory", "%04X %02X", address, value);
  return operation.end(Exchange(port, BuildMemoryWriteFrame(address, value), kMemoryWriteReplies));
}

serial::Status KiaReadMemory(serial::PortHandle& port, std::uint16_t address, std::uint8_t& value) {
  serial::OperationTrace operation(port, "KiaReadMemory", "%04X", address);
  const serial::Status status = Exchange(port, BuildMemoryReadFrame(address), kMemoryReadReplies, &value);
  if (status) operation.result("%02X", value);
  return operation.end(status);
}

serial::Status KiaReadEeprom(serial::PortHandle& port, std::uint16_t address, std::uint8_t& value) {
  serial::OperationTrace operation(port, "KiaReadEeprom", "%04X", address);
  const serial::Status status = Exchange(port, BuildEepromReadFrame(address), kEepromReadReplies, &value);
  if (status) operation.result("%02X", value);
  return operation.end(status);
}

serial::Status KiaWriteEeprom(serial::PortHandle& port, std::uint16_t address, std::uint8_t value) {
  serial::OperationTrace operation(port, "KiaWriteEeprom", "%04X %02X", address, value);
  return operation.end(Exchange(port, BuildEepromWriteFrame(address, value), kEepromWriteReplies));
}

}  // namespace kkm::kia
