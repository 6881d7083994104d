#pragma once
// Filled KIA frames, ready to send: the image of KiaFrameImages.h with the
// address (high byte first), the value where the frame has one, and the
// checksum in the last byte.

#include <cstdint>
#include <span>
#include <vector>

namespace kkm::kia {

// Sum of the bytes modulo 256, not complemented.
std::uint8_t KiaChecksum(std::span<const std::uint8_t> bytes);

// Writes `value` to the controller's external data memory at `address`.
std::vector<std::uint8_t> BuildMemoryWriteFrame(std::uint16_t address, std::uint8_t value);
// Reads the byte of external data memory at `address`.
std::vector<std::uint8_t> BuildMemoryReadFrame(std::uint16_t address);
// Reads 64 EEPROM bytes from `address` upward at bus address 0x51.
std::vector<std::uint8_t> BuildEepromReadFrame(std::uint16_t address);
// Writes `value` into the EEPROM at `address`, bus address 0x53, one byte.
std::vector<std::uint8_t> BuildEepromWriteFrame(std::uint16_t address, std::uint8_t value);

}  // namespace kkm::kia
