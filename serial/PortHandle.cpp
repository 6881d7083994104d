#include "serial/PortHandle.h"

namespace kkm::serial {

bool PortHandle::setBufferSizes(std::uint32_t input, std::uint32_t output) {
  return port_ && port_->setBufferSizes(input, output);
}
bool PortHandle::getSettings(LineSettings& settings) { return port_ && port_->getSettings(settings); }
bool PortHandle::setSettings(const LineSettings& settings) { return port_ && port_->setSettings(settings); }
bool PortHandle::getTimeouts(Timeouts& timeouts) { return port_ && port_->getTimeouts(timeouts); }
bool PortHandle::setTimeouts(const Timeouts& timeouts) { return port_ && port_->setTimeouts(timeouts); }
bool PortHandle::purge(std::uint32_t mask) { return port_ && port_->purge(mask); }
bool PortHandle::clearDtr() { return port_ && port_->clearDtr(); }

std::uint32_t PortHandle::queuedInput() {
  if (!port_) return 0;
  const std::int32_t count = port_->queuedInput();
  return count > 0 ? static_cast<std::uint32_t>(count) : 0;
}

std::int32_t PortHandle::read(std::uint8_t* buffer, std::uint32_t count) {
  return port_ ? port_->read(buffer, count) : -1;
}

std::int32_t PortHandle::write(const std::uint8_t* data, std::uint32_t count) {
  return port_ ? port_->write(data, count) : -1;
}

bool PortHandle::readByte(std::uint8_t& value) { return read(&value, 1) == 1; }
bool PortHandle::writeByte(std::uint8_t value) { return write(&value, 1) == 1; }

bool PortHandle::close() {
  if (!port_) return false;
  const bool closed = port_->close();
  port_.reset();
  return closed;
}

}  // namespace kkm::serial
