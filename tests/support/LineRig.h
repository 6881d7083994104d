#pragma once
// Test rig: a virtual line and the host's port, opened as COM1 through a
// wrapper that notes every purge, parity switch, write and read in order, and
// a compact text form of the line's trace for whole-exchange comparisons.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialLine.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"

namespace kkm::test {

using serial::Parity;
using sim::SimTime;

inline constexpr SimTime kPollStep = 100 * sim::kNsPerUs;  // how far time moves per poll
inline constexpr SimTime kMs = sim::kNsPerMs;

// The moment a wait of `ms` ms that starts at `from` ends: the first poll
// (one every kPollStep from `from`) whose tick reads more than `ms` past the
// tick at `from`.
constexpr SimTime WaitEnd(SimTime from, std::uint32_t ms) {
  const SimTime past = (from / kMs + ms + 1) * kMs;
  return from + (past - from + kPollStep - 1) / kPollStep * kPollStep;
}

inline std::string Hex(std::uint8_t byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

// Forwards to the virtual port and notes "purge 0C", "mark", "space",
// "write 04 06 40 11 01 A3" (one platform write) and "read 1".
class RecordingPort : public serial::SerialPort {
 public:
  RecordingPort(std::unique_ptr<serial::SerialPort> inner, std::vector<std::string>& ops)
      : in_(std::move(inner)), ops_(ops) {}
  bool setBufferSizes(std::uint32_t i, std::uint32_t o) override { return in_->setBufferSizes(i, o); }
  bool getSettings(serial::LineSettings& s) override { return in_->getSettings(s); }
  bool setSettings(const serial::LineSettings& s) override {
    if (s.parity == Parity::Mark || s.parity == Parity::Space)
      ops_.push_back(s.parity == Parity::Mark ? "mark" : "space");
    return in_->setSettings(s);
  }
  bool getTimeouts(serial::Timeouts& t) override { return in_->getTimeouts(t); }
  bool setTimeouts(const serial::Timeouts& t) override { return in_->setTimeouts(t); }
  bool purge(std::uint32_t mask) override {
    ops_.push_back("purge " + Hex(static_cast<std::uint8_t>(mask)));
    return in_->purge(mask);
  }
  bool clearDtr() override { return in_->clearDtr(); }
  std::int32_t queuedInput() override { return in_->queuedInput(); }
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count) override {
    ops_.push_back("read " + std::to_string(count));
    return in_->read(buffer, count);
  }
  std::int32_t write(const std::uint8_t* data, std::uint32_t count) override {
    std::string op = "write";
    for (std::uint32_t i = 0; i < count; ++i) op += " " + Hex(data[i]);
    ops_.push_back(op);
    return in_->write(data, count);
  }
  bool close() override { return in_->close(); }

 private:
  std::unique_ptr<serial::SerialPort> in_;
  std::vector<std::string>& ops_;
};

// Opens the virtual line's ports wrapped in a RecordingPort.
class RecordingPlatform : public serial::Platform {
 public:
  RecordingPlatform(sim::VirtualPlatform& inner, std::vector<std::string>& ops) : inner_(inner), ops_(ops) {}
  std::unique_ptr<serial::SerialPort> openPort(const std::string& name) override {
    return std::make_unique<RecordingPort>(inner_.openPort(name), ops_);
  }
  serial::Clock& clock() override { return inner_.clock(); }

 private:
  sim::VirtualPlatform& inner_;
  std::vector<std::string>& ops_;
};

struct LineRig {
  LineRig() {
    platform.addPort("COM1", line);
    static_cast<void>(serial::OpenComPort(recording, 1, port));  // the rig's own port: it opens
    ops.clear();
  }

  // The port calls since the port was opened, joined by ", ".
  std::string calls() const {
    std::string text;
    for (const auto& op : ops) text += (text.empty() ? "" : ", ") + op;
    return text;
  }
  // The trace as text: host bytes "BAm" / "04s" (parity m, s or n),
  // device bytes "<BA".
  std::string wire() const {
    std::string text;
    for (const auto& e : line.trace()) {
      if (!text.empty()) text += ' ';
      if (e.direction == sim::Direction::DeviceToHost) {
        text += "<" + Hex(e.byte);
      } else {
        text += Hex(e.byte) + (e.parity == Parity::Mark ? "m" : e.parity == Parity::Space ? "s" : "n");
      }
    }
    return text;
  }
  const sim::TraceEntry& at(std::size_t i) const { return line.trace().at(i); }
  Parity parity() const { return line.hostSettings().parity; }
  // Sends `bytes` in one write with the given parity (for raw device tests).
  void send(Parity parity, std::vector<std::uint8_t> bytes) {
    serial::SetAddressParity(port, parity == Parity::Mark);
    port.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }

  sim::VirtualLine line;
  sim::VirtualPlatform platform{line};
  std::vector<std::string> ops;
  RecordingPlatform recording{platform, ops};
  serial::PortHandle port{platform.clock()};
};

}  // namespace kkm::test
