#include "tests/fuzz/FuzzRig.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "serial/SerialLine.h"
#include "tests/fuzz/FuzzCheck.h"

namespace kkm::fuzz {

namespace {
constexpr sim::SimTime kVanishStep = 50 * sim::kNsPerMs;
constexpr unsigned kFifoTriggerLevels[] = {0, 4, 8, 14};
constexpr unsigned kFifoTimeoutCharacters = 4;
// Longer than the longest frame the host writes (257 bytes) takes to cross.
constexpr sim::SimTime kSettleTime = 400 * sim::kNsPerMs;
}  // namespace

bool InTraceSince(const sim::TraceEntry& entry, sim::SimTime since) {
  return entry.direction == sim::Direction::HostToDevice ? entry.start >= since : entry.end > since;
}

std::vector<std::uint8_t> BytesSince(const sim::VirtualLine& line, sim::Direction direction,
                                     sim::SimTime since) {
  std::vector<std::uint8_t> bytes;
  for (const sim::TraceEntry& e : line.trace())
    if (e.direction == direction && InTraceSince(e, since)) bytes.push_back(e.byte);
  return bytes;
}

std::vector<sim::TraceEntry> HostEntriesSince(const sim::VirtualLine& line, sim::SimTime since) {
  std::vector<sim::TraceEntry> entries;
  entries.reserve(line.trace().size());
  for (const sim::TraceEntry& e : line.trace())
    if (e.direction == sim::Direction::HostToDevice && InTraceSince(e, since)) entries.push_back(e);
  return entries;
}

bool FramesOnlyAfterEcho(const sim::VirtualLine& line, sim::SimTime since, std::uint8_t address) {
  sim::SimTime echoedAt = ~sim::SimTime{0};
  for (const sim::TraceEntry& e : line.trace()) {
    if (!InTraceSince(e, since)) continue;
    if (e.direction == sim::Direction::DeviceToHost) {
      if (e.byte == address && echoedAt == ~sim::SimTime{0}) echoedAt = e.end;
      continue;
    }
    if (e.parity == serial::Parity::Mark && e.byte != address) return false;
    if (e.parity == serial::Parity::Space && e.start < echoedAt) return false;
  }
  return true;
}

FuzzLine::FuzzLine(std::span<const std::uint8_t> script) : device(script) {
  UseIdleJumps(line);
  platform.addPort("COM1", line);
  line.attach(device);
}

void FuzzLine::vanishLater(std::uint8_t code) {
  if (code == 0) return;
  device.at(line.now() + code * kVanishStep, [this] { line.vanish(); });
}

void UseReceiveFifo(sim::VirtualLine& line, std::uint8_t code) {
  const unsigned trigger = kFifoTriggerLevels[code % std::size(kFifoTriggerLevels)];
  if (trigger != 0) line.setHostReceiveFifo(trigger, kFifoTimeoutCharacters);
}

void UseIdleJumps(sim::VirtualLine& line) {
  static const bool stepOnly = std::getenv("KKM_FUZZ_STEP_ONLY") != nullptr;
  line.setIdleJumps(!stepOnly);
}

void FuzzLine::startOperation(std::uint32_t boundMs) {
  start_ = line.now();
  bound_ = boundMs * sim::kNsPerMs;
  device.setDeadline(start_ + bound_);
}

void FuzzLine::endOperation(const char* what, bool result) {
  end_ = line.now();
  const sim::SimTime took = end_ - start_;
  KKM_FUZZ_CHECK(took <= bound_);
  device.setDeadline(~sim::SimTime{0});
  line.advanceBy(kSettleTime);
  if (std::getenv("KKM_FUZZ_TRACE") != nullptr) {
    std::fprintf(stderr, "%s -> %s after %.1f ms\n", what, result ? "true" : "false",
                 static_cast<double>(took) / sim::kNsPerMs);
    for (const sim::TraceEntry& e : line.trace()) {
      if (!InTraceSince(e, start_)) continue;
      const bool host = e.direction == sim::Direction::HostToDevice;
      const char parity = e.parity == serial::Parity::Mark    ? 'm'
                          : e.parity == serial::Parity::Space ? 's'
                                                              : 'n';
      std::fprintf(stderr, "  %10.3f ms %s %02X%c\n", static_cast<double>(e.end) / sim::kNsPerMs,
                   host ? "host  " : "device", e.byte, parity);
    }
  }
}

bool FuzzLine::arrivedDuringOperation(std::uint8_t byte) const {
  for (const sim::TraceEntry& e : line.trace())
    if (e.direction == sim::Direction::DeviceToHost && e.byte == byte && e.end > start_ && e.end <= end_)
      return true;
  return false;
}

FuzzPort::FuzzPort(std::span<const std::uint8_t> script) : FuzzLine(script) {
  KKM_FUZZ_CHECK(serial::OpenComPort(platform, 1, port));
}

}  // namespace kkm::fuzz
