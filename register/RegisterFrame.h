#pragma once
// The register frame of the register processor's multi-drop protocol:
//   length L, command, fields (memory addresses low byte first), checksum,
// where L counts the command and the fields and the checksum is 0xFF minus the
// sum of every byte before it, so that the whole frame sums to 0xFF. Replies
// have the same shape without a command: L, L data bytes, checksum.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kkm::reg {

inline constexpr std::uint8_t kCmdWriteByte = 0x05;
inline constexpr std::uint8_t kCmdReadByte = 0x06;
inline constexpr std::uint8_t kCmdVersionQuery = 0x14;
inline constexpr std::uint8_t kCmdReadBlock = 0x16;
inline constexpr std::uint8_t kCmdWriteBlock = 0x17;

// What every frame and every good reply sums to, modulo 256.
inline constexpr std::uint8_t kFrameSum = 0xFF;

// 0xFF minus the sum of `bytes`, modulo 256.
constexpr std::uint8_t FrameChecksum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  return static_cast<std::uint8_t>(kFrameSum - sum);
}

// L + the data bytes + C modulo 256; a good reply sums to kFrameSum.
std::uint8_t ReplySum(std::uint8_t length, std::span<const std::uint8_t> data, std::uint8_t checksum);
// True when L + the data bytes + C is 0xFF modulo 256.
bool ReplyChecksumHolds(std::uint8_t length, std::span<const std::uint8_t> data, std::uint8_t checksum);

// The memory command frames: L, command, address low, address high, count,
// the bytes written (none for reads), checksum.
inline constexpr std::size_t kLengthOffset = 0;
inline constexpr std::size_t kCommandOffset = 1;
inline constexpr std::size_t kAddressLowOffset = 2;
inline constexpr std::size_t kAddressHighOffset = 3;
inline constexpr std::size_t kCountOffset = 4;
inline constexpr std::size_t kDataOffset = 5;
inline constexpr std::size_t kMemoryFrameOverhead = 6;  // every byte but the data
// The length byte caps the data of one frame: 4 + count <= 0xFF.
inline constexpr std::size_t kMaxFrameData = 0xFF - 4;
inline constexpr std::size_t kMaxMemoryFrameSize = kMaxFrameData + kMemoryFrameOverhead;

// Fills `frame` with a memory command frame and returns its size
// (data.size() + 6). `frame` must hold that many bytes and data.size() must
// not exceed kMaxFrameData.
std::size_t BuildMemoryFrame(std::span<std::uint8_t> frame, std::uint8_t command, std::uint16_t address,
                             std::uint8_t count, std::span<const std::uint8_t> data);

// The version query: command 0x14 without fields.
inline constexpr std::array<std::uint8_t, 3> kVersionQueryFrame{0x01, kCmdVersionQuery, 0xEA};
static_assert(FrameChecksum(std::span(kVersionQueryFrame).first(2)) == kVersionQueryFrame[2]);

}  // namespace kkm::reg
