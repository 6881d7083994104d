// Simulation speed on the in-process virtual line: simulated seconds per real
// second (counter sim_s_per_s) for
//   - a full address scan that nobody answers (256 candidates, each a 10 ms
//     time-out: about 2.8 s of virtual time), with the line's polling step as
//     the argument in microseconds (100 is the tests' default, 1 the floor's);
//   - the KIA EEPROM read executed by the KIA board's 8051 (counter
//     cycles_per_s: machine cycles emulated per real second; the real
//     controller runs 921600).

#include <benchmark/benchmark.h>

#include <chrono>
#include <stdexcept>

#include "bench/Floor.h"
#include "kia/KiaUnit.h"
#include "register/AddressDiscovery.h"
#include "serial/SerialLine.h"
#include "sim/line/VirtualPlatform.h"

namespace kkm::bench {
namespace {

constexpr std::uint16_t kStoredNumber = 0x073E;

double Seconds(sim::SimTime ns) { return static_cast<double>(ns) * 1e-9; }

// Times `run` on `line`, one call per iteration, sets sim_s_per_s and
// returns the real seconds the runs took.
template <typename Run>
double MeasureSpeed(benchmark::State& state, sim::VirtualLine& line, Run run) {
  double simulated = 0;
  double real = 0;
  for (auto _ : state) {
    const sim::SimTime start = line.now();
    const auto realStart = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - realStart;
    real += elapsed.count();
    simulated += Seconds(line.now() - start);
  }
  state.counters["simulated_s"] = benchmark::Counter(simulated, benchmark::Counter::kAvgIterations);
  state.counters["sim_s_per_s"] = simulated / real;
  return real;
}

void BM_UnansweredScan(benchmark::State& state) {
  sim::VirtualLine line(0, static_cast<sim::SimTime>(state.range(0)) * sim::kNsPerUs);
  sim::VirtualPlatform platform(line);
  platform.addPort("COM1", line);
  serial::PortHandle port(platform.clock());
  static_cast<void>(serial::OpenComPort(platform, 1, port));  // the rig's own port: it opens
  MeasureSpeed(state, line, [&] {
    std::uint8_t address = 0xFF;
    if (reg::FindRegisterAddress(port, address)) state.SkipWithError("an empty line answered the scan");
  });
}
BENCHMARK(BM_UnansweredScan)->Arg(100)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_KiaReadEeprom(benchmark::State& state) {
  sim::VirtualLine line;
  SimulatedDevices devices(service::Link::Kia, line);
  sim::VirtualPlatform platform(line);
  platform.addPort("COM1", line);
  serial::PortHandle port(platform.clock());
  static_cast<void>(serial::OpenComPort(platform, 1, port));  // the rig's own port: it opens
  const sim::SimTime start = line.now();
  const double real = MeasureSpeed(state, line, [&] {
    std::uint8_t value = 0;
    if (!kia::KiaReadEeprom(port, kStoredNumber, value)) state.SkipWithError("the EEPROM read failed");
  });
  // The board's CPU has run exactly as long as the line.
  const auto cycles = sim::kia::CyclesBefore(line.now()) - sim::kia::CyclesBefore(start);
  state.counters["cycles_per_s"] = static_cast<double>(cycles) / real;
}
BENCHMARK(BM_KiaReadEeprom)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kkm::bench
