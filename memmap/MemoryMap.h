#pragma once
// The register's firmware-dependent memory addresses. LoadMemoryMap writes the
// entries of the table that serves the given firmware version character
// ('d'..'g': versions 100-103, 'h': 104, 'i': 105) and leaves every other entry
// as it was; any other character loads nothing. Nothing is cleared first.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kkm::memmap {

inline constexpr std::size_t kMemoryMapEntries = 530;
inline constexpr std::size_t kProbeAddressIndex = 0;
inline constexpr std::size_t kNetworkNumberAddressIndex = 526;

struct MemoryMap {
  std::array<std::uint16_t, kMemoryMapEntries> entries{};

  // Data-memory address read through the KIA link to see whether it answers.
  std::uint16_t ProbeAddress() const { return entries[kProbeAddressIndex]; }
  // Data-memory address of the network number byte.
  std::uint16_t NetworkNumberAddress() const { return entries[kNetworkNumberAddressIndex]; }
};

void LoadMemoryMap(MemoryMap& map, std::uint8_t versionCharacter);

}  // namespace kkm::memmap
