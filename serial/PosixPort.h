#pragma once
// A serial port on a POSIX terminal device (see PosixPlatform.cpp for how COM
// names map to devices). Reads follow the port's time-outs with poll(); a
// write returns once its bytes have left the transmitter (or its time-out has
// passed); settings are applied with tcsetattr(TCSADRAIN). Closing clears the
// exclusive flag and restores the settings and the latency found at open.

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/Clock.h"
#include "serial/PortHolders.h"
#include "serial/SerialPort.h"

namespace kkm::serial {

// The device path for "COM1".."COM255" as ResolvePort gives it (empty when
// the name leads nowhere); a name starting with '/' as it is; empty for any
// other name.
std::string DevicePathFor(const std::string& portName);

// Opens `path` exclusively if it is a terminal device that no other process
// holds open (serial/PortHolders.h); nullptr otherwise. Asks the driver for low-latency delivery
// (refusal is ignored) and saves the terminal settings; close() restores both.
// LastFailure() says why a port was refused (no such device, permission
// denied, in use, not a terminal device).
std::unique_ptr<SerialPort> OpenPosixPort(const std::string& path);

// What the driver says of its transmit side: bytes still in its output queue,
// and whether the transmitter's shift register is empty (true where the driver
// cannot tell).
struct OutputState {
  std::uint32_t queued = 0;
  bool transmitterEmpty = true;
};

// Polls `probe` on `clock` until the output queue and the transmitter are
// empty, or until more than `limitMs` ms have passed. The result is the count
// still queued at the end: 0 once drained. A probe that fails (nullopt) counts
// as drained, so the wait can never hang on a driver that cannot report.
std::uint32_t AwaitOutputDrained(const std::function<std::optional<OutputState>()>& probe, Clock& clock,
                                 std::uint32_t limitMs);

// What TIOCOUTQ and, where the driver offers it, TIOCSERGETLSR report of the
// terminal `fd`; nothing when the driver cannot tell.
std::optional<OutputState> ProbeOutput(int fd);

class PosixPort : public SerialPort {
 public:
  using OutputProbe = std::optional<OutputState> (*)(int fd);
  // `saved`: the terminal settings to restore on close (none when null);
  // `probe`: how a write learns whether its bytes have left.
  PosixPort(int fd, const termios* saved = nullptr, OutputProbe probe = ProbeOutput);
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
  bool awaitInputUntil(std::uint32_t count, std::uint32_t tick) override;
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count) override;
  std::int32_t write(const std::uint8_t* data, std::uint32_t count) override;
  bool close() override;
  bool vanished() const override { return vanished_; }

  // The parity a termios control word encodes (CMSPAR alone is enough).
  static Parity ParityOf(tcflag_t cflag);
  // Whether bytes written may still wait in the driver: the next purge of the
  // output then discards them, so a cut frame's tail never goes out later.
  bool outputMayBePending() const { return outputPending_; }

 private:
  void release();
  // Sets how many queued bytes make the descriptor readable (VMIN).
  bool setWakeCount(std::uint32_t count);

  int fd_;
  OutputProbe probe_;
  bool vanished_ = false;  // an operation failed as on a device that has gone away
  std::optional<termios> saved_;
  bool lowLatencySet_ = false;  // asked for on open: cleared again on close
  // Bytes written may still wait in the output queue: none once a write has
  // drained where the driver can tell, so a purge then leaves the output alone.
  bool outputPending_ = true;
  friend std::unique_ptr<SerialPort> OpenPosixPort(const std::string& path);
  LineSettings flags_{};  // the fields termios cannot hold (flag word, X-limits)
  Timeouts timeouts_{};
};

}  // namespace kkm::serial
