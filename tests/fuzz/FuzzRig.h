#pragma once
// What every fuzz target shares: a reader for the input's leading argument
// bytes, views of the line's trace, and the rig of one run: a fresh virtual
// line with a FuzzDevice playing the rest of the input, and COM1 on it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "serial/PortHandle.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/fuzz/FuzzDevice.h"

namespace kkm::fuzz {

// Takes the input's bytes from the front; past the end every byte reads 0.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint8_t next() { return cursor_ < bytes_.size() ? bytes_[cursor_++] : 0; }
  std::uint16_t next16() {
    const std::uint8_t low = next();
    return static_cast<std::uint16_t>(low | next() << 8);
  }
  std::span<const std::uint8_t> rest() const { return bytes_.subspan(std::min(cursor_, bytes_.size())); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t cursor_ = 0;
};

// The trace since `since`: the host's bytes that started then or later (so
// a byte still crossing from an earlier operation is not counted), the
// device's that arrived later, in the order of arrival.
bool InTraceSince(const sim::TraceEntry& entry, sim::SimTime since);
std::vector<std::uint8_t> BytesSince(const sim::VirtualLine& line, sim::Direction direction,
                                     sim::SimTime since);
std::vector<sim::TraceEntry> HostEntriesSince(const sim::VirtualLine& line, sim::SimTime since);

// The multi-drop safety rule of the register link: every address byte the
// host sent since `since` is `address`, and no data byte (SPACE) went out
// before the register had echoed `address`.
bool FramesOnlyAfterEcho(const sim::VirtualLine& line, sim::SimTime since, std::uint8_t address);

// The host's UART hands received bytes over as a 16550 does, by `code` % 4:
// at once (no FIFO), or at a trigger level of 4, 8 or 14 bytes or after 4
// quiet character times.
void UseReceiveFifo(sim::VirtualLine& line, std::uint8_t code);
// Waits jump over idle virtual time unless KKM_FUZZ_STEP_ONLY is set (to
// compare the speed of both).
void UseIdleJumps(sim::VirtualLine& line);

// One run: the device plays `script`; COM1 is the line.
struct FuzzLine {
  explicit FuzzLine(std::span<const std::uint8_t> script);

  // The line vanishes (cable pulled) `code` * 50 ms after now; 0 never.
  void vanishLater(std::uint8_t code);
  void useReceiveFifo(std::uint8_t code) { UseReceiveFifo(line, code); }
  // Marks now as the start of an operation that must end within `boundMs`.
  void startOperation(std::uint32_t boundMs);
  // Checks the bound once the operation has returned, then lets the line run
  // on until every byte the host wrote has crossed, so that the trace holds
  // them all. With KKM_FUZZ_TRACE set in the environment it also prints
  // `what`, the result, the time taken and the bytes on the line, for
  // reading a reproducer.
  void endOperation(const char* what, bool result);
  sim::SimTime operationStart() const { return start_; }
  // True when the device sent `byte` and it arrived while the operation ran.
  bool arrivedDuringOperation(std::uint8_t byte) const;

  FuzzDevice device;
  sim::VirtualLine line;
  sim::VirtualPlatform platform{line};

 private:
  sim::SimTime start_ = 0;
  sim::SimTime end_ = 0;
  sim::SimTime bound_ = 0;
};

// A run on one link operation: COM1 opened with OpenComPort.
struct FuzzPort : FuzzLine {
  explicit FuzzPort(std::span<const std::uint8_t> script);
  serial::PortHandle port{platform.clock()};
};

}  // namespace kkm::fuzz
