#pragma once
// The tool's side of a pseudo-terminal in these tests: COM1 through the real
// POSIX back end, pointed at the slave by KKM_COM1.

#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "serial/SerialLine.h"

namespace kkm::sim {

class PtyHost {
 public:
  explicit PtyHost(const std::string& slavePath)
      : platform_(serial::MakeNativePlatform()), port_(platform_->clock()) {
    setenv("KKM_COM1", slavePath.c_str(), 1);
  }
  ~PtyHost() { unsetenv("KKM_COM1"); }
  bool open() { return serial::OpenComPort(*platform_, 1, port_).ok(); }
  void close() { serial::CloseComPort(port_); }
  serial::PortHandle& port() { return port_; }

  // Sets the parity the next bytes are written with (None, Mark or Space).
  void setParity(serial::Parity parity) {
    serial::LineSettings settings;
    port_.getSettings(settings);
    settings.parity = parity;
    port_.setSettings(settings);  // a pty may report EINVAL although it stored the settings
  }
  // Writes `bytes` in one write and reads `replyCount` bytes; empty when they
  // do not come within two seconds.
  std::vector<std::uint8_t> exchange(const std::vector<std::uint8_t>& bytes, std::uint32_t replyCount) {
    port_.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (!serial::WaitForInput(port_, replyCount, 2000)) return {};
    std::vector<std::uint8_t> reply(replyCount);
    port_.read(reply.data(), replyCount);
    return reply;
  }

 private:
  std::unique_ptr<serial::Platform> platform_;
  serial::PortHandle port_;
};

}  // namespace kkm::sim
