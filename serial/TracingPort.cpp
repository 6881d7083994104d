#include "serial/TracingPort.h"

#include <algorithm>
#include <cstdio>

#include "serial/Failure.h"

namespace kkm::serial {

namespace {

constexpr std::uint32_t kDefaultBaud = 9600;
constexpr std::uint64_t kNsPerS = 1'000'000'000;

std::string Hex2(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

// The stop bits code: 0 one, 1 one and a half, 2 two.
const char* StopBits(std::uint8_t code) { return code == 0 ? "1" : code == 1 ? "1.5" : "2"; }

std::string Ok(bool ok) { return ok ? "" : ": refused"; }

}  // namespace

TracingPort::TracingPort(std::unique_ptr<SerialPort> inner, TraceSink& sink)
    : inner_(std::move(inner)), sink_(sink) {}

void TracingPort::note(const std::string& text) {
  sink_.event(text);
  sink_.flush();
}

std::uint64_t TracingPort::characterNs() const {
  // Start bit, data bits, the parity bit if any, stop bits.
  const std::uint64_t bits = 1u + settings_.byteSize + (settings_.parity == Parity::None ? 0u : 1u) +
                             (settings_.stopBits == 0 ? 1u : 2u);
  const std::uint32_t baud = settings_.baudRate != 0 ? settings_.baudRate : kDefaultBaud;
  return bits * kNsPerS / baud;
}

bool TracingPort::setBufferSizes(std::uint32_t input, std::uint32_t output) {
  const bool ok = inner_->setBufferSizes(input, output);
  note("buffers " + std::to_string(input) + "/" + std::to_string(output) + Ok(ok));
  return ok;
}

bool TracingPort::setSettings(const LineSettings& settings) {
  const bool ok = inner_->setSettings(settings);
  LineSettings others = settings;
  others.parity = settings_.parity;
  if (settingsKnown_ && others == settings_) {
    note(std::string("parity ") + ParityWord(settings.parity) + Ok(ok));
  } else {
    note("settings " + std::to_string(settings.baudRate) + " bit/s, " + std::to_string(settings.byteSize) +
         " bits, parity " + ParityWord(settings.parity) + ", " + StopBits(settings.stopBits) +
         " stop bit(s), flags " + Hex2(settings.flags) + Ok(ok));
  }
  settings_ = settings;
  settingsKnown_ = true;
  return ok;
}

bool TracingPort::setTimeouts(const Timeouts& t) {
  const bool ok = inner_->setTimeouts(t);
  char text[96];
  std::snprintf(text, sizeof text, "timeouts read %u+%u*n ms (gap %u ms), write %u+%u*n ms",
                t.readTotalConstant, t.readTotalMultiplier, t.readInterval, t.writeTotalConstant,
                t.writeTotalMultiplier);
  note(text + Ok(ok));
  return ok;
}

bool TracingPort::purge(std::uint32_t mask) {
  const bool ok = inner_->purge(mask);
  std::string text = "purge " + Hex2(mask);
  if ((mask & kPurgeRxClear) != 0) {
    if (!queuedSinceNs_.empty())
      text += ", " + std::to_string(queuedSinceNs_.size()) + " unread byte(s) dropped";
    queuedSinceNs_.clear();
  }
  note(text + Ok(ok));
  return ok;
}

bool TracingPort::clearDtr() {
  const bool ok = inner_->clearDtr();
  note("dtr low" + Ok(ok));
  return ok;
}

std::int32_t TracingPort::queuedInput() {
  const std::int32_t count = inner_->queuedInput();
  if (count < 0) return count;
  const auto queued = static_cast<std::size_t>(count);
  if (queued < queuedSinceNs_.size()) queuedSinceNs_.resize(queued);
  if (queued > queuedSinceNs_.size()) queuedSinceNs_.resize(queued, sink_.elapsedNs());
  return count;
}

std::int32_t TracingPort::read(std::uint8_t* buffer, std::uint32_t count) {
  const std::int32_t got = inner_->read(buffer, count);
  const std::uint64_t now = sink_.elapsedNs();
  for (std::int32_t i = 0; i < got; ++i) {
    std::uint64_t at = now;
    if (!queuedSinceNs_.empty()) {
      at = queuedSinceNs_.front();
      queuedSinceNs_.pop_front();
    }
    sink_.eventAt(at, FormatByteEvent(false, buffer[i], Parity::None));
  }
  if (got != static_cast<std::int32_t>(count))
    sink_.event("read " + std::to_string(count) + ": " +
                (got < 0 ? "failed" : std::to_string(got) + " received"));
  sink_.flush();
  return got;
}

std::int32_t TracingPort::write(const std::uint8_t* data, std::uint32_t count) {
  const std::uint64_t start = sink_.elapsedNs();
  const std::int32_t sent = inner_->write(data, count);
  for (std::int32_t i = 0; i < sent; ++i) {
    transmitterFreeNs_ = std::max(start, transmitterFreeNs_) + characterNs();
    sink_.eventAt(transmitterFreeNs_, FormatByteEvent(true, data[i], settings_.parity));
  }
  if (sent != static_cast<std::int32_t>(count))
    sink_.event("write " + std::to_string(count) + ": " +
                (sent < 0 ? "failed" : std::to_string(sent) + " sent"));
  sink_.flush();
  return sent;
}

bool TracingPort::close() {
  const bool ok = inner_->close();
  note(std::string("close") + (ok ? "" : ": failed"));
  return ok;
}

TracingPlatform::TracingPlatform(Platform& inner, TraceSink& sink, std::string program)
    : inner_(inner), sink_(sink), program_(std::move(program)) {}

std::unique_ptr<SerialPort> TracingPlatform::openPort(const std::string& name) {
  return traced(name, inner_.devicePath(name), [&] { return inner_.openPort(name); });
}

std::unique_ptr<SerialPort> TracingPlatform::openResolved(const std::string& name,
                                                          const ResolvedPort& resolved) {
  return traced(name, resolved.device, [&] { return inner_.openResolved(name, resolved); });
}

std::unique_ptr<SerialPort> TracingPlatform::traced(
    const std::string& name, const std::string& device,
    const std::function<std::unique_ptr<SerialPort>()>& open) {
  sink_.beginSection(TraceHeader(program_, name, device));
  std::unique_ptr<SerialPort> port = open();
  if (!port) {
    const Failure& failure = LastFailure();
    std::string line = "open " + name + ": failed";
    if (failure.failed()) line.append(" ").append(DescribeFailure(failure));
    sink_.event(line);
    sink_.flush();
    return nullptr;
  }
  sink_.event("open " + name);
  sink_.flush();
  return std::make_unique<TracingPort>(std::move(port), sink_);
}

namespace {

// Holds what the platform below owns; a base so that it is made first.
struct TracedParts {
  std::unique_ptr<Platform> platform;
  std::unique_ptr<TraceSink> sink;
};

class OwningTracingPlatform : private TracedParts, public TracingPlatform {
 public:
  OwningTracingPlatform(TracedParts parts, const std::string& program)
      : TracedParts(std::move(parts)), TracingPlatform(*platform, *sink, program) {}
};

}  // namespace

std::unique_ptr<Platform> WithTrace(std::unique_ptr<Platform> platform, std::unique_ptr<TraceSink> sink,
                                    const std::string& program) {
  if (!sink) return platform;
  return std::make_unique<OwningTracingPlatform>(TracedParts{std::move(platform), std::move(sink)}, program);
}

}  // namespace kkm::serial
