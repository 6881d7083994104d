// How far past their limits the waits end on the real clock, and how much CPU
// they use while waiting. A wait of d ms ends at the first tick reading more
// than d (PauseMs: d + 1) ms after its start reading, so its limit is the
// moment the millisecond counter first shows that many: the overshoot is the
// real time from that moment to the return. Counters: overshoot_median_ms,
// overshoot_p99_ms and cpu_share (CPU seconds per second waited).
//
// BM_WaitForInputArrival measures the other side of a wait: how long after a
// byte has landed in the port's input queue WaitForInput notices it. A thread
// writes the byte into the master of a pseudo-terminal whose slave is COM1 of
// the real POSIX back end, a few milliseconds into the wait; the overshoot is
// from that write to the wait's return. Every exchange pays this once per
// answer it waits for. With argument 1 the wait is for two bytes and the first
// is queued before it begins: an answer that arrives in pieces (a UART's FIFO
// loads, a byte without the FIFO) is noticed when its last piece lands.
// BM_WaitForInputSilentPort: the CPU a wait on an open, silent port costs.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
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
void SetOvershootCounters(benchmark::State& state, std::vector<double>& overshoot) {
  std::sort(overshoot.begin(), overshoot.end());
  state.counters["overshoot_median_ms"] = overshoot[overshoot.size() / 2];
  state.counters["overshoot_p99_ms"] = overshoot[std::min(overshoot.size() - 1, overshoot.size() * 99 / 100)];
}

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
  SetOvershootCounters(state, overshoot);
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

// A pseudo-terminal whose slave is COM1 of the real back end, open.
class PtyCom1 {
 public:
  PtyCom1() : platform_(kkm::serial::MakeNativePlatform()), port_(platform_->clock()) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    setenv("KKM_COM1", ptsname(master_), 1);
    static_cast<void>(kkm::serial::OpenComPort(*platform_, 1, port_));  // the rig's own port: it opens
    unsetenv("KKM_COM1");
  }
  ~PtyCom1() {
    kkm::serial::CloseComPort(port_);
    if (master_ >= 0) close(master_);
  }
  PtyCom1(const PtyCom1&) = delete;
  PtyCom1& operator=(const PtyCom1&) = delete;
  bool ok() const { return port_.isOpen(); }
  int master() const { return master_; }
  kkm::serial::PortHandle& port() { return port_; }

 private:
  std::unique_ptr<kkm::serial::Platform> platform_;
  kkm::serial::PortHandle port_;
  int master_ = -1;
};

// An open port on which nothing arrives: the wait runs to its time-out.
void BM_WaitForInputSilentPort(benchmark::State& state) {
  PtyCom1 pty;
  if (!pty.ok()) {
    state.SkipWithError("no pseudo-terminal as COM1");
    return;
  }
  const auto ms = static_cast<std::uint32_t>(state.range(0));
  MeasureWait(state, ms + 1, [&] { benchmark::DoNotOptimize(kkm::serial::WaitForInput(pty.port(), 1, ms)); });
}
BENCHMARK(BM_WaitForInputSilentPort)->Arg(10)->UseManualTime()->Iterations(200);

// state.range(0): bytes of the awaited answer already queued when the wait
// begins (0: a single byte is awaited; 1: the second of two, the first being
// queued, as when an answer arrives in pieces).
void BM_WaitForInputArrival(benchmark::State& state) {
  PtyCom1 pty;
  if (!pty.ok()) {
    state.SkipWithError("no pseudo-terminal as COM1");
    return;
  }
  const auto queuedFirst = static_cast<std::uint32_t>(state.range(0));
  constexpr std::uint32_t kTimeoutMs = 100;
  std::mt19937 random(1);
  std::uniform_int_distribution<std::int64_t> delayUs(2000, 5000);  // a few ms into the wait, any phase
  std::vector<double> overshoot;
  for (auto _ : state) {
    // 1. The byte goes in a few milliseconds after the wait has begun.
    const std::int64_t writeAt = NowNs() + delayUs(random) * 1000;
    std::atomic<std::int64_t> written{0};
    std::thread writer([&] {
      const timespec at{static_cast<time_t>(writeAt / 1'000'000'000),
                        static_cast<long>(writeAt % 1'000'000'000)};
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
      const std::uint8_t byte = 0x55;
      written = NowNs();
      [[maybe_unused]] const ssize_t n = write(pty.master(), &byte, 1);
    });
    for (std::uint32_t i = 0; i < queuedFirst; ++i) {
      const std::uint8_t first = 0xAA;
      [[maybe_unused]] const ssize_t n = write(pty.master(), &first, 1);
    }
    // 2. The wait, from its start to its return.
    const std::int64_t t0 = NowNs();
    const bool arrived = kkm::serial::WaitForInput(pty.port(), queuedFirst + 1, kTimeoutMs);
    const std::int64_t t1 = NowNs();
    writer.join();
    state.SetIterationTime(static_cast<double>(t1 - t0) * 1e-9);
    if (!arrived) {
      state.SkipWithError("the byte did not arrive");
      return;
    }
    overshoot.push_back(static_cast<double>(t1 - written) * 1e-6);
    std::uint8_t bytes[2] = {};
    pty.port().read(bytes, queuedFirst + 1);
  }
  SetOvershootCounters(state, overshoot);
}
BENCHMARK(BM_WaitForInputArrival)->Arg(0)->Arg(1)->UseManualTime()->Iterations(200);

}  // namespace
