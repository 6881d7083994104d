// Exchange overhead of the operator's two long procedures, the connection
// and the write of the network number, over kkm-sim on a pseudo-terminal with
// the real POSIX back end, against their floors (Floor.h). The write stores
// the number 1 (the number the simulated register already has); the register
// is connected once, untimed, before the write's runs.
//
// BM_CommandParts times apart what the two procedures do besides their
// exchanges, on the same rig: the connection closes the port the last attempt
// left open and opens the port anew (the look for other holders of the device
// included, and timed alone too); the write saves its record before exchange
// 4 and removes it after exchange 5, each flushed to disk. Counters are medians
// in ms.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "bench/Overhead.h"
#include "serial/PortHolders.h"
#include "serial/SerialLine.h"
#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "service/WriteRecord.h"

namespace kkm::bench {
namespace {

constexpr std::uint8_t kComPort = 1;

service::Link LinkOf(SimLink link) {
  return link == SimLink::Cpu ? service::Link::Processor : service::Link::Kia;
}

OperationFactory Connection(SimLink link) {
  return [link](serial::Platform& platform) {
    auto session = std::make_shared<service::Session>(platform);
    return Operation{
        [session, link] { return service::Connect(*session, kComPort, LinkOf(link)).connected(); }};
  };
}

OperationFactory WriteCommand(SimLink link) {
  return [link](serial::Platform& platform) {
    auto session = std::make_shared<service::Session>(platform);
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

void BM_CommandParts(benchmark::State& state) {
  const SimProcess sim(SimLink::Cpu);
  const auto platform = serial::MakeNativePlatform();
  service::Session session(*platform);
  service::WriteRecord record{"COM1", sim.slavePath(), service::Link::Processor, 0xFE, 0xFE, true, 0xFE, 0x10};
  std::vector<double> open, close, holders, save, remove;
  std::string reason;
  for (auto _ : state) {
    open.push_back(TimeMs([&] {
      if (!service::OpenSessionPort(session, "COM1")) state.SkipWithError("COM1 does not open");
    }));
    close.push_back(TimeMs([&] { serial::CloseComPort(session.port); }));
    holders.push_back(TimeMs([&] { serial::OtherHoldersOf(sim.slavePath(), 1); }));
    save.push_back(TimeMs([&] { service::SaveRecord(record, reason); }));
    remove.push_back(TimeMs([&] { service::RemoveRecord(record, reason); }));
    state.SetIterationTime((open.back() + close.back()) / 1000.0);
  }
  state.counters["open_ms"] = MedianMs(open);
  state.counters["close_ms"] = MedianMs(close);
  state.counters["holders_ms"] = MedianMs(holders);
  state.counters["record_save_ms"] = MedianMs(save);
  state.counters["record_remove_ms"] = MedianMs(remove);
}

BENCHMARK_CAPTURE(BM_Command, ConnectionProcedure_Cpu, SimLink::Cpu, Connection(SimLink::Cpu))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(BM_Command, ConnectionProcedure_Kia, SimLink::Kia, Connection(SimLink::Kia))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);
BENCHMARK_CAPTURE(BM_Command, WriteNetworkNumber_Cpu, SimLink::Cpu, WriteCommand(SimLink::Cpu))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_CommandParts)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK_CAPTURE(BM_Command, WriteNetworkNumber_Kia, SimLink::Kia, WriteCommand(SimLink::Kia))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace kkm::bench
