#pragma once
// How long, in ms of virtual time, each link operation may take at most,
// whatever the device does: the sum of the waits the operation is allowed.

#include <cstddef>
#include <cstdint>

#include "register/MemoryCommands.h"

namespace kkm::test {

// A wait of T ms ends at the first tick reading more than T ms after its
// start: up to 2 ms after T, since the start may fall just before a tick and
// the first reading past T is T + 1 ticks on.
inline constexpr std::uint32_t kTickSlackMs = 2;
constexpr std::uint32_t WaitMs(std::uint32_t timeoutMs) { return timeoutMs + kTickSlackMs; }
// A read that finds too few bytes gives up after the port's total read
// time-out: 100 ms plus 20 ms per byte asked for.
constexpr std::uint32_t ReadGivingUpMs(std::uint32_t count) { return 100 + 20 * count; }
// A write lasts until its bytes have left: `bytes` characters of 11 bits
// (MARK or SPACE parity) or 10 (none) at 9600 bit/s, in whole ms rounded up.
constexpr std::uint32_t SendMs(std::uint32_t bytes, std::uint32_t bitsPerCharacter = 11) {
  return (bytes * bitsPerCharacter * 1000 + 9600 - 1) / 9600;
}
// The longest frames: a register memory frame of 251 data bytes, a KIA frame.
inline constexpr std::uint32_t kLongestBlockFrame = 251 + 6;
inline constexpr std::uint32_t kLongestKiaFrame = 207;
inline constexpr std::uint32_t kKiaFrameSendMs = SendMs(kLongestKiaFrame, 10);

// Register processor link.
// The scan: 256 candidates, each sent, then a 10 ms wait; an answer ends it at once.
inline constexpr std::uint32_t kScanBoundMs = 256 * (SendMs(1) + WaitMs(10));
// The version query: 40 ms before the echo is read, 400 ms before the
// acknowledgement, and reads that give up when nothing comes: one byte each
// for the echo, the acknowledgement and L, ten bytes for D0..D8 and C.
inline constexpr std::uint32_t kVersionQueryBoundMs = SendMs(1) + WaitMs(40) + ReadGivingUpMs(1) + SendMs(3) +
                                                      WaitMs(400) + 2 * ReadGivingUpMs(1) +
                                                      ReadGivingUpMs(10);
// Byte commands: 500 ms for the echo, 700 ms for the acknowledgement and, for
// the read, 700 ms for the three reply bytes. Reads follow waits that saw
// their bytes queued, so they add nothing.
inline constexpr std::uint32_t kWriteByteBoundMs = SendMs(1) + WaitMs(500) + SendMs(7) + WaitMs(700);
inline constexpr std::uint32_t kReadByteBoundMs = kWriteByteBoundMs + WaitMs(700);
// Address phase of the block commands: 20 ms for the echo (100..104); for 105
// busy answers restart it until kBusyLimitMs have passed, and the last round
// can still take the 1650 ms wait and the 20 ms after the second address byte
// (+1: the limit is compared in whole ticks); other versions send nothing.
inline constexpr std::uint32_t kSelectEchoBoundMs = SendMs(1) + WaitMs(20);
inline constexpr std::uint32_t kSelectBusyBoundMs =
    reg::kBusyLimitMs + 1 + SendMs(1) + WaitMs(1650) + SendMs(1) + WaitMs(20);
constexpr std::uint32_t SelectBoundMs(std::int32_t version) {
  if (version >= 100 && version <= 104) return kSelectEchoBoundMs;
  if (version == 105) return kSelectBusyBoundMs;
  return 0;
}
// Block commands after the address phase: 200 ms for the acknowledgement and,
// for the read, 200 ms for L and 200 + L ms for the rest (L never exceeds the
// buffer: a longer reply is refused before that wait).
inline constexpr std::uint32_t kWriteBlockTailMs = SendMs(kLongestBlockFrame) + WaitMs(200);
constexpr std::uint32_t ReadBlockTailMs(std::size_t bufferSize) {
  return SendMs(6) + 2 * WaitMs(200) + WaitMs(200 + static_cast<std::uint32_t>(bufferSize));
}

// KIA link: the waits of each exchange in turn.
// Memory write: the acknowledgement, 50 ms; then up to 20 ms for the echo.
inline constexpr std::uint32_t kKiaWriteMemoryBoundMs = kKiaFrameSendMs + WaitMs(50) + WaitMs(20);
// Memory read: the acknowledgement, 50 ms; the byte, 500 ms.
inline constexpr std::uint32_t kKiaReadMemoryBoundMs = kKiaFrameSendMs + WaitMs(50) + WaitMs(500);
// EEPROM read: 400 ms, the marker 500 ms, the 64 bytes 1500 ms.
inline constexpr std::uint32_t kKiaReadEepromBoundMs =
    kKiaFrameSendMs + WaitMs(400) + WaitMs(500) + WaitMs(1500);
// EEPROM write: 300 ms, the marker 500 ms, the final byte 500 ms.
inline constexpr std::uint32_t kKiaWriteEepromBoundMs =
    kKiaFrameSendMs + WaitMs(300) + WaitMs(500) + WaitMs(500);

// Connection procedure: opening takes no time; then the scan and the version
// query, or the probe read.
inline constexpr std::uint32_t kConnectProcessorBoundMs = kScanBoundMs + kVersionQueryBoundMs;
inline constexpr std::uint32_t kConnectKiaBoundMs = kKiaReadMemoryBoundMs;

}  // namespace kkm::test
