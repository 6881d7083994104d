#pragma once
// The KIA board: an 8051 running the resident monitor (Monitor.h) on the
// serial line at 9600 bit/s, 8N1. Its external data memory is the register's
// data memory (64 KB); its port pins P1.4 (clock) and P1.5 (data) drive a
// two-wire bus on which the register's non-volatile memory (8 KB) answers as
// two EEPROM devices at bus addresses 0x51 and 0x53. While P1.7 is low,
// MOVX writes go to code memory instead (the monitor's program load).
//
// The board only knows the LineDevice interface, so it runs unchanged on the
// virtual line and on a pseudo-terminal. advanceTo() executes the CPU
// instruction by instruction until its cycle count reaches the moment.

#include <cstdint>
#include <span>

#include "sim/kia/Cpu8051.h"
#include "sim/kia/TwoWireBus.h"
#include "sim/kia/TwoWireEeprom.h"
#include "sim/line/LineDevice.h"

namespace kkm::sim::kia {

inline constexpr std::size_t kDataMemorySize = 65536;
inline constexpr std::size_t kNonVolatileSize = 8192;
inline constexpr std::uint8_t kReadBusAddress = 0x51;
inline constexpr std::uint8_t kWriteBusAddress = 0x53;
inline constexpr std::uint8_t kBusClockPin = 0x10;  // P1.4
inline constexpr std::uint8_t kBusDataPin = 0x20;   // P1.5

// Virtual time of a machine-cycle count, and the whole cycles up to a time
// (one machine cycle is 10^9 / 921600 = 78125 / 72 ns).
constexpr SimTime CycleTime(std::uint64_t cycles) { return cycles * 78'125 / 72; }
constexpr std::uint64_t CyclesBefore(SimTime time) { return time * 72 / 78'125; }
static_assert(CycleTime(kMachineCyclesPerSecond) == 1'000'000'000);

class KiaBoard : public LineDevice, private CpuSurroundings {
 public:
  // Throws std::invalid_argument unless the memories are 64 KB and 8 KB.
  // Neither is owned; both must outlive the board.
  KiaBoard(std::span<std::uint8_t> dataMemory, std::span<std::uint8_t> nonVolatile);
  KiaBoard(const KiaBoard&) = delete;
  KiaBoard& operator=(const KiaBoard&) = delete;

  void connect(DeviceTransmitter& transmitter) override { transmitter_ = &transmitter; }
  void receive(std::uint8_t byte, Parity parity, SimTime at) override;
  void advanceTo(SimTime until) override;

  // Test controls.
  void holdDataLow(bool hold);
  void holdClockLow(bool hold);
  // Takes the EEPROM at bus address 0x51 or 0x53 off the bus (or back).
  void setDevicePresent(std::uint8_t busAddress, bool present);
  void setWriteCycleTime(SimTime duration);
  void setIdleGap(SimTime gap);

  Cpu8051& cpu() { return cpu_; }
  const TwoWireBus& bus() const { return bus_; }
  SimTime now() const { return CycleTime(cpu_.cycles()); }

 private:
  std::uint8_t readExternal(std::uint16_t address) override { return dataMemory_[address]; }
  void writeExternal(std::uint16_t address, std::uint8_t value) override;
  void serialTransmit(std::uint8_t byte) override;
  void portLatchChanged(unsigned port, std::uint8_t latch) override;
  void updatePort1Input();

  std::span<std::uint8_t> dataMemory_;
  TwoWireEeprom readDevice_;
  TwoWireEeprom writeDevice_;
  TwoWireBus bus_;
  Cpu8051 cpu_;
  DeviceTransmitter* transmitter_ = nullptr;
};

}  // namespace kkm::sim::kia
