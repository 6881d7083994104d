#pragma once
// The four memory operations the network number commands use, through the link
// chosen at the press: the register's processor (byte commands for data
// memory, block commands for non-volatile memory) or the KIA controller
// (memory frames and EEPROM frames). Each tries its exchange once and returns
// the link operation's failure; a read stores exactly one byte, and only on
// success.

#include <cstdint>
#include <memory>

#include "serial/Failure.h"
#include "service/Session.h"

namespace kkm::service {

class RegisterMemory {
 public:
  virtual ~RegisterMemory() = default;
  virtual serial::Status readData(std::uint16_t address, std::uint8_t& value) = 0;
  virtual serial::Status writeData(std::uint16_t address, std::uint8_t value) = 0;
  virtual serial::Status readNonVolatile(std::uint16_t address, std::uint8_t& value) = 0;
  virtual serial::Status writeNonVolatile(std::uint16_t address, std::uint8_t value) = 0;
};

// The operations over `link` on the session's port, addressing the register by
// the session's line address and firmware version as they stand at each call.
std::unique_ptr<RegisterMemory> MemoryThrough(Link link, Session& session);

}  // namespace kkm::service
