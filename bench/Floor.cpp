#include "bench/Floor.h"

#include <stdexcept>

#include "sim/line/VirtualPlatform.h"

namespace kkm::bench {

namespace {

double Ms(sim::SimTime ns) { return static_cast<double>(ns) / static_cast<double>(sim::kNsPerMs); }

double LineTimeMs(const std::vector<sim::TraceEntry>& trace) {
  sim::SimTime total = 0;
  for (const sim::TraceEntry& entry : trace) total += entry.end - entry.start;
  return Ms(total);
}

}  // namespace

SimulatedDevices::SimulatedDevices(service::Link link, sim::VirtualLine& line) {
  if (link == service::Link::Processor) {
    line.attach(register_);
    return;
  }
  board_ = std::make_unique<sim::kia::KiaBoard>(register_.dataMemory(), register_.nonVolatile());
  line.attach(*board_);
}

Floor MeasureFloor(service::Link link, const OperationFactory& make, HostWrites writes, HandOff handOff) {
  // 1. The virtual line with kkm-sim's devices and UART FIFO, as COM1, polled
  //    every microsecond.
  sim::VirtualLine line(0, kFloorStepNs);
  line.setHostReceiveFifo(UartFifoTrigger(), kUartFifoTimeoutCharacters);
  line.setHostWriteReturnsAtOnce(writes == HostWrites::ReturnAtOnce);
  line.setHostHandOffDelays(handOff.toLineNs, handOff.toHostNs);
  SimulatedDevices devices(link, line);
  sim::VirtualPlatform platform(line);
  platform.addPort("COM1", line);
  const Operation operation = make(platform);

  // 2. One run to settle, like the real measurement's warm-up.
  if (!operation.run()) throw std::runtime_error("the operation fails on the virtual line");

  // 3. One run per phase of the millisecond tick.
  Floor floor;
  double sum = 0;
  for (int phase = 0; phase < kFloorPhases; ++phase) {
    const sim::SimTime nextMs = (line.now() / sim::kNsPerMs + 1) * sim::kNsPerMs;
    line.advanceTo(nextMs + PhaseOffsetNs(phase));
    line.clearTrace();
    const sim::SimTime start = line.now();
    if (!operation.run()) throw std::runtime_error("the operation fails on the virtual line");
    const double ms = Ms(line.now() - start);
    if (phase == 0) floor.lineMs = LineTimeMs(line.trace());
    floor.phaseMs[static_cast<std::size_t>(phase)] = ms;
    sum += ms;
  }
  floor.meanMs = sum / kFloorPhases;
  return floor;
}

}  // namespace kkm::bench
