// How far past their limits the waits end on the real clock, and how much CPU
// they use while waiting. A wait of d ms ends at the first tick reading more
// than d (PauseMs: d + 1) ms after its start reading, so its limit is the
// moment the millisecond counter first shows that many: the overshoot is the
// real time from that moment to the return. Counters: overshoot_median_ms,
// overshoot_p99_ms and cpu_share (CPU seconds per second waited).

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "serial/Platform.h"
#include "serial/SerialLine.h"

namespace {

using kkm::serial::Clock;

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// `ticks`: how many counter steps past the start reading end the wait.
template <typename Wait>
void MeasureWait(benchmark::State& state, std::int64_t ticks, Wait wait) {
  std::vector<double> overshoot;
  double cpu = 0;
  double wall = 0;
  for (auto _ : state) {
    const double cpu0 = CpuSeconds();
    const std::int64_t t0 = NowNs();
    wait();
    const std::int64_t t1 = NowNs();
    const double elapsed = static_cast<double>(t1 - t0) * 1e-9;
    cpu += CpuSeconds() - cpu0;
    wall += elapsed;
    // The real clock's tick is the steady clock in whole milliseconds.
    const std::int64_t limit = (t0 / 1'000'000 + ticks) * 1'000'000;
    overshoot.push_back(static_cast<double>(t1 - limit) * 1e-6);
    state.SetIterationTime(elapsed);
  }
  std::sort(overshoot.begin(), overshoot.end());
  state.counters["overshoot_median_ms"] = overshoot[overshoot.size() / 2];
  state.counters["overshoot_p99_ms"] = overshoot[std::min(overshoot.size() - 1, overshoot.size() * 99 / 100)];
  state.counters["cpu_share"] = wall > 0 ? cpu / wall : 0;
}

void BM_DelayMs(benchmark::State& state) {
  auto platform = kkm::serial::MakeNativePlatform();
  const auto ms = static_cast<std::uint32_t>(state.range(0));
  MeasureWait(state, ms + 1, [&] { kkm::serial::DelayMs(platform->clock(), ms); });
}
BENCHMARK(BM_DelayMs)->Arg(10)->Arg(40)->UseManualTime()->Iterations(200);

void BM_PauseMs(benchmark::State& state) {
  auto platform = kkm::serial::MakeNativePlatform();
  const auto ms = static_cast<std::uint32_t>(state.range(0));
  MeasureWait(state, ms + 2, [&] { kkm::serial::PauseMs(platform->clock(), ms); });
}
BENCHMARK(BM_PauseMs)->Arg(20)->UseManualTime()->Iterations(100);

void BM_WaitForInputTimeout(benchmark::State& state) {
  auto platform = kkm::serial::MakeNativePlatform();
  // No port: the poll counts nothing, so the wait runs to its time-out.
  kkm::serial::PortHandle port(platform->clock());
  const auto ms = static_cast<std::uint32_t>(state.range(0));
  MeasureWait(state, ms + 1, [&] { benchmark::DoNotOptimize(kkm::serial::WaitForInput(port, 1, ms)); });
}
BENCHMARK(BM_WaitForInputTimeout)->Arg(10)->Arg(20)->UseManualTime()->Iterations(200);

}  // namespace
