// Exchange overhead of the operator's two long procedures, the connection
// and the write of the network number, over kkm-sim on a pseudo-terminal with
// the real POSIX back end, against their floors (Floor.h). The write stores
// the number 1 (the number the simulated register already has); the register
// is connected once, untimed, before the write's runs.
//
// BM_CommandParts times apart what the two procedures do besides their
// exchanges, on the same rig, each part after a sleep as a run starts: the
// connection closes the port the last attempt left open and opens the port
// anew (the look for other holders of the device included, and timed alone
// too), resolves the port's name to its device and looks for a write record;
// the write saves its record before exchange 4 and removes it after exchange
// 5, each flushed to disk, and appends a line to the history. The
// connection's first three parts are timed once more in a row after a sleep
// as long as its last wait, the state its next run starts in, and the
// record's save and removal each after such a sleep too (the _after_sleep_ms
// counters). Counters are medians in ms.
//
// BM_ConnectionParts and BM_WriteParts (processor link) account for a run's
// time over its rig floor: every port call and clock wait of a run, and every
// flush, rename and removal of a state file, is stamped (TimedPlatform.h), on
// the rig and on the floor's virtual line alike, and the run is set against
// the floor's run at the same phase stretch by stretch (MeasureParts).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/Overhead.h"
#include "bench/RigHandOff.h"
#include "bench/TimedPlatform.h"
#include "serial/PortHolders.h"
#include "serial/SerialLine.h"
#include "service/History.h"
#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "service/WriteRecord.h"
#include "sim/line/VirtualPlatform.h"

