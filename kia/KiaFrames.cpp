#include "kia/KiaFrames.h"

#include <array>
#include <cstddef>
#include <numeric>
#include <optional>

#include "kia/KiaFrameImages.h"

namespace kkm::kia {
namespace {

// The bus device codes stand where the routines use them on every send.
constexpr std::uint8_t kDeviceCode51Write = 0xA2;
constexpr std::uint8_t kDeviceCode51Read = 0xA3;
constexpr std::uint8_t kDeviceCode53Write = 0xA6;
static_assert(kEepromReadImage[kEepromReadDeviceWriteOffset] == kDeviceCode51Write);
static_assert(kEepromReadImage[kEepromReadDeviceReadOffset] == kDeviceCode51Read);
static_assert(kEepromWriteImage[kEepromWriteDeviceOffset] == kDeviceCode53Write);

// Where a frame takes its variable bytes; `value` is unused by the read frames.
struct Slots {
  std::size_t high;
  std::size_t low;
  std::optional<std::size_t> value;
};

template <std::size_t N>
std::vector<std::uint8_t> Fill(const std::array<std::uint8_t, N>& image, Slots slots, std::uint16_t address,
                               std::uint8_t value = 0) {
  // 1. Copy the image and put the address in, high byte first.
  std::vector<std::uint8_t> frame(image.begin(), image.end());
  frame[slots.high] = static_cast<std::uint8_t>(address >> 8);
  frame[slots.low] = static_cast<std::uint8_t>(address & 0xFF);
  // 2. The value, where the routine takes one.
  if (slots.value) frame[*slots.value] = value;
  // 3. The checksum over everything before it.
  frame.back() = KiaChecksum(std::span(frame).first(N - 1));
  return frame;
}

}  // namespace

std::uint8_t KiaChecksum(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint8_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

std::vector<std::uint8_t> BuildMemoryWriteFrame(std::uint16_t address, std::uint8_t value) {
  return Fill(kMemoryWriteImage, {kMemoryWriteHighOffset, kMemoryWriteLowOffset, kMemoryWriteValueOffset},
              address, value);
}

std::vector<std::uint8_t> BuildMemoryReadFrame(std::uint16_t address) {
  return Fill(kMemoryReadImage, {kMemoryReadHighOffset, kMemoryReadLowOffset, std::nullopt}, address);
}

std::vector<std::uint8_t> BuildEepromReadFrame(std::uint16_t address) {
  return Fill(kEepromReadImage, {kEepromReadHighOffset, kEepromReadLowOffset, std::nullopt}, address);
}

std::vector<std::uint8_t> BuildEepromWriteFrame(std::uint16_t address, std::uint8_t value) {
  return Fill(kEepromWriteImage, {kEepromWriteHighOffset, kEepromWriteLowOffset, kEepromWriteValueOffset},
              address, value);
}

}  // namespace kkm::kia
