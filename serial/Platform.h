#pragma once
// Opens ports by name ("COM1".."COM4") and provides the tick clock.

#include <memory>
#include <string>

#include "serial/Clock.h"
#include "serial/PortMap.h"
#include "serial/SerialPort.h"

namespace kkm::serial {

class Platform {
 public:
  virtual ~Platform() = default;
  // An exclusively opened port, or nullptr when it does not exist or is busy.
  virtual std::unique_ptr<SerialPort> openPort(const std::string& name) = 0;
  virtual Clock& clock() = 0;
  // Where the port by `name` leads (a device path), for traces; the name itself
  // where the platform does not map names.
  virtual std::string devicePath(const std::string& name) const { return name; }
  // The one resolution of a connection: where `name` leads (as devicePath
  // says it) or why it leads nowhere. openResolved then opens that device,
  // so the port opened is the device its records and its lock were keyed to,
  // whatever the name's map says by then.
  virtual ResolvedPort resolvePort(const std::string& name) const { return {devicePath(name), {}}; }
  virtual std::unique_ptr<SerialPort> openResolved(const std::string& name, const ResolvedPort& resolved) {
    static_cast<void>(resolved);  // a platform that maps no names opens by the name
    return openPort(name);
  }
};

// The platform of the machine the tool runs on (POSIX or Win32).
std::unique_ptr<Platform> MakeNativePlatform();

}  // namespace kkm::serial
