#include "bench/Overhead.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <numeric>
#include <thread>
#include <vector>

#include "bench/RigHandOff.h"

namespace kkm::bench {

namespace {
constexpr std::chrono::milliseconds kQuietAfterFailure{100};
// Sleeping ends some tens of microseconds late: the last stretch before a
// run's start is spun so that it starts at its phase of the tick.
constexpr std::chrono::microseconds kStartSpin{200};
}  // namespace

void StartAtPhase(int phase) {
  using namespace std::chrono;
  const auto now = steady_clock::now();
  const auto tick = ceil<milliseconds>(now) + milliseconds(1);
  const auto at = tick + nanoseconds(PhaseOffsetNs(phase));
  std::this_thread::sleep_until(at - kStartSpin);
  while (steady_clock::now() < at) {
  }
}

void MeasureAgainstFloor(benchmark::State& state, service::Link link, const OperationFactory& make) {
  try {
    // 1. The floors, on the virtual line: the rig's (writes that return at
    //    once, as on the pseudo-terminal) and a real port's.
    const Floor floor = MeasureFloor(link, make, HostWrites::ReturnAtOnce);
    const Floor portFloor = MeasureFloor(link, make, HostWrites::Drain);
    //    And the rig's with its hand-offs through the operating system.
    const RigHandOff& rig = MeasureRigHandOff();
    const Floor rigFloor = MeasureFloor(link, make, HostWrites::ReturnAtOnce, rig.delays);

    // 2. kkm-sim on a pseudo-terminal as COM1, the operation on the real back end.
    SimProcess sim(link);
    const auto platform = serial::MakeNativePlatform();
    const Operation operation = make(*platform);
    if (!operation.run()) {
      state.SkipWithError("the operation fails over kkm-sim");
      return;
    }

    // 3. Timed calls; a failed one is counted and left out of the figures.
    //    Each starts at the next of the floor's phases of the tick, so that a
    //    run and its phase's floor wait out the same fractions of a tick.
    std::vector<double> durations;
    std::vector<double> overFloor;
    std::vector<double> overRigFloor;
    int failed = 0;
    int run = 0;
    for (auto _ : state) {
      const int phase = run++ % kFloorPhases;
      state.PauseTiming();
      StartAtPhase(phase);
      state.ResumeTiming();
      const auto start = std::chrono::steady_clock::now();
      const bool ok = operation.run();
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      state.SetIterationTime(elapsed.count());
      if (!ok) {
        // Answers still on their way would fail the next run too.
        ++failed;
        std::this_thread::sleep_for(kQuietAfterFailure);
        continue;
      }
      durations.push_back(elapsed.count() * 1e3);
      overFloor.push_back(durations.back() - floor.phaseMs[static_cast<std::size_t>(phase)]);
      overRigFloor.push_back(durations.back() - rigFloor.phaseMs[static_cast<std::size_t>(phase)]);
    }
    state.counters["failed"] = failed;
    if (durations.empty()) {
      state.SkipWithError("every run failed over kkm-sim");
      return;
    }

    // 4. The figures.
    std::sort(durations.begin(), durations.end());
    std::sort(overFloor.begin(), overFloor.end());
    std::sort(overRigFloor.begin(), overRigFloor.end());
    const double mean = std::accumulate(durations.begin(), durations.end(), 0.0) / durations.size();
    state.counters["floor_ms"] = floor.meanMs;
    state.counters["port_floor_ms"] = portFloor.meanMs;
    state.counters["line_ms"] = floor.lineMs;
    state.counters["real_ms"] = mean;
    state.counters["real_median_ms"] = durations[durations.size() / 2];
    state.counters["real_max_ms"] = durations.back();
    state.counters["ratio"] = mean / floor.meanMs;
    state.counters["ratio_median"] = durations[durations.size() / 2] / floor.meanMs;
    state.counters["over_median_ms"] = overFloor[overFloor.size() / 2];
    state.counters["over_max_ms"] = overFloor.back();
    state.counters["handoff_ms"] = rig.roundTripMs;
    state.counters["rig_floor_ms"] = rigFloor.meanMs;
    state.counters["over_rig_median_ms"] = overRigFloor[overRigFloor.size() / 2];
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
  }
}

}  // namespace kkm::bench
