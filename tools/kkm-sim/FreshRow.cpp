#include "tools/kkm-sim/FreshRow.h"

#include <algorithm>

namespace kkm::sim::tool {

void RowSlot::connect(DeviceTransmitter& transmitter) {
  line_ = &transmitter;
  device_.connect(*this);
}

void RowSlot::receive(std::uint8_t byte, Parity parity, SimTime at) {
  row_.advanceTo(at);
  if (present_) device_.receive(byte, parity, at);
}

void RowSlot::advanceTo(SimTime until) {
  row_.advanceTo(until);
  device_.advanceTo(until);
}

SimTime RowSlot::nextActionAt() const { return std::min(device_.nextActionAt(), row_.nextEventAt()); }

void RowSlot::transmit(std::uint8_t byte, Parity parity, SimTime notBefore) {
  if (present_) line_->transmit(byte, parity, notBefore);
}

SimTime RowSlot::transmitterFreeAt() const { return line_->transmitterFreeAt(); }

RowSlot& FreshRow::add(LineDevice& device, CashRegister& reg) {
  slots_.push_back(std::make_unique<RowSlot>(*this, device, reg));
  return *slots_.back();
}

SimTime FreshRow::nextEventAt() const {
  return events_.empty() ? LineDevice::kIdleForever : events_.front().at;
}

void FreshRow::schedule(SimTime at, std::size_t slot, bool comes) {
  const Event event{at, slot, comes};
  events_.insert(std::upper_bound(events_.begin(), events_.end(), event,
                                  [](const Event& a, const Event& b) { return a.at < b.at; }),
                 event);
}

void FreshRow::start(SimTime now) {
  started_ = true;
  if (slots_.empty()) return;
  schedule(now, 0, true);
  if (timing_.twoAtOnceFor != 0 && slots_.size() > 1) {
    schedule(now, 1, true);
    schedule(now + timing_.twoAtOnceFor, 1, false);
  }
}

void FreshRow::advanceTo(SimTime now) {
  if (!started_) start(now);
  while (!events_.empty() && events_.front().at <= now) {
    const Event event = events_.front();
    events_.erase(events_.begin());
    RowSlot& slot = *slots_[event.slot];
    slot.present_ = event.comes;
    if (event.comes) slot.reg_.powerUp();
  }
  // The register that came last, once renumbered, makes way for the next.
  if (slots_.empty()) return;
  const RowSlot& current = *slots_[current_];
  if (currentRenumbered_ || !current.present_ || current.reg_.lineAddress() == current.factoryByte_) return;
  currentRenumbered_ = true;
  if (timing_.pointToPoint) schedule(now + timing_.delay, current_, false);
  if (nextToCome_ >= slots_.size()) return;
  schedule(now + timing_.delay + (timing_.pointToPoint ? timing_.delay / 2 : 0), nextToCome_, true);
  current_ = nextToCome_++;
  currentRenumbered_ = false;
}

}  // namespace kkm::sim::tool
