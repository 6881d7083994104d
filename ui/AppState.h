#pragma once
// The state the application shares between its windows for the whole run: the
// one serial port, the register's line address, its firmware version, whether
// the last connection attempt succeeded, and the firmware's memory map. The
// application owns one instance; a test makes its own.

#include <cstdint>

#include "memmap/MemoryMap.h"
#include "serial/Platform.h"
#include "serial/PortHandle.h"

namespace kkm::ui {

struct AppState {
  explicit AppState(serial::Platform& p) : platform(p), port(p.clock()) {}

  serial::Platform& platform;
  serial::PortHandle port;
  std::uint8_t registerAddress = 0xFF;
  std::int32_t firmwareVersion = 0;
  bool interfaceReady = false;
  memmap::MemoryMap memoryMap;
};

}  // namespace kkm::ui
