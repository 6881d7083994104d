#pragma once
// A serial EEPROM on the two-wire bus, like a 24C64: it answers to one 7-bit
// bus address, takes two address bytes (the bits above its size ignored),
// writes pages of 32 bytes (the address wraps inside the page; the bytes are
// committed at the stop condition, after which the device is busy for its
// write cycle and acknowledges nothing), and reads sequentially from the
// address counter, across pages and around the end of its memory.
//
// Bits are sampled while the clock rises; the device changes the data line
// only while the clock falls (acknowledge and read data), so its own changes
// never look like a start or stop condition.

#include <array>
#include <cstdint>
#include <span>

#include "sim/kia/TwoWireBus.h"

namespace kkm::sim::kia {

inline constexpr std::size_t kEepromPageSize = 32;
inline constexpr SimTime kEepromWriteCycle = 5 * kNsPerMs;

class TwoWireEeprom : public TwoWireDevice {
 public:
  // `storage` is the device's memory (a power of two in size, not owned).
  TwoWireEeprom(std::span<std::uint8_t> storage, std::uint8_t busAddress);

  void setWriteCycleTime(SimTime duration) { writeCycle_ = duration; }
  std::uint8_t busAddress() const { return busAddress_; }
  // True while a write cycle started by a stop condition runs.
  bool busy(SimTime at) const { return at < busyUntil_; }

  void linesChanged(bool clock, bool data, SimTime at) override;
  bool pullsDataLow() const override { return pullsLow_; }

 private:
  // What the device does on the next clock pulses.
  enum class Phase : std::uint8_t {
    Idle,         // waits for a start condition
    Receiving,    // shifts in a byte from the controller
    Acknowledge,  // pulls SDA for the ninth clock after a byte it took
    Sending,      // shifts out a byte to the controller
    HearAck,      // the controller acknowledges (SDA low) or not the byte sent
  };
  // What the byte being received means.
  enum class Field : std::uint8_t { DeviceCode, AddressHigh, AddressLow, Data };

  void onStart();
  void onStop(SimTime at);
  void onClockRise(bool data);
  void onClockFall(SimTime at);
  bool takeByte(std::uint8_t byte, SimTime at);  // true: acknowledge it
  void loadNextByte();

  std::span<std::uint8_t> storage_;
  std::uint16_t addressMask_;
  std::uint8_t busAddress_;
  SimTime writeCycle_ = kEepromWriteCycle;
  SimTime busyUntil_ = 0;

  bool clock_ = true;
  bool data_ = true;
  bool pullsLow_ = false;
  Phase phase_ = Phase::Idle;
  Field field_ = Field::DeviceCode;
  bool reading_ = false;  // the device code asked to read
  unsigned bitCount_ = 0;
  std::uint8_t shift_ = 0;
  bool controllerAcked_ = false;
  std::uint16_t address_ = 0;  // the address counter

  // The page being written: bytes and which of them were received.
  std::array<std::uint8_t, kEepromPageSize> pageBuffer_{};
  std::uint32_t pageReceived_ = 0;
  std::uint16_t pageBase_ = 0;
  std::uint16_t pageOffset_ = 0;
};

}  // namespace kkm::sim::kia
