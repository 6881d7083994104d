#pragma once
// The pieces of the Win32 back end that tests check on their own: how port
// names become device names, how the line settings fill the DCB record, and
// the 1 ms tick clock.

#include <windows.h>

#include <cstdint>
#include <string>

#include "serial/Clock.h"
#include "serial/SerialPort.h"

namespace kkm::serial {

// "COM1".."COM255" (ComPortNumber) becomes "\\.\COM<n>", the form that reaches every
// port including COM10 and above; any other name (a device path such as
// "\\.\COM3" or a driver's own name) is used as given.
std::string Win32DeviceName(const std::string& portName);

// Fills the DCB fields the line settings hold, each through its named field;
// every other field keeps its value.
void FillDcb(const LineSettings& settings, DCB& dcb);

// The line settings a DCB holds (the flag word packed from the bit fields).
LineSettings SettingsOfDcb(const DCB& dcb);

// Milliseconds from the multimedia timer at 1 ms resolution (timeGetTime
// after timeBeginPeriod(1), undone on destruction). Between polls a wait
// sleeps until the next tick instead of spinning.
class MultimediaClock : public Clock {
 public:
  MultimediaClock();
  ~MultimediaClock() override;
  MultimediaClock(const MultimediaClock&) = delete;
  MultimediaClock& operator=(const MultimediaClock&) = delete;

  std::uint32_t tickMs() override;
  void letTimePass() override;

 private:
  bool periodSet_ = false;
};

}  // namespace kkm::serial
