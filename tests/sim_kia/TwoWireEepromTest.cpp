// The two-wire EEPROM alone, driven through the bus by a bit-banging master
// in virtual time.

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <vector>

#include "sim/kia/TwoWireEeprom.h"

namespace kkm::sim::kia {
namespace {

constexpr SimTime kHalfBit = 5 * kNsPerUs;

class EepromTest : public ::testing::Test {
 protected:
  EepromTest() {
    std::iota(storage.begin(), storage.end(), std::uint8_t{0x80});
    bus.attach(device51);
    bus.attach(device53);
  }

  void set(bool clock, bool data) {
    now += kHalfBit;
    bus.drive(clock, data, now);
  }
  void start() {
    set(true, true);
    set(true, false);
    set(false, false);
  }
  void stop() {
    set(false, false);
    set(true, false);
    set(true, true);
  }
  // Eight bits out, then the ninth clock with SDA released: true when acknowledged.
  bool writeByte(std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool value = (byte >> bit) & 1;
      set(false, value);
      set(true, value);
      set(false, value);
    }
    set(false, true);
    set(true, true);
    const bool acked = !bus.data();
    set(false, true);
    return acked;
  }
  std::uint8_t readByte(bool acknowledge) {
    std::uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      set(false, true);
      set(true, true);
      byte = static_cast<std::uint8_t>(byte << 1 | (bus.data() ? 1 : 0));
    }
    set(false, !acknowledge);
    set(true, !acknowledge);
    set(false, !acknowledge);
    return byte;
  }
  // Device code (write), two address bytes; true when all were acknowledged.
  bool address(std::uint8_t busAddress, std::uint16_t memoryAddress) {
    start();
    return writeByte(static_cast<std::uint8_t>(busAddress << 1)) &&
           writeByte(static_cast<std::uint8_t>(memoryAddress >> 8)) &&
           writeByte(static_cast<std::uint8_t>(memoryAddress));
  }
  std::vector<std::uint8_t> randomRead(std::uint16_t memoryAddress, std::size_t count) {
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(address(0x51, memoryAddress));
    start();
    EXPECT_TRUE(writeByte(0xA3));
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(readByte(i + 1 < count));
    stop();
    return bytes;
  }

  std::array<std::uint8_t, 8192> storage{};
  TwoWireEeprom device51{storage, 0x51};
  TwoWireEeprom device53{storage, 0x53};
  TwoWireBus bus;
  SimTime now = 0;
};

TEST_F(EepromTest, PageWriteWrapsInsideThePageAndCommitsAtTheStop) {
  const auto before = storage;
  ASSERT_TRUE(address(0x53, 0x073E));
  for (std::uint8_t value : {0x11, 0x22, 0x33, 0x44}) EXPECT_TRUE(writeByte(value));
  EXPECT_EQ(storage, before) << "nothing is written before the stop condition";
  stop();
  auto expected = before;
  expected[0x073E] = 0x11;
  expected[0x073F] = 0x22;
  expected[0x0720] = 0x33;  // wrapped to the start of the 32-byte page
  expected[0x0721] = 0x44;
  EXPECT_EQ(storage, expected);
}

TEST_F(EepromTest, RepeatedStartAbandonsUncommittedBytes) {
  const auto before = storage;
  ASSERT_TRUE(address(0x53, 0x0100));
  EXPECT_TRUE(writeByte(0x55));
  start();
  EXPECT_TRUE(writeByte(0xA7));
  readByte(false);
  stop();
  EXPECT_EQ(storage, before);
}

TEST_F(EepromTest, DeviceIsBusyForItsWriteCycleAfterAWrite) {
  ASSERT_TRUE(address(0x53, 0x0010));
  EXPECT_TRUE(writeByte(0x5A));
  stop();
  const SimTime stopAt = now;
  // Not acknowledged during the write cycle...
  start();
  EXPECT_FALSE(writeByte(0xA6));
  stop();
  EXPECT_TRUE(device53.busy(now));
  // ...and acknowledged once it has passed.
  now = stopAt + kEepromWriteCycle;
  start();
  EXPECT_TRUE(writeByte(0xA6));
  stop();
  // An address phase without data starts no write cycle.
  start();
  EXPECT_TRUE(writeByte(0xA6));
}

TEST_F(EepromTest, SequentialReadCrossesPagesAndWrapsAtTheEndOfMemory) {
  EXPECT_EQ(randomRead(0x003E, 4),
            (std::vector<std::uint8_t>{storage[0x3E], storage[0x3F], storage[0x40], storage[0x41]}));
  EXPECT_EQ(randomRead(0x1FFE, 4),
            (std::vector<std::uint8_t>{storage[0x1FFE], storage[0x1FFF], storage[0x0000], storage[0x0001]}));
  // Address bits above 8 KB are ignored.
  EXPECT_EQ(randomRead(0xE73E, 1), (std::vector<std::uint8_t>{storage[0x073E]}));
}

TEST_F(EepromTest, OnlyTheAddressedDeviceAnswersAndBothShareTheStorage) {
  start();
  EXPECT_FALSE(writeByte(0xA0));  // 0x50: nobody
  stop();
  ASSERT_TRUE(address(0x53, 0x0200));
  EXPECT_TRUE(writeByte(0xC3));
  stop();
  EXPECT_EQ(randomRead(0x0200, 1), (std::vector<std::uint8_t>{0xC3}));  // through 0x51
  // After the read the address counter has moved on: a current-address read.
  start();
  EXPECT_TRUE(writeByte(0xA3));
  EXPECT_EQ(readByte(false), storage[0x0201]);
  stop();
  // A device taken off the bus does not answer.
  bus.setPresent(device51, false, now);
  start();
  EXPECT_FALSE(writeByte(0xA2));
  stop();
}

}  // namespace
}  // namespace kkm::sim::kia
