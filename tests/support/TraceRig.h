#pragma once
// What the trace and failure tests share: a trace written to memory and timed
// by a virtual line's clock, a platform that puts a decorator of the tests'
// choosing between the tool and the virtual line (a USB adapter that drops
// MARK/SPACE parity, the tracing port), and the byte lines of a trace.

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "serial/Platform.h"
#include "serial/Trace.h"
#include "sim/line/VirtualLine.h"

namespace kkm::test {

// A TraceSink into memory; times are the virtual line's.
class MemoryTrace {
 public:
  explicit MemoryTrace(const sim::VirtualLine& line)
      : file_(open_memstream(&buffer_, &size_)),
        sink_(std::make_unique<serial::TraceSink>(file_, false, "kkm-netnum",
                                                  [&line] { return line.now(); })) {}
  ~MemoryTrace() {
    sink_.reset();
    std::fclose(file_);
    std::free(buffer_);
  }
  MemoryTrace(const MemoryTrace&) = delete;
  MemoryTrace& operator=(const MemoryTrace&) = delete;

  serial::TraceSink& sink() { return *sink_; }
  std::string text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
  }
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    std::istringstream in(text());
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
  std::unique_ptr<serial::TraceSink> sink_;
};

// Opens the ports of `inner` through `decorate` (identity until one is set).
class DecoratingPlatform : public serial::Platform {
 public:
  using Decorator = std::function<std::unique_ptr<serial::SerialPort>(std::unique_ptr<serial::SerialPort>)>;
  explicit DecoratingPlatform(serial::Platform& inner) : inner_(inner) {}
  void decorate(Decorator decorator) { decorator_ = std::move(decorator); }
  std::unique_ptr<serial::SerialPort> openPort(const std::string& name) override {
    auto port = inner_.openPort(name);
    return port && decorator_ ? decorator_(std::move(port)) : std::move(port);
  }
  serial::Clock& clock() override { return inner_.clock(); }

 private:
  serial::Platform& inner_;
  Decorator decorator_;
};

// An adapter without a ninth bit: MARK and SPACE become no parity at all.
class ParityDroppingPort : public serial::SerialPort {
 public:
  explicit ParityDroppingPort(std::unique_ptr<serial::SerialPort> inner) : in_(std::move(inner)) {}
  bool setSettings(const serial::LineSettings& s) override {
    serial::LineSettings dropped = s;
    if (s.parity == serial::Parity::Mark || s.parity == serial::Parity::Space)
      dropped.parity = serial::Parity::None;
    return in_->setSettings(dropped);
  }
  // clang-format off
  bool setBufferSizes(std::uint32_t i, std::uint32_t o) override { return in_->setBufferSizes(i, o); }
  bool getSettings(serial::LineSettings& s) override { return in_->getSettings(s); }
  bool getTimeouts(serial::Timeouts& t) override { return in_->getTimeouts(t); }
  bool setTimeouts(const serial::Timeouts& t) override { return in_->setTimeouts(t); }
  bool purge(std::uint32_t mask) override { return in_->purge(mask); }
  bool clearDtr() override { return in_->clearDtr(); }
  std::int32_t queuedInput() override { return in_->queuedInput(); }
  std::int32_t read(std::uint8_t* b, std::uint32_t n) override { return in_->read(b, n); }
  std::int32_t write(const std::uint8_t* d, std::uint32_t n) override { return in_->write(d, n); }
  bool close() override { return in_->close(); }
  bool vanished() const override { return in_->vanished(); }
  // clang-format on

 private:
  std::unique_ptr<serial::SerialPort> in_;
};

// The byte lines of a trace ("<ms> host>dev FE mark", "<ms> dev>host FE"), in order.
inline std::vector<std::string> ByteLines(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (line.find(" host>dev ") != std::string::npos || line.find(" dev>host ") != std::string::npos)
      out.push_back(line);
  return out;
}

// The milliseconds a trace line starts with.
inline double LineMs(const std::string& line) { return std::strtod(line.c_str(), nullptr); }

}  // namespace kkm::test
