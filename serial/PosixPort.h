#pragma once
// A serial port on a POSIX terminal device (see PosixPlatform.cpp for how COM
// names map to devices). Reads and writes follow the port's time-outs with
// poll(); settings are applied with tcsetattr(TCSADRAIN).

#include <termios.h>

#include <memory>
#include <string>

#include "serial/SerialPort.h"

namespace kkm::serial {

// The device path for "COM1".."COM255": $KKM_COMn if set, else /dev/ttyS(n-1);
// a name starting with '/' as it is; empty for any other name.
std::string DevicePathFor(const std::string& portName);

// Opens `path` exclusively if it is a terminal device; nullptr otherwise, with
// LastFailure() saying why (no such device, permission denied, in use, not a
// terminal device).
std::unique_ptr<SerialPort> OpenPosixPort(const std::string& path);

class PosixPort : public SerialPort {
 public:
  explicit PosixPort(int fd);
  ~PosixPort() override;
  PosixPort(const PosixPort&) = delete;
  PosixPort& operator=(const PosixPort&) = delete;

  bool setBufferSizes(std::uint32_t input, std::uint32_t output) override;
  bool getSettings(LineSettings& settings) override;
  bool setSettings(const LineSettings& settings) override;
  bool getTimeouts(Timeouts& timeouts) override;
  bool setTimeouts(const Timeouts& timeouts) override;
  bool purge(std::uint32_t mask) override;
  bool clearDtr() override;
  std::int32_t queuedInput() override;
  bool awaitInputOrTick() override;
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count) override;
  std::int32_t write(const std::uint8_t* data, std::uint32_t count) override;
  bool close() override;
  bool vanished() const override { return vanished_; }

  // The parity a termios control word encodes (CMSPAR alone is enough).
  static Parity ParityOf(tcflag_t cflag);

 private:
  int fd_;
  bool vanished_ = false;  // an operation failed as on a device that has gone away
  LineSettings flags_{};  // the fields termios cannot hold (flag word, X-limits)
  Timeouts timeouts_{};
};

}  // namespace kkm::serial
