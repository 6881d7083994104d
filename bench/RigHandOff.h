#pragma once
// The rig's own share of an answered exchange. Between the tool and kkm-sim
// lie a pseudo-terminal and two processes: the kernel passes every write
// across and wakes the reader, which a UART wired to the host does not. This
// measures that share with a host that does nothing else, written straight
// against the terminal interface (not the tool's serial layer, whose cost is
// what the benchmarks are after): the address byte 0xFE with MARK parity to
// kkm-sim's register, then a wait for its echo, against the same exchange's
// floor on the virtual line. The median excess of one such round trip is
// split evenly between the two directions.
//
// Measured once per process with its own kkm-sim child (processor link, the
// receive FIFO of SimProcess.h). Throws std::runtime_error when the echo does
// not come.

#include "bench/Floor.h"

namespace kkm::bench {

struct RigHandOff {
  HandOff delays;          // for MeasureFloor: half the round trip's excess each way
  double roundTripMs = 0;  // median excess of one answered round trip
};

const RigHandOff& MeasureRigHandOff();

}  // namespace kkm::bench
