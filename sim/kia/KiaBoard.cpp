#include "sim/kia/KiaBoard.h"

#include <stdexcept>

#include "sim/kia/Monitor.h"

namespace kkm::sim::kia {

namespace {
constexpr unsigned kPort1 = 1;

std::span<std::uint8_t> CheckedSize(std::span<std::uint8_t> memory, std::size_t size, const char* what) {
  if (memory.size() != size) throw std::invalid_argument(what);
  return memory;
}
}  // namespace

KiaBoard::KiaBoard(std::span<std::uint8_t> dataMemory, std::span<std::uint8_t> nonVolatile)
    : dataMemory_(CheckedSize(dataMemory, kDataMemorySize, "KIA board: data memory must be 64 KB")),
      readDevice_(CheckedSize(nonVolatile, kNonVolatileSize, "KIA board: non-volatile memory must be 8 KB"),
                  kReadBusAddress),
      writeDevice_(nonVolatile, kWriteBusAddress),
      cpu_(*this) {
  bus_.attach(readDevice_);
  bus_.attach(writeDevice_);
  LoadMonitor(cpu_.code());
}

void KiaBoard::receive(std::uint8_t byte, Parity, SimTime at) {
  // The UART takes any ninth bit: with SM2 clear, mode 1 ignores the stop bit.
  advanceTo(at);
  cpu_.receiveSerial(byte);
}

void KiaBoard::advanceTo(SimTime until) {
  const std::uint64_t target = CyclesBefore(until);
  while (cpu_.cycles() < target) cpu_.step();
}

void KiaBoard::holdDataLow(bool hold) {
  bus_.holdDataLow(hold, now());
  updatePort1Input();
}

void KiaBoard::holdClockLow(bool hold) {
  bus_.holdClockLow(hold, now());
  updatePort1Input();
}

void KiaBoard::setDevicePresent(std::uint8_t busAddress, bool present) {
  for (TwoWireEeprom* device : {&readDevice_, &writeDevice_}) {
    if (device->busAddress() == busAddress) bus_.setPresent(*device, present, now());
  }
  updatePort1Input();
}

void KiaBoard::setWriteCycleTime(SimTime duration) {
  readDevice_.setWriteCycleTime(duration);
  writeDevice_.setWriteCycleTime(duration);
}

void KiaBoard::setIdleGap(SimTime gap) { SetMonitorIdleGap(cpu_.code(), CyclesBefore(gap)); }

void KiaBoard::writeExternal(std::uint16_t address, std::uint8_t value) {
  if ((cpu_.portLatch(kPort1) & kProgramLoadPin) == 0) {
    cpu_.code()[address] = value;
  } else {
    dataMemory_[address] = value;
  }
}

void KiaBoard::serialTransmit(std::uint8_t byte) {
  if (transmitter_ != nullptr) transmitter_->transmit(byte, Parity::None, now());
}

void KiaBoard::portLatchChanged(unsigned port, std::uint8_t latch) {
  if (port != kPort1) return;
  bus_.drive((latch & kBusClockPin) != 0, (latch & kBusDataPin) != 0, now());
  updatePort1Input();
}

void KiaBoard::updatePort1Input() {
  // The pins read the bus lines; the other P1 pins have nothing attached.
  std::uint8_t levels = 0xFF;
  if (!bus_.clock()) levels &= ~kBusClockPin;
  if (!bus_.data()) levels &= ~kBusDataPin;
  cpu_.setPortInput(kPort1, levels);
}

}  // namespace kkm::sim::kia
