#include "sim/kia/TwoWireEeprom.h"

#include <bit>
#include <stdexcept>

namespace kkm::sim::kia {

namespace {
constexpr std::uint16_t kPageMask = kEepromPageSize - 1;
constexpr std::size_t kMaxStorage = 65536;  // two address bytes
}  // namespace

TwoWireEeprom::TwoWireEeprom(std::span<std::uint8_t> storage, std::uint8_t busAddress)
    : storage_(storage),
      addressMask_(static_cast<std::uint16_t>(storage.size() - 1)),
      busAddress_(busAddress) {
  if (storage.size() < kEepromPageSize || storage.size() > kMaxStorage ||
      !std::has_single_bit(storage.size())) {
    throw std::invalid_argument("EEPROM storage must be a power of two between one page and 64 KB");
  }
}

void TwoWireEeprom::linesChanged(bool clock, bool data, SimTime at) {
  const bool wasClock = clock_;
  const bool wasData = data_;
  clock_ = clock;
  data_ = data;
  // SDA changing while SCL stays high is a start (falling) or stop (rising).
  if (clock && wasClock && data != wasData) {
    if (data) {
      onStop(at);
    } else {
      onStart();
    }
    return;
  }
  if (clock && !wasClock) onClockRise(data);
  if (!clock && wasClock) onClockFall(at);
}

void TwoWireEeprom::onStart() {
  // A (repeated) start opens a new transfer and abandons page bytes that no
  // stop condition committed.
  pullsLow_ = false;
  phase_ = Phase::Receiving;
  field_ = Field::DeviceCode;
  bitCount_ = 0;
  shift_ = 0;
  pageReceived_ = 0;
}

void TwoWireEeprom::onStop(SimTime at) {
  // Commit the page bytes received since the address, then run the write cycle.
  if (pageReceived_ != 0) {
    for (std::uint16_t offset = 0; offset < kEepromPageSize; ++offset) {
      if ((pageReceived_ >> offset) & 1u) storage_[pageBase_ + offset] = pageBuffer_[offset];
    }
    address_ = static_cast<std::uint16_t>(pageBase_ + pageOffset_);
    busyUntil_ = at + writeCycle_;
    pageReceived_ = 0;
  }
  pullsLow_ = false;
  phase_ = Phase::Idle;
}

void TwoWireEeprom::onClockRise(bool data) {
  if (phase_ == Phase::Receiving) {
    shift_ = static_cast<std::uint8_t>(shift_ << 1 | (data ? 1 : 0));
    ++bitCount_;
  } else if (phase_ == Phase::HearAck) {
    controllerAcked_ = !data;
  }
}

void TwoWireEeprom::onClockFall(SimTime at) {
  switch (phase_) {
    case Phase::Idle:
      return;
    case Phase::Receiving:
      // After the eighth bit: acknowledge during the ninth clock, or drop out.
      if (bitCount_ < 8) return;
      if (takeByte(shift_, at)) {
        pullsLow_ = true;
        phase_ = Phase::Acknowledge;
      } else {
        phase_ = Phase::Idle;
      }
      return;
    case Phase::Acknowledge:
      pullsLow_ = false;
      if (reading_) {
        loadNextByte();
      } else {
        phase_ = Phase::Receiving;
        bitCount_ = 0;
        shift_ = 0;
      }
      return;
    case Phase::Sending:
      if (++bitCount_ == 8) {
        pullsLow_ = false;  // the controller drives the ninth bit
        phase_ = Phase::HearAck;
      } else {
        pullsLow_ = (shift_ & (0x80u >> bitCount_)) == 0;
      }
      return;
    case Phase::HearAck:
      if (controllerAcked_) {
        loadNextByte();
      } else {
        phase_ = Phase::Idle;  // not acknowledged: the read ends, a stop follows
      }
      return;
  }
}

bool TwoWireEeprom::takeByte(std::uint8_t byte, SimTime at) {
  switch (field_) {
    case Field::DeviceCode:
      if ((byte >> 1) != busAddress_ || busy(at)) return false;
      reading_ = (byte & 1) != 0;
      field_ = Field::AddressHigh;
      return true;
    case Field::AddressHigh:
      address_ = static_cast<std::uint16_t>(byte << 8);
      field_ = Field::AddressLow;
      return true;
    case Field::AddressLow:
      address_ = static_cast<std::uint16_t>((address_ | byte) & addressMask_);
      pageBase_ = static_cast<std::uint16_t>(address_ & ~kPageMask);
      pageOffset_ = static_cast<std::uint16_t>(address_ & kPageMask);
      field_ = Field::Data;
      return true;
    case Field::Data:
      pageBuffer_[pageOffset_] = byte;
      pageReceived_ |= 1u << pageOffset_;
      pageOffset_ = (pageOffset_ + 1) & kPageMask;
      return true;
  }
  return false;
}

void TwoWireEeprom::loadNextByte() {
  // Put the byte at the address counter on the bus, most significant bit first.
  shift_ = storage_[address_];
  address_ = static_cast<std::uint16_t>((address_ + 1) & addressMask_);
  bitCount_ = 0;
  phase_ = Phase::Sending;
  pullsLow_ = (shift_ & 0x80u) == 0;
}

}  // namespace kkm::sim::kia
