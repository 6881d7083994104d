#pragma once
// Times an operation over kkm-sim on a pseudo-terminal with the real POSIX
// back end and sets it against its floor (Floor.h). A fresh kkm-sim child
// serves the link; COM1 of the native platform is its slave. One untimed run
// settles the line, then every benchmark iteration is one timed call, started
// at the next of the floor's phases of the millisecond tick. Counters:
//   floor_ms        the floor of the rig, from the virtual line with host
//                   writes that return at once, as on the pseudo-terminal
//   port_floor_ms   the floor on a real serial port, whose writes last until
//                   the bytes have left (Floor.h, HostWrites)
//   real_ms         mean real duration; real_median_ms, real_max_ms
//   line_ms         line time of the bytes of one run (part of the floor)
//   ratio           real_ms / floor_ms (the goal is at most 1.02)
//   ratio_median    real_median_ms / floor_ms: the same, less sensitive to
//                   other people's load on the machine
//   over_median_ms  median of each run's duration minus the floor of the rig
//                   at the phase it started at; over_max_ms the largest
//   handoff_ms      the rig's own share of one answered round trip (RigHandOff.h)
//   rig_floor_ms    the rig's floor with those hand-offs modelled in each direction
//   over_rig_median_ms  median of each run's duration minus that floor at its phase:
//                   the tool's own share
//   failed          timed calls that failed (left out of the figures above)
// The benchmark ends with an error when the untimed run or every timed call
// fails.

#include <benchmark/benchmark.h>

#include "bench/Floor.h"
#include "bench/SimProcess.h"

namespace kkm::bench {

// Waits (untimed) until PhaseOffsetNs(phase) past a millisecond tick of the
// clock the tool's waits count, at least a millisecond from now.
void StartAtPhase(int phase);

void MeasureAgainstFloor(benchmark::State& state, service::Link link, const OperationFactory& make);

}  // namespace kkm::bench
