#pragma once
// A Platform for tests: each COM name maps to a virtual line; the clock is the
// clock of the first line added (all lines of one platform share virtual time
// only through that clock, so tests use one line per platform as a rule).

#include <map>
#include <memory>
#include <string>

#include "serial/Platform.h"
#include "sim/line/VirtualLine.h"

namespace kkm::sim {

class VirtualPlatform : public serial::Platform {
 public:
  explicit VirtualPlatform(VirtualLine& clockLine) : clockLine_(clockLine) {}
  // Makes `line` answer to `name` ("COM1".."COM4").
  void addPort(const std::string& name, VirtualLine& line) { lines_[name] = &line; }
  void removePort(const std::string& name) { lines_.erase(name); }

  std::unique_ptr<serial::SerialPort> openPort(const std::string& name) override;
  serial::Clock& clock() override { return clockLine_.clock(); }
  int openCount() const { return openCount_; }

 private:
  VirtualLine& clockLine_;
  std::map<std::string, VirtualLine*> lines_;
  int openCount_ = 0;
};

}  // namespace kkm::sim
