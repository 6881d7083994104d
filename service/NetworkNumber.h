#pragma once
// Reading and writing the network number.
//
// The register keeps the number as its network number byte: 0xFF minus the
// number's packed BCD value (45 is 0xBA). Read: one data-memory read at
// NetworkNumberAddress. Write: six exchanges in this order, each tried once —
//   1. b at NetworkNumberAddress (data memory)
//   2. c_old := non-volatile 0x0740 (checksum), pause 200 ms
//   3. s_old := non-volatile 0x073E (number), pause 200 ms
//   4. b at non-volatile 0x073E
//   5. c_old - s_old + b at non-volatile 0x0740
//   6. b at 0x020F (data memory)
// then the register is addressed by b. The write stops at the first exchange
// that fails; after exchanges 2-5 the register's non-volatile memory may be
// half-written.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "service/Session.h"

namespace kkm::service {

inline constexpr std::uint16_t kEepromNumberAddress = 0x073E;
inline constexpr std::uint16_t kEepromChecksumAddress = 0x0740;
inline constexpr std::uint16_t kNumberCopyAddress = 0x020F;
inline constexpr std::uint32_t kPauseAfterReadMs = 200;
inline constexpr int kWriteExchanges = 6;

// The network number byte of a number 1..99.
std::uint8_t NetworkNumberByte(int number);
// The network number shown for a network number byte: two uppercase hex digits
// of its complement ("05" for 0xFA, "FF" for 0x00).
std::string NetworkNumberText(std::uint8_t networkNumberByte);
// The number in `text` when it is 1..99 written in one to three decimal digits
// (leading zeros allowed).
std::optional<int> ParseNetworkNumber(std::string_view text);

struct ReadResult {
  bool ok = false;
  std::uint8_t networkNumberByte = 0;  // valid when ok
  std::string reason;                  // why it failed, when more is known
};

struct WriteResult {
  int failedExchange = 0;  // 0 when written, else the exchange (1..6) that failed
  std::string reason;
  bool written() const { return failedExchange == 0; }
  // Exchanges 2..5: the non-volatile memory may hold part of the write.
  bool partlyWritten() const { return failedExchange >= 2 && failedExchange <= 5; }
};

ReadResult ReadNetworkNumber(Session& session, Link link);
// `number` is 1..99; on success the session addresses the register by its byte.
WriteResult WriteNetworkNumber(Session& session, Link link, int number);

}  // namespace kkm::service
