#pragma once
// What kkm-sim leaves behind on exit for whoever drove it: the register's
// network number cells as text, and whole memories as binary images.

#include <cstdint>
#include <span>
#include <string>

namespace kkm::sim::tool {

// Four lines "0xAAAA=HH": data memory 0x1140 and 0x020F, then non-volatile
// 0x073E and 0x0740.
std::string NumberCellsText(std::span<const std::uint8_t> dataMemory,
                            std::span<const std::uint8_t> nonVolatile);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`,
// so a reader never sees half a dump. False when the file cannot be written.
bool WriteFileWhole(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace kkm::sim::tool
