#include "sim/cashreg/CashRegister.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace kkm::sim {

namespace {
constexpr std::uint8_t kFrameSum = 0xFF;
constexpr std::uint8_t kCmdWriteData = 0x05;
constexpr std::uint8_t kCmdReadData = 0x06;
constexpr std::uint8_t kCmdVersion = 0x14;
constexpr std::uint8_t kCmdReadNonVolatile = 0x16;
constexpr std::uint8_t kCmdWriteNonVolatile = 0x17;

// Frame offsets: L, command, address low, address high, count, data.
constexpr std::size_t kCommandOffset = 1;
constexpr std::size_t kAddressLowOffset = 2;
constexpr std::size_t kAddressHighOffset = 3;
constexpr std::size_t kCountOffset = 4;
constexpr std::size_t kDataOffset = 5;
constexpr std::uint8_t kMemoryFrameLength = 4;  // L of a frame without data bytes
constexpr std::uint8_t kVersionFrameLength = 1;
constexpr std::size_t kVersionD5 = 5;
constexpr std::size_t kVersionD6 = 6;

const std::vector<std::uint8_t> kDefaultStrayBytes{0x00, 0x55};

std::uint8_t Sum(const std::vector<std::uint8_t>& bytes) {
  return static_cast<std::uint8_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

bool IsAddressPhaseFault(RegisterFault fault) {
  return fault == RegisterFault::Silent || fault == RegisterFault::Busy || fault == RegisterFault::WrongEcho;
}
}  // namespace

CashRegister::CashRegister()
    : dataMemory_(std::make_unique_for_overwrite<DataMemory>()),
      nonVolatile_(std::make_unique_for_overwrite<NonVolatileMemory>()) {
  dataMemory_->fill(0);
  nonVolatile_->fill(0);
  setFirmwareVersion(0x01, 0x05);
}

CashRegister::CashRegister(int networkNumber) : CashRegister() {
  const std::uint8_t byte = NetworkNumberByte(networkNumber);
  (*nonVolatile_)[kStoredNumberCell] = byte;
  (*nonVolatile_)[kStoredChecksumCell] = nonVolatileBlockSum();
  powerUp();
}

std::uint8_t CashRegister::NetworkNumberByte(int number) {
  if (number < 1 || number > 99) throw std::out_of_range("network number outside 1..99");
  const int bcd = (number / 10) * 16 + number % 10;
  return static_cast<std::uint8_t>(0xFF - bcd);
}

std::uint8_t CashRegister::nonVolatileBlockSum() const {
  return static_cast<std::uint8_t>(std::accumulate(nonVolatile_->begin() + kChecksumBlockStart,
                                                   nonVolatile_->begin() + kChecksumBlockEnd, 0u));
}

bool CashRegister::nonVolatileChecksumHolds() const {
  return (*nonVolatile_)[kStoredChecksumCell] == nonVolatileBlockSum();
}

void CashRegister::powerUp() {
  const std::uint8_t byte = (*nonVolatile_)[kStoredNumberCell];
  (*dataMemory_)[kLineAddressCell] = byte;
  (*dataMemory_)[kWorkingNumberCell] = byte;
  selected_ = false;
  silent_ = false;
  inBusyPhase_ = false;
  frame_.clear();
  outbox_.clear();
}

void CashRegister::setFirmwareVersion(std::uint8_t d5, std::uint8_t d6) {
  versionData_.fill(0);
  versionData_[kVersionD5] = d5;
  versionData_[kVersionD6] = d6;
}

void CashRegister::faultOnExchange(std::uint32_t exchange, RegisterFault fault,
                                   std::vector<std::uint8_t> bytes) {
  FaultRule rule;
  rule.fault = fault;
  rule.exchange = exchange;
  rule.bytes = std::move(bytes);
  addFault(rule);
}

void CashRegister::faultOnCommand(std::uint8_t command, RegisterFault fault, std::uint32_t occurrence,
                                  std::vector<std::uint8_t> bytes) {
  FaultRule rule;
  rule.bytes = std::move(bytes);
  rule.fault = fault;
  rule.command = command;
  rule.occurrence = occurrence;
  rule.times = occurrence == 0 ? 0 : 1;
  addFault(rule);
}

void CashRegister::receive(std::uint8_t byte, Parity parity, SimTime at) {
  if (parity == Parity::Mark) {
    // An address byte ends any frame in progress and selects one register.
    frame_.clear();
    if (byte == lineAddress()) {
      onOwnAddress(at);
    } else {
      selected_ = false;
      inBusyPhase_ = false;
    }
  } else if (parity == Parity::Space) {
    onDataByte(byte, at);
  }
  // Characters without a ninth bit are not multi-drop traffic.
}

void CashRegister::advanceTo(SimTime until) {
  auto due = outbox_.begin();
  for (; due != outbox_.end() && due->first <= until; ++due)
    transmitter_->transmit(due->second, Parity::Space, due->first);
  outbox_.erase(outbox_.begin(), due);
}

void CashRegister::send(SimTime at, std::uint8_t byte) {
  // Answers are mostly queued in the order they go out: then at the back.
  auto place = outbox_.end();
  if (!outbox_.empty() && outbox_.back().first > at)
    place = std::upper_bound(outbox_.begin(), outbox_.end(), at,
                             [](SimTime time, const auto& queued) { return time < queued.first; });
  outbox_.emplace(place, at, byte);
}

void CashRegister::beginExchange() {
  ++exchange_;
  inBusyPhase_ = false;
  busyLeft_ = busyAnswers_;
  busyLeftForever_ = busyForever_;
  silent_ = false;
}

void CashRegister::onOwnAddress(SimTime at) {
  // 1. A new exchange, unless this repeats the address after a busy answer.
  const FaultRule* fault = nullptr;
  if (!inBusyPhase_) {
    beginExchange();
    fault = takeFault(Phase::Address, std::nullopt);
    if (fault && fault->fault == RegisterFault::Silent) silent_ = true;
    if (fault && fault->fault == RegisterFault::Busy) busyLeft_ = fault->count;
  }
  const SimTime answerAt = at + Ms(timing_.echoDelayMs);
  // 2. Silent: no echo, no selection.
  if (silent_) {
    selected_ = false;
    return;
  }
  // 3. Busy: 0x65 in place of the echo; the host sends the address again.
  if (busyLeftForever_ || busyLeft_ > 0) {
    if (!busyLeftForever_) --busyLeft_;
    inBusyPhase_ = true;
    selected_ = false;
    send(answerAt, kBusyAnswer);
    return;
  }
  // 4. The echo, right or wrong, and the register takes the next frame.
  inBusyPhase_ = false;
  std::uint8_t echo = lineAddress();
  if (fault && fault->fault == RegisterFault::WrongEcho)
    echo = fault->bytes.empty() ? static_cast<std::uint8_t>(~echo) : fault->bytes.front();
  send(answerAt, echo);
  selected_ = true;
}

void CashRegister::onDataByte(std::uint8_t byte, SimTime at) {
  if (!selected_ && addressPhaseRequired_) return;
  // A frame that stalled is dropped; this byte starts a new one.
  if (!frame_.empty() && at - lastFrameByteAt_ > Ms(timing_.frameGapMs)) frame_.clear();
  frame_.push_back(byte);
  lastFrameByteAt_ = at;
  if (frame_.size() == static_cast<std::size_t>(frame_.front()) + 2) {
    onFrame(at);
    frame_.clear();
  }
}

void CashRegister::onFrame(SimTime at) {
  // 1. A frame without its own address byte is an exchange of its own; the
  // selection covers one frame only.
  if (!selected_) {
    beginExchange();
    const auto fault = takeFault(Phase::Address, std::nullopt);
    if (fault && fault->fault == RegisterFault::Silent) silent_ = true;
  }
  selected_ = false;
  // 2. Silence, a bad checksum or a frame without a command: nothing happens.
  if (silent_ || Sum(frame_) != kFrameSum || frame_.front() < kVersionFrameLength) return;
  const std::uint8_t ackByte = frame_.back();
  // 3. Faults of the frame phase.
  const auto fault = takeFault(Phase::Frame, frame_[kCommandOffset]);
  const auto is = [&fault](RegisterFault f) { return fault && fault->fault == f; };
  if (is(RegisterFault::Silent)) return;
  // 4. Execute; the firmware acknowledges only commands it knows.
  auto replyData = execute(at);
  if (!replyData) return;
  // 5. The acknowledgement.
  SimTime t = at + Ms(timing_.ackDelayMs);
  const std::uint8_t ack =
      is(RegisterFault::WrongAck)
          ? (fault->bytes.empty() ? static_cast<std::uint8_t>(~ackByte) : fault->bytes.front())
          : ackByte;
  send(t, ack);
  t += CharacterTime(Parity::Space);
  // 6. The reply: L, data, C, paced by the transmitter.
  const bool replies =
      frame_[kCommandOffset] != kCmdWriteData && frame_[kCommandOffset] != kCmdWriteNonVolatile;
  if (replies && !is(RegisterFault::NoReply)) {
    std::vector<std::uint8_t> reply;
    reply.push_back(static_cast<std::uint8_t>(replyData->size()));
    reply.insert(reply.end(), replyData->begin(), replyData->end());
    reply.push_back(static_cast<std::uint8_t>(kFrameSum - Sum(reply)));
    if (is(RegisterFault::BadReplyChecksum)) ++reply.back();
    if (is(RegisterFault::ShortReply)) reply.pop_back();
    t += Ms(timing_.replyDelayMs);
    for (std::uint8_t b : reply) send(t, b);
  }
  // 7. Stray bytes after everything else.
  if (is(RegisterFault::StrayBytes))
    for (std::uint8_t b : fault->bytes.empty() ? kDefaultStrayBytes : fault->bytes) send(t, b);
}

std::optional<std::vector<std::uint8_t>> CashRegister::execute(SimTime at) {
  const std::uint8_t length = frame_.front();
  const std::uint8_t command = frame_[kCommandOffset];
  if (command == kCmdVersion) {
    if (length != kVersionFrameLength) return std::nullopt;
    log_.push_back({command, 0, 0, at});
    return std::vector<std::uint8_t>(versionData_.begin(), versionData_.end());
  }
  // Memory commands: L, command, address low, address high, count, data.
  if (length < kMemoryFrameLength) return std::nullopt;
  const auto address =
      static_cast<std::uint16_t>(frame_[kAddressLowOffset] | (frame_[kAddressHighOffset] << 8));
  const std::uint8_t count = frame_[kCountOffset];
  const bool writes = command == kCmdWriteData || command == kCmdWriteNonVolatile;
  const bool reads = command == kCmdReadData || command == kCmdReadNonVolatile;
  if (!(writes || reads) || length != kMemoryFrameLength + (writes ? count : 0)) return std::nullopt;
  const bool nonVolatile = command == kCmdReadNonVolatile || command == kCmdWriteNonVolatile;
  const auto cell = [&](std::size_t i) -> std::uint8_t& {
    const auto at = static_cast<std::uint16_t>(address + i);
    return nonVolatile ? (*nonVolatile_)[at % kNonVolatileSize] : (*dataMemory_)[at];
  };
  log_.push_back({command, address, count, at});
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i < count; ++i) {
    if (writes)
      cell(i) = frame_[kDataOffset + i];
    else
      data.push_back(cell(i));
  }
  return data;
}

const FaultRule* CashRegister::takeFault(Phase phase, std::optional<std::uint8_t> command) {
  const auto inPhase = [phase](const FaultRule& rule) {
    return (IsAddressPhaseFault(rule.fault) && !rule.command) == (phase == Phase::Address);
  };
  // 1. Every command rule counts the frames carrying its command.
  for (ActiveRule& active : faults_)
    if (inPhase(active.rule) && active.rule.command && active.rule.command == command) ++active.seen;
  // 2. The first rule that hits this exchange.
  for (ActiveRule& active : faults_) {
    const FaultRule& rule = active.rule;
    if (!inPhase(rule)) continue;
    if (rule.command && (rule.command != command || (rule.occurrence != 0 && active.seen != rule.occurrence)))
      continue;
    if (rule.exchange != 0 && rule.exchange != exchange_) continue;
    if (rule.times != 0 && active.hits >= rule.times) continue;
    ++active.hits;
    return &rule;
  }
  return nullptr;
}

}  // namespace kkm::sim
