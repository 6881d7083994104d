// Exchange overhead of the operator's two long procedures, the connection
// and the write of the network number, over kkm-sim on a pseudo-terminal with
// the real POSIX back end, against their floors (Floor.h). The write stores
// the number 1 (the number the simulated register already has); the register
// is connected once, untimed, before the write's runs. The write record and
// the history go to a state folder of the program's own (tests/support/StateHome.h).

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>

#include "bench/Overhead.h"
#include "service/Connection.h"
#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "tests/support/StateHome.h"

namespace kkm::bench {
namespace {

constexpr std::uint8_t kComPort = 1;

// Made before any benchmark runs: no run touches the operator's own records.
[[maybe_unused]] const std::string& kStateHome = test::StateHome();

OperationFactory Connection(service::Link link) {
  return [link](serial::Platform& platform) {
    auto session = std::make_shared<service::Session>(platform, "kkm-netnum");
    return Operation{[session, link] { return service::Connect(*session, kComPort, link).connected(); }};
  };
}

OperationFactory WriteCommand(service::Link link) {
  return [link](serial::Platform& platform) {
    auto session = std::make_shared<service::Session>(platform, "kkm-netnum");
    if (!service::Connect(*session, kComPort, link).connected())
      throw std::runtime_error("the register does not connect");
    return Operation{[session, link] { return service::WriteNetworkNumber(*session, link, 1).written(); }};
  };
}

void BM_Command(benchmark::State& state, service::Link link, const OperationFactory& make) {
  MeasureAgainstFloor(state, link, make);
}

BENCHMARK_CAPTURE(BM_Command, ConnectionProcedure_Cpu, service::Link::Processor,
                  Connection(service::Link::Processor))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(BM_Command, ConnectionProcedure_Kia, service::Link::Kia, Connection(service::Link::Kia))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);
BENCHMARK_CAPTURE(BM_Command, WriteNetworkNumber_Cpu, service::Link::Processor,
                  WriteCommand(service::Link::Processor))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK_CAPTURE(BM_Command, WriteNetworkNumber_Kia, service::Link::Kia, WriteCommand(service::Link::Kia))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace kkm::bench
