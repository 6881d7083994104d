#include "bench/Overhead.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <numeric>
#include <thread>
#include <utility>
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

namespace {

// The floors of one operation on the virtual line: the rig's (writes that
// return at once, as on the pseudo-terminal), a real port's, and the rig's
// with its hand-offs through the operating system.
struct Floors {
  Floor rig;
  Floor port;
  const RigHandOff& handOff;
  Floor rigWithHandOff;
};

Floors MeasureFloors(service::Link link, const OperationFactory& make) {
  const RigHandOff& handOff = MeasureRigHandOff();
  return {MeasureFloor(link, make, HostWrites::ReturnAtOnce), MeasureFloor(link, make, HostWrites::Drain),
          handOff, MeasureFloor(link, make, HostWrites::ReturnAtOnce, handOff.delays)};
}

// The timed runs that succeeded, in ms: each run's duration, and the same
// less the floors at the phase it started at.
struct Runs {
  std::vector<double> durations;
  std::vector<double> overFloor;
  std::vector<double> overRigFloor;
};

double Median(const std::vector<double>& sorted) { return sorted[sorted.size() / 2]; }

void SetCounters(benchmark::State& state, const Floors& floors, Runs runs) {
  std::vector<double>& durations = runs.durations;
  std::sort(durations.begin(), durations.end());
  std::sort(runs.overFloor.begin(), runs.overFloor.end());
  std::sort(runs.overRigFloor.begin(), runs.overRigFloor.end());
  const double mean = std::accumulate(durations.begin(), durations.end(), 0.0) / durations.size();
  const double floorMs = floors.rig.meanMs;
  state.counters["floor_ms"] = floorMs;
  state.counters["port_floor_ms"] = floors.port.meanMs;
  state.counters["line_ms"] = floors.rig.lineMs;
  state.counters["real_ms"] = mean;
  state.counters["real_median_ms"] = Median(durations);
  state.counters["real_max_ms"] = durations.back();
  state.counters["ratio"] = mean / floorMs;
  state.counters["ratio_median"] = Median(durations) / floorMs;
  state.counters["over_median_ms"] = Median(runs.overFloor);
  state.counters["over_max_ms"] = runs.overFloor.back();
  state.counters["handoff_ms"] = floors.handOff.roundTripMs;
  state.counters["rig_floor_ms"] = floors.rigWithHandOff.meanMs;
  state.counters["over_rig_median_ms"] = Median(runs.overRigFloor);
}

// Times the operation once per benchmark iteration, each run started at the
// next of the floor's phases of the tick, so that a run and its phase's floor
// wait out the same fractions of a tick. A failed run is counted in
// `failed` and left out.
Runs TimeRuns(benchmark::State& state, const Operation& operation, const Floors& floors, int& failed) {
  Runs runs;
  int run = 0;
  for (auto _ : state) {
    const auto phase = static_cast<std::size_t>(run++ % kFloorPhases);
    state.PauseTiming();
    StartAtPhase(static_cast<int>(phase));
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
    runs.durations.push_back(elapsed.count() * 1e3);
    runs.overFloor.push_back(runs.durations.back() - floors.rig.phaseMs[phase]);
    runs.overRigFloor.push_back(runs.durations.back() - floors.rigWithHandOff.phaseMs[phase]);
  }
  return runs;
}

}  // namespace

void MeasureAgainstFloor(benchmark::State& state, service::Link link, const OperationFactory& make) {
  try {
    const Floors floors = MeasureFloors(link, make);
    // kkm-sim on a pseudo-terminal as COM1, the operation on the real back end.
    SimProcess sim(link);
    const auto platform = serial::MakeNativePlatform();
    const Operation operation = make(*platform);
    if (!operation.run()) {
      state.SkipWithError("the operation fails over kkm-sim");
      return;
    }
    int failed = 0;
    Runs runs = TimeRuns(state, operation, floors, failed);
    state.counters["failed"] = failed;
    if (runs.durations.empty()) {
      state.SkipWithError("every run failed over kkm-sim");
      return;
    }
    SetCounters(state, floors, std::move(runs));
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
  }
}

}  // namespace kkm::bench
