#pragma once
// A line device that plays whatever peer a fuzzer makes of it. It answers the
// host from a script of bytes: the host's bytes are taken as one message until
// no host byte has come for kQuietGap, and every message is a prompt that the
// next answer of the script answers. When the script runs out the device stays
// silent.
//
// An answer is one or more parts; a part is
//   header  bits 0-2  kind (PartKind)
//           bits 3-4  parity of the bytes sent: none, MARK, SPACE, or that
//                     of the host's last byte
//           bit 5     long delay: the delay takes two bytes (high first)
//           bit 6     a repeat byte follows: the whole answer is given again
//                     to that many later prompts (RepeatCount)
//           bit 7     another part of the same answer follows
//   delay   one byte, or two with bit 5, in units of 0.1 ms: the first part
//           counts it from the arrival of the host's last byte, later parts
//           from the moment the previous part's last byte has gone out
//   repeat  one byte, when bit 6 of the header says so
//   body    as the kind says.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "sim/line/LineDevice.h"

namespace kkm::fuzz {

using sim::Parity;
using sim::SimTime;

enum class PartKind : std::uint8_t {
  Silent = 0,       // nothing: only a pause before the next part
  Raw = 1,          // n, then n bytes sent as they are
  Fill = 2,         // n, v: the byte v n times (0x65 busy storms)
  GoodReply = 3,    // n, then n data bytes: sent as L = n, data, the checksum that makes them sum to 0xFF
  EchoLast = 4,     // the host's last byte: an address echo or a register's acknowledgement
  EchoMessage = 5,  // the whole last message, as a loop-back plug would
  WrongEcho = 6,    // k: a byte that differs from the host's last byte by 1 + k % 255
  SlowRaw = 7,      // n, g, then n bytes, g * 0.1 ms of silence between two of them
};

// Silence after a host byte that ends a message. A host writes a frame back to
// back, so a frame is never split; every wait of the link code is longer.
inline constexpr SimTime kQuietGap = 2 * sim::kNsPerMs;
// The unit of the script's delays and gaps: the virtual line's poll step.
inline constexpr SimTime kDelayUnit = 100 * sim::kNsPerUs;
// At most this many bytes go out in one run, so that every run stays short;
// the host's driver holds no more than this either.
inline constexpr std::size_t kMaxBytesPerRun = 1024;

// The number of later prompts a repeat byte stands for: 0..127 as it is, then
// steps of 128 up to 16384, enough for a busy storm that outlasts every limit.
constexpr std::uint32_t RepeatCount(std::uint8_t encoded) {
  return encoded < 128 ? encoded : (encoded - 127u) * 128u;
}

class FuzzDevice : public sim::LineDevice {
 public:
  explicit FuzzDevice(std::span<const std::uint8_t> script) : script_(script.begin(), script.end()) {}

  // Runs `action` once, when the device is first run up to `when` or later.
  void at(SimTime when, std::function<void()> action);
  // Being run past `when` is a violation: the operation under test has
  // outlived every wait it is allowed.
  void setDeadline(SimTime when) { deadline_ = when; }

  void connect(sim::DeviceTransmitter& transmitter) override { transmitter_ = &transmitter; }
  void receive(std::uint8_t byte, Parity parity, SimTime at) override;
  void advanceTo(SimTime until) override;
  SimTime nextActionAt() const override;

  std::size_t prompts() const { return prompts_; }
  std::size_t bytesSent() const { return sent_; }

 private:
  struct Part {
    PartKind kind = PartKind::Silent;
    std::uint8_t parityChoice = 0;
    SimTime delay = 0;
    std::vector<std::uint8_t> bytes;  // Raw, Fill, GoodReply, SlowRaw: what goes out
    SimTime gap = 0;                  // SlowRaw
    std::uint8_t wrongBy = 1;         // WrongEcho
  };
  struct Timed {
    SimTime when;
    std::function<void()> action;
  };

  std::uint8_t next();
  Part readPart(bool& more, std::uint32_t& repeats);
  void readAnswer();
  void answer(SimTime decidedAt);
  void send(const Part& part, SimTime notBefore);
  Parity parityOf(const Part& part) const;

  std::vector<std::uint8_t> script_;
  std::size_t cursor_ = 0;
  sim::DeviceTransmitter* transmitter_ = nullptr;

  std::vector<std::uint8_t> message_;      // host bytes since the last prompt
  std::vector<std::uint8_t> lastMessage_;  // the message being answered
  Parity lastParity_ = Parity::None;
  SimTime lastArrival_ = 0;
  bool promptPending_ = false;

  std::vector<Part> answer_;  // the answer replayed while repeats are left
  std::uint32_t repeatsLeft_ = 0;

  std::vector<Timed> timed_;
  SimTime deadline_ = ~SimTime{0};
  std::size_t prompts_ = 0;
  std::size_t sent_ = 0;
};

}  // namespace kkm::fuzz
