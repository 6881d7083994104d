#pragma once
// Opens ports by name ("COM1".."COM4") and provides the tick clock.

#include <memory>
#include <string>

#include "serial/Clock.h"
#include "serial/SerialPort.h"

namespace kkm::serial {

class Platform {
 public:
  virtual ~Platform() = default;
  // An exclusively opened port, or nullptr when it does not exist or is busy.
  virtual std::unique_ptr<SerialPort> openPort(const std::string& name) = 0;
  virtual Clock& clock() = 0;
  // The device `name` opens, for the trace's header; the name itself where
  // names are devices.
  virtual std::string devicePath(const std::string& name) { return name; }
};

// The platform of the machine the tool runs on (POSIX or Win32).
std::unique_ptr<Platform> MakeNativePlatform();

}  // namespace kkm::serial
