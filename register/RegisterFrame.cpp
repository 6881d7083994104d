#include "register/RegisterFrame.h"

#include <algorithm>

namespace kkm::reg {

std::uint8_t ReplySum(std::uint8_t length, std::span<const std::uint8_t> data, std::uint8_t checksum) {
  std::uint8_t sum = static_cast<std::uint8_t>(length + checksum);
  for (std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
  return sum;
}

bool ReplyChecksumHolds(std::uint8_t length, std::span<const std::uint8_t> data, std::uint8_t checksum) {
  return ReplySum(length, data, checksum) == kFrameSum;
}

std::size_t BuildMemoryFrame(std::span<std::uint8_t> frame, std::uint8_t command, std::uint16_t address,
                             std::uint8_t count, std::span<const std::uint8_t> data) {
  const std::size_t size = data.size() + kMemoryFrameOverhead;
  frame[kLengthOffset] = static_cast<std::uint8_t>(size - 2);
  frame[kCommandOffset] = command;
  frame[kAddressLowOffset] = static_cast<std::uint8_t>(address & 0xFF);
  frame[kAddressHighOffset] = static_cast<std::uint8_t>(address >> 8);
  frame[kCountOffset] = count;
  std::copy(data.begin(), data.end(), frame.begin() + kDataOffset);
  frame[size - 1] = FrameChecksum(frame.first(size - 1));
  return size;
}

}  // namespace kkm::reg
