#include "bench/Overhead.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <numeric>
#include <thread>
#include <vector>

namespace kkm::bench {

namespace {
constexpr std::chrono::milliseconds kQuietAfterFailure{100};
}  // namespace

void MeasureAgainstFloor(benchmark::State& state, SimLink link, const OperationFactory& make) {
  try {
    // 1. The floors, on the virtual line: the rig's (writes that return at
    //    once, as on the pseudo-terminal) and a real port's.
    const Floor floor = MeasureFloor(link, make, HostWrites::ReturnAtOnce);
    const Floor portFloor = MeasureFloor(link, make, HostWrites::Drain);

    // 2. kkm-sim on a pseudo-terminal as COM1, the operation on the real back end.
    SimProcess sim(link);
    const auto platform = serial::MakeNativePlatform();
    const Operation operation = make(*platform);
    if (!operation.run()) {
      state.SkipWithError("the operation fails over kkm-sim");
      return;
    }

    // 3. Timed calls; a failed one is counted and left out of the figures.
    std::vector<double> durations;
    int failed = 0;
    for (auto _ : state) {
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
    }
    state.counters["failed"] = failed;
    if (durations.empty()) {
      state.SkipWithError("every run failed over kkm-sim");
      return;
    }

    // 4. The figures.
    std::sort(durations.begin(), durations.end());
    const double mean = std::accumulate(durations.begin(), durations.end(), 0.0) / durations.size();
    state.counters["floor_ms"] = floor.meanMs;
    state.counters["port_floor_ms"] = portFloor.meanMs;
    state.counters["line_ms"] = floor.lineMs;
    state.counters["real_ms"] = mean;
    state.counters["real_median_ms"] = durations[durations.size() / 2];
    state.counters["real_max_ms"] = durations.back();
    state.counters["ratio"] = mean / floor.meanMs;
    state.counters["ratio_median"] = durations[durations.size() / 2] / floor.meanMs;
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
  }
}

}  // namespace kkm::bench
