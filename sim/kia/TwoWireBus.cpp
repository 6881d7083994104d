#include "sim/kia/TwoWireBus.h"

namespace kkm::sim::kia {

namespace {
// A device answers a line change with at most one change of its own, so the
// lines settle after a few passes; the bound only guards against a device
// that toggles on every notification.
constexpr int kMaxSettlePasses = 8;
}  // namespace

void TwoWireBus::attach(TwoWireDevice& device) { devices_.push_back({&device, true}); }

void TwoWireBus::setPresent(const TwoWireDevice& device, bool present, SimTime at) {
  for (Attached& attached : devices_) {
    if (attached.device == &device) attached.present = present;
  }
  settle(at);
}

void TwoWireBus::drive(bool clockReleased, bool dataReleased, SimTime at) {
  controllerClock_ = clockReleased;
  controllerData_ = dataReleased;
  settle(at);
}

void TwoWireBus::holdClockLow(bool hold, SimTime at) {
  clockHeld_ = hold;
  settle(at);
}

void TwoWireBus::holdDataLow(bool hold, SimTime at) {
  dataHeld_ = hold;
  settle(at);
}

void TwoWireBus::settle(SimTime at) {
  for (int pass = 0; pass < kMaxSettlePasses; ++pass) {
    // 1. Wired AND of everything on each line.
    bool data = controllerData_ && !dataHeld_;
    for (const Attached& attached : devices_) {
      if (attached.present && attached.device->pullsDataLow()) data = false;
    }
    const bool clock = controllerClock_ && !clockHeld_;
    if (clock == clock_ && data == data_) return;
    // 2. Tell every device; one of them may answer by pulling SDA.
    clock_ = clock;
    data_ = data;
    for (const Attached& attached : devices_) {
      if (attached.present) attached.device->linesChanged(clock_, data_, at);
    }
  }
}

}  // namespace kkm::sim::kia
