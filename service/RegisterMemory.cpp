#include "service/RegisterMemory.h"

#include <array>

#include "kia/KiaUnit.h"
#include "register/MemoryCommands.h"

namespace kkm::service {

namespace {

class ProcessorMemory : public RegisterMemory {
 public:
  explicit ProcessorMemory(Session& state) : state_(state) {}

  serial::Status readData(std::uint16_t address, std::uint8_t& value) override {
    std::uint8_t received = 0;
    serial::Status read = reg::ReadRegisterByte(state_.port, state_.registerAddress, address, received);
    if (read) value = received;
    return read;
  }
  serial::Status writeData(std::uint16_t address, std::uint8_t value) override {
    return reg::WriteRegisterByte(state_.port, state_.registerAddress, address, value);
  }
  serial::Status readNonVolatile(std::uint16_t address, std::uint8_t& value) override {
    std::array<std::uint8_t, 1> buffer{};
    serial::Status read = reg::ReadRegisterBlock(state_.port, state_.registerAddress, address, 1, buffer,
                                                 state_.firmwareVersion);
    if (read) value = buffer[0];
    return read;
  }
  serial::Status writeNonVolatile(std::uint16_t address, std::uint8_t value) override {
    const std::array<std::uint8_t, 1> data{value};
    return reg::WriteRegisterBlock(state_.port, state_.registerAddress, address, data, 1,
                                   state_.firmwareVersion);
  }

 private:
  Session& state_;
};

class KiaMemory : public RegisterMemory {
 public:
  explicit KiaMemory(Session& state) : state_(state) {}

  serial::Status readData(std::uint16_t address, std::uint8_t& value) override {
    return kia::KiaReadMemory(state_.port, address, value);
  }
  serial::Status writeData(std::uint16_t address, std::uint8_t value) override {
    return kia::KiaWriteMemory(state_.port, address, value);
  }
  serial::Status readNonVolatile(std::uint16_t address, std::uint8_t& value) override {
    return kia::KiaReadEeprom(state_.port, address, value);
  }
  serial::Status writeNonVolatile(std::uint16_t address, std::uint8_t value) override {
    return kia::KiaWriteEeprom(state_.port, address, value);
  }

 private:
  Session& state_;
};

}  // namespace

std::unique_ptr<RegisterMemory> MemoryThrough(Link link, Session& state) {
  if (link == Link::Processor) return std::make_unique<ProcessorMemory>(state);
  return std::make_unique<KiaMemory>(state);
}

}  // namespace kkm::service
