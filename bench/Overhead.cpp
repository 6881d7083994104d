#include "bench/Overhead.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <numeric>
#include <vector>

namespace kkm::bench {

void MeasureAgainstFloor(benchmark::State& state, SimLink link, const OperationFactory& make) {
  try {
    // 1. The floor, on the virtual line.
    const Floor floor = MeasureFloor(link, make);

    // 2. kkm-sim on a pseudo-terminal as COM1, the operation on the real back end.
    SimProcess sim(link);
    const auto platform = serial::MakeNativePlatform();
    const Operation operation = make(*platform);
    if (!operation.run()) {
      state.SkipWithError("the operation fails over kkm-sim");
      return;
    }
    if (operation.settle) operation.settle();

    // 3. Timed calls.
    std::vector<double> durations;
    for (auto _ : state) {
      const auto start = std::chrono::steady_clock::now();
      const bool ok = operation.run();
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      if (!ok) {
        state.SkipWithError("the operation failed over kkm-sim");
        return;
      }
      if (operation.settle) operation.settle();
      state.SetIterationTime(elapsed.count());
      durations.push_back(elapsed.count() * 1e3);
    }

    // 4. The figures.
    std::sort(durations.begin(), durations.end());
    const double mean = std::accumulate(durations.begin(), durations.end(), 0.0) / durations.size();
    state.counters["floor_ms"] = floor.meanMs;
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
