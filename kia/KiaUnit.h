#pragma once
// Exchanges with the KIA controller. Each operation purges the port (0x0C),
// writes its whole frame in one write, then waits for and reads the replies in
// order; the first must be the monitor's acknowledgement 0x01, the EEPROM
// routines then send the data marker 0x11 (or a bus error code 0x01..0x03).
// Success only when the whole exchange succeeded; an out value is written
// only then. A failure is the line's (no or wrong acknowledgement, a short
// reply) or the board's (KiaFailure::BusError in place of the data marker). Nothing is retried and the line
// settings are left as they are. Replies that are not read (the echo of a memory write, the final byte of an
// EEPROM write) stay queued until the next frame's purge.

#include <cstdint>

#include "serial/Failure.h"
#include "serial/PortHandle.h"

namespace kkm::kia {

// Stores `value` at `address` of external data memory: success on the
// acknowledgement (within 50 ms), whether or not the echo comes. The echo is
// given up to 20 ms to arrive, and left unread for the next purge.
serial::Status KiaWriteMemory(serial::PortHandle& port, std::uint16_t address, std::uint8_t value);

// Reads the byte of external data memory at `address`: acknowledgement within
// 50 ms, then the byte within 500 ms.
serial::Status KiaReadMemory(serial::PortHandle& port, std::uint16_t address, std::uint8_t& value);

// Reads the EEPROM byte at `address` (bus address 0x51): acknowledgement
// within 400 ms, marker within 500 ms, then 64 bytes from the address within
// 1500 ms, of which the first is the result.
serial::Status KiaReadEeprom(serial::PortHandle& port, std::uint16_t address, std::uint8_t& value);

// Writes `value` into the EEPROM at `address` (bus address 0x53):
// acknowledgement within 300 ms, marker within 500 ms, then the routine's
// final byte within 500 ms (left queued).
serial::Status KiaWriteEeprom(serial::PortHandle& port, std::uint16_t address, std::uint8_t value);

}  // namespace kkm::kia
