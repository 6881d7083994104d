#pragma once
// The board's resident monitor, 8051 machine code. It collects a frame until
// the line has been idle for the idle gap, drops it silently when it is too
// short (under 6 bytes) or too long (over kMaxFrameLength), does not start
// with the lead-in 00 01, or its last byte is not the sum of the others
// modulo 256; otherwise it answers 0x01, waits until that byte has left,
// copies the routine (the bytes between the lead-in and the two closing
// zeros) to kRoutineAddress in code page 0 and calls it. The routine returns
// with RET, and the monitor waits for the next frame.
//
// Code address kSendAndReturn holds "send A, wait for TI, RET", so a routine
// that jumps there with AJMP (within page 0) ends by sending one more byte.
// The routine is written to code memory with MOVX while the board's
// program-load line P1.7 is low.

#include <cstdint>
#include <span>

namespace kkm::sim::kia {

inline constexpr std::uint16_t kSendAndReturn = 0x0005;
inline constexpr std::uint16_t kRoutineAddress = 0x0100;
inline constexpr std::uint8_t kProgramLoadPin = 0x80;  // P1.7, active low
inline constexpr std::size_t kMaxFrameLength = 207;
// The default idle gap: three characters of silence.
inline constexpr std::uint64_t kDefaultIdleGapCycles = 3 * 960;

// Writes the monitor into code memory from address 0 with the given gap.
void LoadMonitor(std::span<std::uint8_t> code, std::uint64_t idleGapCycles = kDefaultIdleGapCycles);
// Changes the idle gap of a loaded monitor (1 to 262144 machine cycles,
// rounded up to the monitor's four-cycle polling step).
void SetMonitorIdleGap(std::span<std::uint8_t> code, std::uint64_t idleGapCycles);

}  // namespace kkm::sim::kia
