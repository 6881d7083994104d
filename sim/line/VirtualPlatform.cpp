#include "sim/line/VirtualPlatform.h"

namespace kkm::sim {

std::unique_ptr<serial::SerialPort> VirtualPlatform::openPort(const std::string& name) {
  const auto it = lines_.find(name);
  if (it == lines_.end()) return nullptr;
  auto port = it->second->openPort();
  if (port) ++openCount_;
  return port;
}

}  // namespace kkm::sim
