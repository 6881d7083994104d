#include "tests/fuzz/FuzzRig.h"

#include <cstdio>
#include <cstdlib>

#include "serial/SerialLine.h"
#include "tests/fuzz/FuzzCheck.h"

namespace kkm::fuzz {

namespace {
constexpr sim::SimTime kVanishStep = 50 * sim::kNsPerMs;
}  // namespace

std::vector<std::uint8_t> BytesSince(const sim::VirtualLine& line, sim::Direction direction,
                                     sim::SimTime since) {
  std::vector<std::uint8_t> bytes;
  for (const sim::TraceEntry& e : line.trace())
    if (e.direction == direction && e.end > since) bytes.push_back(e.byte);
  return bytes;
}

std::vector<sim::TraceEntry> HostEntriesSince(const sim::VirtualLine& line, sim::SimTime since) {
  std::vector<sim::TraceEntry> entries;
  for (const sim::TraceEntry& e : line.trace())
    if (e.direction == sim::Direction::HostToDevice && e.end > since) entries.push_back(e);
  return entries;
}

bool FramesOnlyAfterEcho(const sim::VirtualLine& line, sim::SimTime since, std::uint8_t address) {
  sim::SimTime echoedAt = ~sim::SimTime{0};
  for (const sim::TraceEntry& e : line.trace()) {
    if (e.end <= since) continue;
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
  platform.addPort("COM1", line);
  line.attach(device);
}

void FuzzLine::vanishLater(std::uint8_t code) {
  if (code == 0) return;
  device.at(line.now() + code * kVanishStep, [this] { line.vanish(); });
}

void FuzzLine::startOperation(std::uint32_t boundMs) {
  start_ = line.now();
  bound_ = boundMs * sim::kNsPerMs;
  device.setDeadline(start_ + bound_);
}

void FuzzLine::endOperation(const char* what, bool result) const {
  if (std::getenv("KKM_FUZZ_TRACE") != nullptr) {
    std::fprintf(stderr, "%s -> %s after %.1f ms\n", what, result ? "true" : "false",
                 static_cast<double>(line.now() - start_) / sim::kNsPerMs);
    for (const sim::TraceEntry& e : line.trace()) {
      if (e.end <= start_) continue;
      const bool host = e.direction == sim::Direction::HostToDevice;
      const char parity = e.parity == serial::Parity::Mark    ? 'm'
                          : e.parity == serial::Parity::Space ? 's'
                                                              : 'n';
      std::fprintf(stderr, "  %10.3f ms %s %02X%c\n", static_cast<double>(e.end) / sim::kNsPerMs,
                   host ? "host  " : "device", e.byte, parity);
    }
  }
  KKM_FUZZ_CHECK(line.now() - start_ <= bound_);
}

FuzzPort::FuzzPort(std::span<const std::uint8_t> script) : FuzzLine(script) {
  KKM_FUZZ_CHECK(serial::OpenComPort(platform, 1, port));
}

}  // namespace kkm::fuzz
