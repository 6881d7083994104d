#pragma once
// The tracing port: a decorator of the port interface that forwards every
// call unchanged and writes what touched the line to a TraceSink (see
// Trace.h for the lines). Each byte written appears with the parity in force,
// timed when its stop bit leaves the line at the port's baud rate (the bytes
// of a write leave back to back); each byte read appears timed when the port
// first counted it queued, or when it was read. Purges, settings and parity
// switches, time-outs, DTR, failed or short reads and writes and the close
// appear as they happen. The sink is flushed after every operation.
//
// TracingPlatform opens ports through another platform, starts a trace
// section (header with the port's device path) for each, and wraps what it
// opened. With no trace asked for, neither is made.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "serial/Platform.h"
#include "serial/SerialPort.h"
#include "serial/Trace.h"

namespace kkm::serial {

class TracingPort : public SerialPort {
 public:
  TracingPort(std::unique_ptr<SerialPort> inner, TraceSink& sink);

  bool setBufferSizes(std::uint32_t input, std::uint32_t output) override;
  bool getSettings(LineSettings& settings) override { return inner_->getSettings(settings); }
  bool setSettings(const LineSettings& settings) override;
  bool getTimeouts(Timeouts& timeouts) override { return inner_->getTimeouts(timeouts); }
  bool setTimeouts(const Timeouts& timeouts) override;
  bool purge(std::uint32_t mask) override;
  bool clearDtr() override;
  std::int32_t queuedInput() override;
  bool awaitInputUntil(std::uint32_t count, std::uint32_t tick) override {
    return inner_->awaitInputUntil(count, tick);
  }
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count) override;
  std::int32_t write(const std::uint8_t* data, std::uint32_t count) override;
  bool close() override;
  bool vanished() const override { return inner_->vanished(); }
  TraceSink* traceSink() override { return &sink_; }

 private:
  // One event line, then the flush that ends every operation.
  void note(const std::string& text);
  std::uint64_t characterNs() const;

  std::unique_ptr<SerialPort> inner_;
  TraceSink& sink_;
  LineSettings settings_{};
  bool settingsKnown_ = false;
  std::uint64_t transmitterFreeNs_ = 0;
  std::deque<std::uint64_t> queuedSinceNs_;  // when each unread queued byte was first counted
};

class TracingPlatform : public Platform {
 public:
  // Neither `inner` nor `sink` is owned; both must outlive the platform.
  TracingPlatform(Platform& inner, TraceSink& sink, std::string program);
  std::unique_ptr<SerialPort> openPort(const std::string& name) override;
  Clock& clock() override { return inner_.clock(); }
  std::string devicePath(const std::string& name) const override { return inner_.devicePath(name); }
  ResolvedPort resolvePort(const std::string& name) const override { return inner_.resolvePort(name); }
  std::unique_ptr<SerialPort> openResolved(const std::string& name, const ResolvedPort& resolved) override;

 private:
  // The section's header and the open's line around `open`.
  std::unique_ptr<SerialPort> traced(const std::string& name, const std::string& device,
                                     const std::function<std::unique_ptr<SerialPort>()>& open);
  Platform& inner_;
  TraceSink& sink_;
  std::string program_;
};

// `platform` itself when `sink` is null (no trace: no decorator, no cost),
// else a TracingPlatform that owns `platform` and `sink`.
std::unique_ptr<Platform> WithTrace(std::unique_ptr<Platform> platform, std::unique_ptr<TraceSink> sink,
                                    const std::string& program);

}  // namespace kkm::serial
