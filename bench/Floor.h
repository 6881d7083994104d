#pragma once
// The floor of an operation: how long it lasts on the in-process virtual line
// against the same simulated devices kkm-sim serves, with a host that costs no
// time. What remains is exactly
//   - the line time of every byte at 9600 bit/s (10 bits a character without
//     parity, 11 with MARK or SPACE); a host write lasts until its last byte
//     has left, so the waits after it start there,
//   - the devices' own delays (the register's echo, acknowledgement and reply
//     delays; on the KIA board the monitor's idle gap, its copying of the
//     routine and the routine itself, run cycle by cycle on the 8051),
//   - the receive FIFO of the PC's UART as kkm-sim models it (SimProcess.h):
//     received bytes reach the port when 14 have gathered or after 4 quiet
//     character times of the host's format, so a short answer is handed over
//     4.583 ms after its last byte with MARK or SPACE parity (4.167 ms
//     without), and
//   - the waits the operation prescribes: DelayMs, PauseMs and time-outs that
//     run out (the address scan's unanswered candidates).
// The host polls every microsecond of virtual time. A wait of d ms lasts
// between d and d + 1 ms depending on where in the millisecond it starts, so
// the operation is run at kFloorPhases evenly spread phases of the tick and
// the floor is the mean, like the mean of the real runs it is compared with.

#include <array>
#include <functional>
#include <memory>

#include "bench/SimProcess.h"
#include "serial/Platform.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
#include "sim/line/VirtualLine.h"

namespace kkm::bench {

// The operation under measurement: `run` is timed and true when it
// succeeded. It must leave no answer on its way when it returns, or that
// answer would land in the next run.
struct Operation {
  std::function<bool()> run;
};
// Prepares the operation on a platform whose COM1 is the simulated register
// (typically opening COM1) and returns the call to time. The platform
// outlives the returned operation.
using OperationFactory = std::function<Operation(serial::Platform&)>;

inline constexpr int kFloorPhases = 10;
inline constexpr unsigned kUartFifoTimeoutCharacters = 4;  // fixed in kkm-sim
inline constexpr sim::SimTime kFloorStepNs = 1 * sim::kNsPerUs;

// What kkm-sim serves for a link, attached to a virtual line: the register
// with network number 1 (firmware 1.0.5, default timing) and, on the KIA
// link, the board wired to its memories in its place.
class SimulatedDevices {
 public:
  SimulatedDevices(service::Link link, sim::VirtualLine& line);
  sim::CashRegister& cashRegister() { return register_; }

 private:
  sim::CashRegister register_{1};
  std::unique_ptr<sim::kia::KiaBoard> board_;
};

// The moment in the millisecond tick at which run `phase` starts: the middles
// of kFloorPhases equal slices, in ns past the tick.
constexpr sim::SimTime PhaseOffsetNs(int phase) {
  return static_cast<sim::SimTime>(2 * phase + 1) * sim::kNsPerMs / (2 * kFloorPhases);
}

struct Floor {
  double meanMs = 0;  // the floor: mean over the tick phases
  double lineMs = 0;  // line time of the bytes that crossed, in either direction, in one run
  std::array<double, kFloorPhases> phaseMs{};  // the floor of a run started at PhaseOffsetNs(phase)
};

// Where the host's writes end: on a serial port once the bytes have left (the
// floor of the operation on a real line), on a pseudo-terminal at once (the
// floor of the benchmark's rig: kkm-sim paces the bytes, but the host's write
// does not wait for them, so the waits after it start earlier).
enum class HostWrites { Drain, ReturnAtOnce };

// The time a host program's bytes take to reach the simulator's line, and
// the line's hand-overs to reach the program, through the operating system
// (VirtualLine::setHostHandOffDelays). Zero: a host wired to the UART.
struct HandOff {
  sim::SimTime toLineNs = 0;
  sim::SimTime toHostNs = 0;
};

// Throws std::runtime_error when the operation fails on the virtual line.
Floor MeasureFloor(service::Link link, const OperationFactory& make, HostWrites writes = HostWrites::Drain,
                   HandOff handOff = {});

}  // namespace kkm::bench
