#include "tools/kkm-sim/MemoryDump.h"

#include <unistd.h>

#include <cstdio>

#include "sim/cashreg/CashRegister.h"

namespace kkm::sim::tool {

namespace {

void AppendCell(std::string& text, std::uint16_t address, std::uint8_t value) {
  char line[16];
  std::snprintf(line, sizeof line, "0x%04X=%02X\n", address, value);
  text += line;
}

}  // namespace

std::string NumberCellsText(std::span<const std::uint8_t> dataMemory,
                            std::span<const std::uint8_t> nonVolatile) {
  std::string text;
  AppendCell(text, kWorkingNumberCell, dataMemory[kWorkingNumberCell]);
  AppendCell(text, kLineAddressCell, dataMemory[kLineAddressCell]);
  AppendCell(text, kStoredNumberCell, nonVolatile[kStoredNumberCell]);
  AppendCell(text, kStoredChecksumCell, nonVolatile[kStoredChecksumCell]);
  return text;
}

bool WriteFileWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
  // 1. The whole content into a temporary file in the same directory.
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  // 2. Renamed over the target in one step.
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kkm::sim::tool
