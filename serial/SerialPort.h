#pragma once
// The platform operations an open serial port offers to the rest of the tool.
// Every back end (POSIX, Win32, the simulator's virtual line) implements this
// one interface; the link code never sees anything else of the platform.

#include <cstdint>

namespace kkm::serial {

class TraceSink;

enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };

// Bits of the line-settings flag word (the layout of the Windows DCB bit fields).
inline constexpr std::uint32_t kFlagBinary = 0x0001;
inline constexpr std::uint32_t kFlagParityCheck = 0x0002;
inline constexpr std::uint32_t kFlagTxContinueOnXoff = 0x0080;
inline constexpr std::uint32_t kFlagRtsControlMask = 0x3000;
inline constexpr std::uint32_t kFlagRtsHandshake = 0x2000;
inline constexpr std::uint32_t kFlagDtrControlMask = 0x0030;

// The fields of the line settings the tool reads and writes.
struct LineSettings {
  std::uint32_t baudRate = 0;
  std::uint8_t byteSize = 8;
  Parity parity = Parity::None;
  std::uint8_t stopBits = 0;  // 0 = one, 1 = one and a half, 2 = two
  std::uint16_t xonLim = 0;
  std::uint16_t xoffLim = 0;
  std::uint32_t flags = 0;  // kFlag* bits
  bool operator==(const LineSettings&) const = default;
};

// Read and write time-outs in milliseconds (a read of N bytes returns after at
// most constant + multiplier * N ms, or as soon as more than readInterval ms
// pass between two received bytes).
struct Timeouts {
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;
  bool operator==(const Timeouts&) const = default;
};

// Purge mask bits.
inline constexpr std::uint32_t kPurgeTxAbort = 0x01;
inline constexpr std::uint32_t kPurgeRxAbort = 0x02;
inline constexpr std::uint32_t kPurgeTxClear = 0x04;
inline constexpr std::uint32_t kPurgeRxClear = 0x08;
inline constexpr std::uint32_t kPurgeClearBoth = kPurgeTxClear | kPurgeRxClear;                        // 0x0C
inline constexpr std::uint32_t kPurgeAbortAndClear = kPurgeClearBoth | kPurgeTxAbort | kPurgeRxAbort;  // 0x0F

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual bool setBufferSizes(std::uint32_t input, std::uint32_t output) = 0;
  virtual bool getSettings(LineSettings& settings) = 0;
  virtual bool setSettings(const LineSettings& settings) = 0;
  virtual bool getTimeouts(Timeouts& timeouts) = 0;
  virtual bool setTimeouts(const Timeouts& timeouts) = 0;
  virtual bool purge(std::uint32_t mask) = 0;
  virtual bool clearDtr() = 0;
  // Number of received bytes waiting, without consuming them; -1 on failure.
  virtual std::int32_t queuedInput() = 0;
  // Blocks until at least `count` received bytes are queued or the tick
  // clock reads `tick`, whichever comes first; it may return earlier. False
  // when the port cannot wait so (a real port that has hung up cannot): the
  // caller then lets time pass on its clock instead.
  virtual bool awaitInputUntil(std::uint32_t count, std::uint32_t tick) {
    static_cast<void>(count);
    static_cast<void>(tick);
    return false;
  }
  // Reads up to `count` bytes under the read time-outs: the count read, or -1.
  virtual std::int32_t read(std::uint8_t* buffer, std::uint32_t count) = 0;
  // Writes `count` bytes under the write time-outs: the count written, or -1.
  virtual std::int32_t write(const std::uint8_t* data, std::uint32_t count) = 0;
  // Releases the device; true when the platform reports a clean close.
  virtual bool close() = 0;
  // True once the device has gone away (unplugged, hung up): every further
  // operation fails.
  virtual bool vanished() const { return false; }
  // The trace this port writes to; nullptr when it is not traced.
  virtual TraceSink* traceSink() { return nullptr; }
};

}  // namespace kkm::serial
