#pragma once
// An open-drain two-wire bus (clock SCL, data SDA): each line is high unless
// something pulls it low: the controller's pin latch, a device, or a test's
// hold. Every change of the lines is passed to the attached devices with its
// time, and a device's answer (pulling SDA) is folded back in until the lines
// are settled.

#include <vector>

#include "sim/line/LineDevice.h"

namespace kkm::sim::kia {

class TwoWireDevice {
 public:
  virtual ~TwoWireDevice() = default;
  // The lines now read `clock` and `data` (true = high), since `at`.
  virtual void linesChanged(bool clock, bool data, SimTime at) = 0;
  // True while the device pulls the data line low.
  virtual bool pullsDataLow() const = 0;
};

class TwoWireBus {
 public:
  // Devices are not owned and must outlive the bus. An absent device hears
  // nothing and pulls nothing.
  void attach(TwoWireDevice& device);
  void setPresent(const TwoWireDevice& device, bool present, SimTime at);

  // The controller releases (true) or pulls (false) its two lines.
  void drive(bool clockReleased, bool dataReleased, SimTime at);
  // Test faults: something outside holds a line low.
  void holdClockLow(bool hold, SimTime at);
  void holdDataLow(bool hold, SimTime at);

  bool clock() const { return clock_; }
  bool data() const { return data_; }

 private:
  struct Attached {
    TwoWireDevice* device;
    bool present;
  };
  void settle(SimTime at);

  std::vector<Attached> devices_;
  bool controllerClock_ = true;
  bool controllerData_ = true;
  bool clockHeld_ = false;
  bool dataHeld_ = false;
  bool clock_ = true;
  bool data_ = true;
};

}  // namespace kkm::sim::kia