namespace kkm::bench {
namespace {

constexpr std::uint8_t kComPort = 1;

service::Link LinkOf(SimLink link) {
  return link == SimLink::Processor ? service::Link::Processor : service::Link::Kia;
}

OperationFactory Connection(SimLink link) {
  return [link](serial::Platform& platform) {
    auto session = std::make_shared<service::Session>(platform, "kkm-netnum");
    return Operation{
        [session, link] { return service::Connect(*session, kComPort, LinkOf(link)).connected(); }};
  };
}

OperationFactory WriteCommand(SimLink link) {
  return [link](serial::Platform& platform) {
    auto session = std::make_shared<service::Session>(platform, "kkm-netnum");
    if (!service::Connect(*session, kComPort, LinkOf(link)).connected())
      throw std::runtime_error("the register does not connect");
    return Operation{
        [session, link] { return service::WriteNetworkNumber(*session, LinkOf(link), 1).written(); }};
  };
}

void BM_Command(benchmark::State& state, SimLink link, const OperationFactory& make) {
  MeasureAgainstFloor(state, link, make);
}

double MedianMs(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Times `part` once, in ms.
template <typename Part>
double TimeMs(Part&& part) {
  const auto start = std::chrono::steady_clock::now();
  part();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The connection's last wait, the version query's reply delay.
constexpr std::chrono::milliseconds kConnectionLastWait{400};

void BM_CommandParts(benchmark::State& state) {
  const SimProcess sim(SimLink::Processor);
  const auto platform = serial::MakeNativePlatform();
  service::Session session(*platform, "kkm-netnum");
  service::WriteRecord record{"COM1", sim.slavePath(), service::Link::Processor, 0xFE, 0xFE, true, 0xFE,
                              0x10};
  const service::HistoryEntry entry{
      "write", "written", "COM1", sim.slavePath(), service::Link::Processor, 0xFE, 0x01, 0x01, 0, {}};
  std::vector<double> reopenAfterSleep, namesAfterSleep, loadAfterSleep, saveAfterSleep, removeAfterSleep;
  std::vector<double> open, close, holders, names, load, save, remove, history;
  // Each part starts as a timed run does: after a sleep and a spin to a phase of the tick.
  const auto part = [](std::vector<double>& into, auto&& body) {
    StartAtPhase(0);
    into.push_back(TimeMs(body));
  };
  for (auto _ : state) {
    part(open, [&] {
      if (!service::OpenSessionPort(session, "COM1")) state.SkipWithError("COM1 does not open");
    });
    part(close, [&] { serial::CloseComPort(session.port); });
    part(holders, [&] { serial::OtherHoldersOf(sim.slavePath(), 1); });
    part(names, [&] { static_cast<void>(service::DeviceOf(*platform, "COM1")); });
    part(load, [&] { static_cast<void>(service::LoadRecord(session, service::Link::Processor)); });
    part(save, [&] { static_cast<void>(service::SaveRecord(record)); });
    part(remove, [&] { static_cast<void>(service::RemoveRecord(record)); });
    part(history, [&] { static_cast<void>(service::AppendHistory("command_bench", entry)); });
    // A connection's start after the previous one's last wait: the port the
    // last attempt left open closed and opened again, then the port's name
    // resolved and the record looked for, one after the other.
    if (!service::OpenSessionPort(session, "COM1")) state.SkipWithError("COM1 does not open");
    std::this_thread::sleep_for(kConnectionLastWait);
    StartAtPhase(0);
    reopenAfterSleep.push_back(TimeMs([&] {
      if (!service::OpenSessionPort(session, "COM1")) state.SkipWithError("COM1 does not open again");
    }));
    namesAfterSleep.push_back(TimeMs([&] { static_cast<void>(service::DeviceOf(*platform, "COM1")); }));
    loadAfterSleep.push_back(
        TimeMs([&] { static_cast<void>(service::LoadRecord(session, service::Link::Processor)); }));
    serial::CloseComPort(session.port);
    // The write's record saved and removed after as long without a disk access.
    std::this_thread::sleep_for(kConnectionLastWait);
    part(saveAfterSleep, [&] { static_cast<void>(service::SaveRecord(record)); });
    std::this_thread::sleep_for(kConnectionLastWait);
    part(removeAfterSleep, [&] { static_cast<void>(service::RemoveRecord(record)); });
    state.SetIterationTime((open.back() + close.back()) / 1000.0);
  }
  state.counters["open_ms"] = MedianMs(open);
  state.counters["reopen_after_sleep_ms"] = MedianMs(reopenAfterSleep);
  state.counters["port_names_after_sleep_ms"] = MedianMs(namesAfterSleep);
  state.counters["record_load_after_sleep_ms"] = MedianMs(loadAfterSleep);
  state.counters["record_save_after_sleep_ms"] = MedianMs(saveAfterSleep);
  state.counters["record_remove_after_sleep_ms"] = MedianMs(removeAfterSleep);
  state.counters["close_ms"] = MedianMs(close);
  state.counters["holders_ms"] = MedianMs(holders);
  state.counters["port_names_ms"] = MedianMs(names);
  state.counters["record_load_ms"] = MedianMs(load);
  state.counters["record_save_ms"] = MedianMs(save);
  state.counters["record_remove_ms"] = MedianMs(remove);
  state.counters["history_ms"] = MedianMs(history);
}

// A procedure's run cut into stretches at the ends of its waits that end on
// a tick (time-outs that run out, DelayMs, PauseMs): on the rig floor those
// are the waits whose end falls on a tick. Whatever a stretch costs before
// such a wait moves the wait's end only when it carries the wait's start
// across a tick, so each stretch is over its floor by whole milliseconds
// plus the lateness of the wake-ups at its ends. The calls of a real run and
// of the floor's run are the same but for the polling inside waits, so the
// n-th stretch of one is the n-th of the other.
constexpr std::int64_t kNsPerMsInt = 1'000'000;
double Ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }
std::int64_t PastTickNs(std::int64_t ns) { return ns % 1'000'000; }

bool IsWait(CallKind kind) {
  return kind == CallKind::AwaitInput || kind == CallKind::ClockWait || kind == CallKind::Queued;
}

struct Stretch {
  std::int64_t openNs = 0;   // of the time outside waits, opening the port,
  std::int64_t filesNs = 0;  // the state files' flushes, renames, removals
  std::int64_t callsNs = 0;  // and the other calls that do not wait (the rest is code)
  std::int64_t beginNs = 0;
  std::int64_t endNs = 0;           // the end of its tick wait (of the run for the last)
  std::int64_t waitBeginNs = 0;     // the start of its tick wait (its end for the last)
  std::int64_t outsideWaitsNs = 0;  // the time of its non-wait calls and the code between them
};

struct Run {
  std::vector<Stretch> stretches;
  std::vector<std::size_t> tickWaits;       // the indices of the tick waits among the run's waits
  std::size_t waits = 0;                    // how many waits the run had
  std::array<double, kCallKinds> kindMs{};  // time in each kind of call over the run
};

// Cuts a run; `onTick(index, endNs)` tells the waits (by their index among the
// run's waits, and their end) that are tick waits. A wait is a row of
// consecutive wait calls.
template <typename OnTick>
Run Cut(const std::vector<Call>& calls, std::int64_t startNs, std::int64_t endNs, OnTick&& onTick) {
  Run run;
  Stretch current{0, 0, 0, startNs};
  std::int64_t waited = 0;
  for (std::size_t i = 0; i < calls.size();) {
    if (!IsWait(calls[i].kind)) {
      run.kindMs[static_cast<std::size_t>(calls[i].kind)] += Ms(calls[i].endNs - calls[i].beginNs);
      if (calls[i].kind == CallKind::Open) current.openNs += calls[i].endNs - calls[i].beginNs;
      if (calls[i].kind == CallKind::Files) current.filesNs += calls[i].endNs - calls[i].beginNs;
      if (calls[i].kind != CallKind::Open && calls[i].kind != CallKind::Files)
        current.callsNs += calls[i].endNs - calls[i].beginNs;
      ++i;
      continue;
    }
    const std::int64_t waitBegin = calls[i].beginNs;
    std::size_t j = i;
    for (; j < calls.size() && IsWait(calls[j].kind); ++j)
      run.kindMs[static_cast<std::size_t>(calls[j].kind)] += Ms(calls[j].endNs - calls[j].beginNs);
    const std::int64_t waitEnd = calls[j - 1].endNs;
    if (onTick(run.waits, waitEnd)) {
      run.tickWaits.push_back(run.waits);
      current.endNs = waitEnd;
      current.waitBeginNs = waitBegin;
      current.outsideWaitsNs = waitBegin - current.beginNs - waited;
      run.stretches.push_back(current);
      current = Stretch{0, 0, 0, waitEnd};
      waited = 0;
    } else {
      waited += waitEnd - waitBegin;
    }
    ++run.waits;
    i = j;
  }
  current.endNs = endNs;
  current.waitBeginNs = endNs;
  current.outsideWaitsNs = endNs - current.beginNs - waited;
  run.stretches.push_back(current);
  return run;
}

// One stretch of a timed run against the same stretch of its floor's run, in ms.
struct StretchFigures {
  double overMs = 0;
  double beforeWaitMs = 0;  // the extra time before its tick wait began
  double outsideMs = 0;     // the extra time outside waits (in calls that do not wait, and code)
  double openMs = 0;        // the open's time (the floor's open takes none)
  double filesMs = 0;       // the state files' calls' time (none on the floor)
  double callsMs = 0;       // the other calls' extra time
  double codeMs = 0;        // and the code's between calls
  double slackMs = 0;       // on the floor, from the tick wait's start to the next tick
  double ticks = 0;         // ticks crossed before the wait began, beyond the floor's
  double lateMs = 0;        // how much later past its tick the wait woke than on the floor
};

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double value : values) sum += value;
  return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

// A procedure on the processor link, made ready on a session (untimed) and run.
struct Procedure {
  std::function<void(service::Session&)> prepare;
  std::function<bool(service::Session&)> run;
};

// The procedure's runs on the rig floor: the virtual line with kkm-sim's
// devices, FIFO and the rig's hand-offs, one run per phase of the tick.
std::array<Run, kFloorPhases> FloorRuns(const Procedure& procedure) {
  sim::VirtualLine line(0, kFloorStepNs);
  line.setHostReceiveFifo(UartFifoTrigger(), kUartFifoTimeoutCharacters);
  line.setHostWriteReturnsAtOnce(true);
  const HandOff handOff = MeasureRigHandOff().delays;
  line.setHostHandOffDelays(handOff.toLineNs, handOff.toHostNs);
  SimulatedDevices devices(SimLink::Processor, line);
  sim::VirtualPlatform virtualPlatform(line);
  virtualPlatform.addPort("COM1", line);
  TimedPlatform platform(virtualPlatform, [&line] { return static_cast<std::int64_t>(line.now()); });
  service::Session session(platform, "kkm-netnum");
  procedure.prepare(session);
  if (!procedure.run(session)) throw std::runtime_error("the procedure fails on the virtual line");
  struct PhaseRun {
    std::vector<Call> calls;
    std::int64_t startNs;
    std::int64_t endNs;
  };
  std::array<PhaseRun, kFloorPhases> phaseRuns;
  for (int phase = 0; phase < kFloorPhases; ++phase) {
    const sim::SimTime nextMs = (line.now() / sim::kNsPerMs + 1) * sim::kNsPerMs;
    line.advanceTo(nextMs + PhaseOffsetNs(phase));
    platform.clear();
    const auto start = static_cast<std::int64_t>(line.now());
    if (!procedure.run(session)) throw std::runtime_error("the procedure fails on the virtual line");
    phaseRuns[static_cast<std::size_t>(phase)] = {platform.calls(), start,
                                                  static_cast<std::int64_t>(line.now())};
  }
  // A tick wait ends on a tick at every phase; a wait for an answer may
  // happen to at one, and is not taken for one.
  std::vector<std::size_t> tickWaits;
  for (std::size_t i = 0; i < phaseRuns.size(); ++i) {
    const PhaseRun& r = phaseRuns[i];
    const Run cut = Cut(r.calls, r.startNs, r.endNs,
                        [](std::size_t, std::int64_t endNs) { return PastTickNs(endNs) == 0; });
    if (i == 0) {
      tickWaits = cut.tickWaits;
      continue;
    }
    std::erase_if(tickWaits, [&cut](std::size_t wait) {
      return std::find(cut.tickWaits.begin(), cut.tickWaits.end(), wait) == cut.tickWaits.end();
    });
  }
  std::array<Run, kFloorPhases> runs;
  for (std::size_t i = 0; i < phaseRuns.size(); ++i) {
    const PhaseRun& r = phaseRuns[i];
    runs[i] = Cut(r.calls, r.startNs, r.endNs, [&tickWaits](std::size_t wait, std::int64_t) {
      return std::find(tickWaits.begin(), tickWaits.end(), wait) != tickWaits.end();
    });
  }
  return runs;
}

// Times the procedure over kkm-sim, each run cut where its phase's floor run
// is, and prints each stretch's means to stderr: over its floor; the extra
// time before its tick wait began, and of that the time outside waits (the
// open, the state files' calls, the other calls, the code between them; the rest is
// waits for answers that ended later than on the floor); the floor's slack
// (how far the tick wait's start could move without crossing a tick); the
// ticks the stretch added; how much later its wake-up came. With
// $KKM_BENCH_RUNS set, every run's too. A stretch is over its floor by its
// ticks plus the lateness it ends with less the one it began with; counter
// residual_max_ms is the most any run leaves beyond that (0 when the waits
// keep to the ticks). Counters in ms: over_rig_median_ms and _mean_ms, the
// runs over their floors; ticks_mean; late_end_ms the last tick wait's
// lateness and tail_over_ms the stretch after it (medians); in_<kind>_ms the
// time in each kind of call (medians); unmatched, runs whose waits differed
// from the floor's (left out).
void MeasureParts(benchmark::State& state, const char* name, const Procedure& procedure) {
  try {
    const std::array<Run, kFloorPhases> floor = FloorRuns(procedure);
    const SimProcess sim(SimLink::Processor);
    const auto native = serial::MakeNativePlatform();
    TimedPlatform platform(*native, SteadyNowNs);
    service::Session session(platform, "kkm-netnum");
    procedure.prepare(session);
    if (!procedure.run(session)) throw std::runtime_error("the procedure fails over kkm-sim");
    std::vector<double> over, ticks, residuals, lateEnd, tail;
    std::vector<std::vector<StretchFigures>> stretches;
    std::array<std::vector<double>, kCallKinds> kind;
    const bool dump = std::getenv("KKM_BENCH_RUNS") != nullptr;
    int index = 0;
    int unmatched = 0;
    // Every exit stops the stamping of state files' calls on this platform.
    const std::unique_ptr<TimedPlatform, void (*)(TimedPlatform*)> files(
        (NoteFiles(&platform), &platform), [](TimedPlatform*) { NoteFiles(nullptr); });
    for (auto _ : state) {
      const int phase = index++ % kFloorPhases;
      state.PauseTiming();
      StartAtPhase(phase);
      platform.clear();
      state.ResumeTiming();
      const std::int64_t start = SteadyNowNs();
      const bool ok = procedure.run(session);
      const std::int64_t end = SteadyNowNs();
      state.SetIterationTime(static_cast<double>(end - start) / 1e9);
      const Run& f = floor[static_cast<std::size_t>(phase)];
      const Run real = Cut(platform.calls(), start, end, [&f](std::size_t wait, std::int64_t) {
        return std::find(f.tickWaits.begin(), f.tickWaits.end(), wait) != f.tickWaits.end();
      });
      if (!ok) {
        state.SkipWithError("the procedure failed over kkm-sim");
        return;
      }
      if (real.waits != f.waits) {
        // A wait the floor's run does not have (an answer a poll found already
        // there): the stretches cannot be matched; counted, left out.
        ++unmatched;
        continue;
      }
      // Ticks are counted from the tick a stretch's start belongs to: for the
      // first the run's start, for the others the tick the previous wait was
      // due to end at (a wake-up can be more than a tick late).
      std::vector<StretchFigures> figures;
      double total = 0;
      double residual = 0;
      double wholeTicks = 0;
      std::int64_t realBaseTick = start / kNsPerMsInt;
      double lateBefore = Ms(PastTickNs(start)) - Ms(PastTickNs(f.stretches.front().beginNs));
      for (std::size_t i = 0; i < real.stretches.size(); ++i) {
        const Stretch& r = real.stretches[i];
        const Stretch& g = f.stretches[i];
        const bool last = i + 1 == real.stretches.size();
        StretchFigures x;
        x.overMs = Ms(r.endNs - r.beginNs) - Ms(g.endNs - g.beginNs);
        x.beforeWaitMs = Ms(r.waitBeginNs - r.beginNs) - Ms(g.waitBeginNs - g.beginNs);
        x.outsideMs = Ms(r.outsideWaitsNs) - Ms(g.outsideWaitsNs);
        x.openMs = Ms(r.openNs);
        x.filesMs = Ms(r.filesNs);
        x.callsMs = Ms(r.callsNs) - Ms(g.callsNs);
        x.codeMs = x.outsideMs - x.openMs - x.filesMs - x.callsMs;
        if (!last) {
          const std::int64_t floorWaitTicks = g.endNs / kNsPerMsInt - g.waitBeginNs / kNsPerMsInt;
          const std::int64_t dueTick = r.waitBeginNs / kNsPerMsInt + floorWaitTicks;
          x.slackMs = 1.0 - Ms(PastTickNs(g.waitBeginNs));
          x.ticks = static_cast<double>((r.waitBeginNs / kNsPerMsInt - realBaseTick) -
                                        (g.waitBeginNs / kNsPerMsInt - g.beginNs / kNsPerMsInt));
          x.lateMs = Ms(r.endNs - dueTick * kNsPerMsInt) - Ms(PastTickNs(g.endNs));
          residual += x.overMs - x.ticks - x.lateMs + lateBefore;
          realBaseTick = dueTick;
          lateBefore = x.lateMs;
        }
        total += x.overMs;
        wholeTicks += x.ticks;
        figures.push_back(x);
      }
      if (dump) {
        std::fprintf(stderr, "%s run %2d phase %d: %+7.3f =", name, index, phase, total);
        for (const StretchFigures& x : figures)
          std::fprintf(
              stderr,
              " [%+.3f: before wait %+.3f, outside waits %+.3f (open %.3f files %.3f calls %+.3f code "
              "%+.3f), slack %.3f, ticks %.0f, late %+.3f]",
              x.overMs, x.beforeWaitMs, x.outsideMs, x.openMs, x.filesMs, x.callsMs, x.codeMs, x.slackMs,
              x.ticks, x.lateMs);
        std::fprintf(stderr, " residual %+.3f\n", residual);
      }
      if (stretches.empty()) stretches.resize(figures.size());
      if (stretches.size() == figures.size())
        for (std::size_t i = 0; i < figures.size(); ++i) stretches[i].push_back(figures[i]);
      over.push_back(total);
      ticks.push_back(wholeTicks);
      residuals.push_back(std::abs(residual));
      lateEnd.push_back(figures.size() > 1 ? figures[figures.size() - 2].lateMs : 0);
      tail.push_back(figures.back().overMs);
      for (std::size_t i = 0; i < kCallKinds; ++i) kind[i].push_back(real.kindMs[i]);
    }
    for (std::size_t i = 0; i < stretches.size(); ++i) {
      const auto mean = [&](double StretchFigures::*field) {
        std::vector<double> values;
        for (const StretchFigures& x : stretches[i]) values.push_back(x.*field);
        return Mean(values);
      };
      std::fprintf(
          stderr,
          "%s stretch %zu of %zu (means of %zu): over %+.3f; before its wait %+.3f, outside waits %+.3f "
          "(open %.3f, files %.3f, calls %+.3f, code %+.3f); floor's slack %.3f; ticks %.2f; late %+.3f\n",
          name, i + 1, stretches.size(), stretches[i].size(), mean(&StretchFigures::overMs),
          mean(&StretchFigures::beforeWaitMs), mean(&StretchFigures::outsideMs),
          mean(&StretchFigures::openMs), mean(&StretchFigures::filesMs), mean(&StretchFigures::callsMs),
          mean(&StretchFigures::codeMs), mean(&StretchFigures::slackMs), mean(&StretchFigures::ticks),
          mean(&StretchFigures::lateMs));
    }
    state.counters["unmatched"] = unmatched;
    state.counters["over_rig_median_ms"] = MedianMs(over);
    state.counters["over_rig_mean_ms"] = Mean(over);
    state.counters["ticks_mean"] = Mean(ticks);
    state.counters["late_end_ms"] = MedianMs(lateEnd);
    state.counters["tail_over_ms"] = MedianMs(tail);
    state.counters["residual_max_ms"] =
        residuals.empty() ? 0 : *std::max_element(residuals.begin(), residuals.end());
    for (std::size_t i = 0; i < kCallKinds; ++i)
      if (!IsWait(static_cast<CallKind>(i)))
        state.counters[std::string("in_") + kCallKindNames[i] + "_ms"] = MedianMs(kind[i]);
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
  }
}

void BM_ConnectionParts(benchmark::State& state) {
  MeasureParts(state, "connection",
               {[](service::Session&) {},
                [](service::Session& session) {
                  return service::Connect(session, kComPort, service::Link::Processor).connected();
                }});
}

void BM_WriteParts(benchmark::State& state) {
  MeasureParts(state, "write",
               {[](service::Session& session) {
                  if (!service::Connect(session, kComPort, service::Link::Processor).connected())
                    throw std::runtime_error("the register does not connect");
                },
                [](service::Session& session) {
                  return service::WriteNetworkNumber(session, service::Link::Processor, 1).written();
                }});
}

BENCHMARK_CAPTURE(BM_Command, ConnectionProcedure_Cpu, SimLink::Processor, Connection(SimLink::Processor))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(BM_Command, ConnectionProcedure_Kia, SimLink::Kia, Connection(SimLink::Kia))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);
BENCHMARK_CAPTURE(BM_Command, WriteNetworkNumber_Cpu, SimLink::Processor, WriteCommand(SimLink::Processor))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_ConnectionParts)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_WriteParts)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_CommandParts)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK_CAPTURE(BM_Command, WriteNetworkNumber_Kia, SimLink::Kia, WriteCommand(SimLink::Kia))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace kkm::bench
