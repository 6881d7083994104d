// Exchange overhead of every link operation: its real duration over kkm-sim on
// a pseudo-terminal with the real POSIX back end, against its floor (the same
// operation on the virtual line with a host that costs nothing, Floor.h).
// The simulated register has network number 1, so its line address is 0xFE
// and the address scan finds it with the second candidate. Writes store the
// value already there, so every run meets the same register.

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <stdexcept>

#include "bench/Overhead.h"
#include "kia/KiaUnit.h"
#include "register/AddressDiscovery.h"
#include "register/MemoryCommands.h"
#include "serial/SerialLine.h"

namespace kkm::bench {
namespace {

constexpr std::uint8_t kLineAddress = 0xFE;  // network number 1
constexpr std::uint8_t kNumberByte = 0xFE;
constexpr std::int32_t kVersion = 105;
constexpr std::uint16_t kNumberCell = 0x1140;    // data memory, firmware 1.0.5
constexpr std::uint16_t kStoredNumber = 0x073E;  // non-volatile
constexpr std::uint16_t kChecksumCell = 0x0740;  // non-volatile

using PortCall = std::function<bool(serial::PortHandle&)>;

// Opens COM1 of the platform; `call` is the timed run. Every operation leaves
// the line quiet when it returns (the KIA memory write lets its echo arrive),
// so runs follow each other directly.
OperationFactory OnCom1(PortCall call) {
  return [call](serial::Platform& platform) {
    auto port = std::make_shared<serial::PortHandle>(platform.clock());
    if (!serial::OpenComPort(platform, 1, *port)) throw std::runtime_error("COM1 does not open");
    return Operation{[port, call] { return call(*port); }};
  };
}

void BM_Exchange(benchmark::State& state, service::Link link, const OperationFactory& make) {
  MeasureAgainstFloor(state, link, make);
}

// Register processor link.
BENCHMARK_CAPTURE(BM_Exchange, ReadRegisterByte, service::Link::Processor,
                  OnCom1([](serial::PortHandle& port) {
                    std::uint8_t value = 0;
                    return reg::ReadRegisterByte(port, kLineAddress, kNumberCell, value).ok();
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
BENCHMARK_CAPTURE(BM_Exchange, WriteRegisterByte, service::Link::Processor,
                  OnCom1([](serial::PortHandle& port) {
                    return reg::WriteRegisterByte(port, kLineAddress, kNumberCell, kNumberByte).ok();
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
BENCHMARK_CAPTURE(
    BM_Exchange, ReadRegisterBlock, service::Link::Processor, OnCom1([](serial::PortHandle& port) {
      std::array<std::uint8_t, 1> buffer{};
      return reg::ReadRegisterBlock(port, kLineAddress, kChecksumCell, 1, buffer, kVersion).ok();
    }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
BENCHMARK_CAPTURE(BM_Exchange, WriteRegisterBlock, service::Link::Processor,
                  OnCom1([](serial::PortHandle& port) {
                    const std::array<std::uint8_t, 1> data{kNumberByte};
                    return reg::WriteRegisterBlock(port, kLineAddress, kStoredNumber, data, 1, kVersion).ok();
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
BENCHMARK_CAPTURE(BM_Exchange, FindRegisterAddress, service::Link::Processor,
                  OnCom1([](serial::PortHandle& port) {
                    std::uint8_t address = 0;
                    return reg::FindRegisterAddress(port, address) && address == kLineAddress;
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
BENCHMARK_CAPTURE(BM_Exchange, ReadFirmwareVersion, service::Link::Processor,
                  OnCom1([](serial::PortHandle& port) {
                    std::int32_t version = 0;
                    return reg::ReadFirmwareVersion(port, kLineAddress, version) && version == kVersion;
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);

// KIA link.
BENCHMARK_CAPTURE(BM_Exchange, KiaReadMemory, service::Link::Kia, OnCom1([](serial::PortHandle& port) {
                    std::uint8_t value = 0;
                    return kia::KiaReadMemory(port, kNumberCell, value) && value == kNumberByte;
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);
BENCHMARK_CAPTURE(BM_Exchange, KiaWriteMemory, service::Link::Kia, OnCom1([](serial::PortHandle& port) {
                    return kia::KiaWriteMemory(port, kNumberCell, kNumberByte).ok();
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);
BENCHMARK_CAPTURE(BM_Exchange, KiaReadEeprom, service::Link::Kia, OnCom1([](serial::PortHandle& port) {
                    std::uint8_t value = 0;
                    return kia::KiaReadEeprom(port, kStoredNumber, value) && value == kNumberByte;
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_Exchange, KiaWriteEeprom, service::Link::Kia, OnCom1([](serial::PortHandle& port) {
                    return kia::KiaWriteEeprom(port, kStoredNumber, kNumberByte).ok();
                  }))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace
}  // namespace kkm::bench
