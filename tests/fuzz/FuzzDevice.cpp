#include "tests/fuzz/FuzzDevice.h"

#include <algorithm>

#include "tests/fuzz/FuzzCheck.h"

namespace kkm::fuzz {

namespace {
constexpr std::uint8_t kKindMask = 0x07;
constexpr int kParityShift = 3;
constexpr std::uint8_t kParityMask = 0x03;
constexpr std::uint8_t kLongDelayBit = 0x20;
constexpr std::uint8_t kRepeatBit = 0x40;
constexpr std::uint8_t kMoreBit = 0x80;

constexpr std::uint8_t kParityNone = 0;
constexpr std::uint8_t kParityMark = 1;
constexpr std::uint8_t kParitySpace = 2;

// What every good register reply sums to, modulo 256.
constexpr std::uint8_t kReplySum = 0xFF;
}  // namespace

void FuzzDevice::at(SimTime when, std::function<void()> action) {
  timed_.push_back({when, std::move(action)});
}

void FuzzDevice::receive(std::uint8_t byte, Parity parity, SimTime at) {
  message_.push_back(byte);
  lastParity_ = parity;
  lastArrival_ = at;
  promptPending_ = true;
}

void FuzzDevice::advanceTo(SimTime until) {
  // 1. Nothing may still be running past the operation's bound.
  if (until > deadline_) Violation("the operation ran past its time bound", __FILE__, __LINE__);
  // 2. Timed actions that are due.
  for (std::size_t i = 0; i < timed_.size();) {
    if (timed_[i].when > until) {
      ++i;
      continue;
    }
    auto action = std::move(timed_[i].action);
    timed_.erase(timed_.begin() + static_cast<std::ptrdiff_t>(i));
    action();
  }
  // 3. The host has gone quiet: answer its message.
  const SimTime quietAt = lastArrival_ + kQuietGap;
  if (promptPending_ && until >= quietAt) {
    promptPending_ = false;
    answer(quietAt);
  }
}

SimTime FuzzDevice::nextActionAt() const {
  SimTime next = promptPending_ ? lastArrival_ + kQuietGap : kIdleForever;
  for (const Timed& timed : timed_) next = std::min(next, timed.when);
  return next;
}

std::uint8_t FuzzDevice::next() { return cursor_ < script_.size() ? script_[cursor_++] : 0; }

FuzzDevice::Part FuzzDevice::readPart(bool& more, std::uint32_t& repeats) {
  // 1. Header, delay and repeat count.
  const std::uint8_t header = next();
  Part part;
  part.kind = static_cast<PartKind>(header & kKindMask);
  part.parityChoice = static_cast<std::uint8_t>((header >> kParityShift) & kParityMask);
  std::uint32_t delay = next();
  if (header & kLongDelayBit) delay = (delay << 8) | next();
  part.delay = delay * kDelayUnit;
  if (header & kRepeatBit) repeats = RepeatCount(next());
  more = (header & kMoreBit) != 0;
  // 2. The body; data bytes stop where the script ends.
  const auto takeData = [&](std::size_t count) {
    for (std::size_t i = 0; i < count && cursor_ < script_.size(); ++i) part.bytes.push_back(next());
  };
  switch (part.kind) {
    case PartKind::Raw:
      takeData(next());
      break;
    case PartKind::Fill: {
      const std::uint8_t count = next();
      part.bytes.assign(count, next());
      break;
    }
    case PartKind::GoodReply: {
      takeData(next());
      std::uint8_t sum = static_cast<std::uint8_t>(part.bytes.size());
      for (std::uint8_t b : part.bytes) sum = static_cast<std::uint8_t>(sum + b);
      part.bytes.insert(part.bytes.begin(), static_cast<std::uint8_t>(part.bytes.size()));
      part.bytes.push_back(static_cast<std::uint8_t>(kReplySum - sum));
      break;
    }
    case PartKind::WrongEcho:
      part.wrongBy = static_cast<std::uint8_t>(1 + next() % 255);
      break;
    case PartKind::SlowRaw: {
      const std::uint8_t count = next();
      part.gap = next() * kDelayUnit;
      takeData(count);
      break;
    }
    case PartKind::Silent:
    case PartKind::EchoLast:
    case PartKind::EchoMessage:
      break;
  }
  return part;
}

void FuzzDevice::readAnswer() {
  answer_.clear();
  std::uint32_t repeats = 0;
  bool more = true;
  while (more && cursor_ < script_.size()) answer_.push_back(readPart(more, repeats));
  repeatsLeft_ = repeats;
}

void FuzzDevice::answer(SimTime decidedAt) {
  ++prompts_;
  lastMessage_.swap(message_);
  message_.clear();
  // 1. The same answer again while repeats are left, else the script's next one
  //    (none at all once the script has run out).
  if (repeatsLeft_ > 0) {
    --repeatsLeft_;
  } else if (cursor_ < script_.size()) {
    readAnswer();
  } else {
    answer_.clear();
  }
  // 2. Each part after its delay; nothing goes out before the device decided.
  SimTime base = lastArrival_;
  for (const Part& part : answer_) {
    const SimTime notBefore = std::max(base + part.delay, decidedAt);
    const std::size_t before = sent_;
    send(part, notBefore);
    base = sent_ > before ? transmitter_->transmitterFreeAt() : notBefore;
  }
}

Parity FuzzDevice::parityOf(const Part& part) const {
  switch (part.parityChoice) {
    case kParityNone:
      return Parity::None;
    case kParityMark:
      return Parity::Mark;
    case kParitySpace:
      return Parity::Space;
    default:
      return lastParity_;
  }
}

void FuzzDevice::send(const Part& part, SimTime notBefore) {
  const Parity parity = parityOf(part);
  const auto put = [&](std::uint8_t byte, SimTime at) {
    if (sent_ >= kMaxBytesPerRun) return;
    transmitter_->transmit(byte, parity, at);
    ++sent_;
  };
  const std::uint8_t last = lastMessage_.empty() ? 0 : lastMessage_.back();
  switch (part.kind) {
    case PartKind::Silent:
      break;
    case PartKind::Raw:
    case PartKind::Fill:
    case PartKind::GoodReply:
      for (std::uint8_t b : part.bytes) put(b, notBefore);
      break;
    case PartKind::SlowRaw: {
      SimTime at = notBefore;
      for (std::uint8_t b : part.bytes) {
        put(b, at);
        at = transmitter_->transmitterFreeAt() + part.gap;
      }
      break;
    }
    case PartKind::EchoLast:
      put(last, notBefore);
      break;
    case PartKind::EchoMessage:
      for (std::uint8_t b : lastMessage_) put(b, notBefore);
      break;
    case PartKind::WrongEcho:
      put(static_cast<std::uint8_t>(last + part.wrongBy), notBefore);
      break;
  }
}

}  // namespace kkm::fuzz
