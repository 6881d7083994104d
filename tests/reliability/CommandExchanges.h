#pragma once
// What the read and write commands do on the line, exchange by exchange, and
// how long each may take: the sum of the waits it is allowed (in ms of the
// tick clock), built from the link operations' bounds.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "tests/support/Facts.h"

namespace kkm::test {

enum class Access { ReadData, WriteData, ReadNonVolatile, WriteNonVolatile };

struct Exchange {
  Access access;
  std::uint16_t address;
};

using test::kWorkingNumberAddress;

inline constexpr Exchange kReadExchange{Access::ReadData, kWorkingNumberAddress};
inline constexpr std::array<Exchange, 6> kWriteExchanges{{
    {Access::WriteData, kWorkingNumberAddress},
    {Access::ReadNonVolatile, service::kEepromChecksumAddress},
    {Access::ReadNonVolatile, service::kEepromNumberAddress},
    {Access::WriteNonVolatile, service::kEepromNumberAddress},
    {Access::WriteNonVolatile, service::kEepromChecksumAddress},
    {Access::WriteData, service::kNumberCopyAddress},
}};

inline bool Reads(Access a) { return a == Access::ReadData || a == Access::ReadNonVolatile; }
inline bool NonVolatile(Access a) { return a == Access::ReadNonVolatile || a == Access::WriteNonVolatile; }

// The exchanges of the read or of the write.
std::vector<Exchange> CommandExchanges(bool write);

// The longest one exchange may take; `busyStorm`: the register answers busy
// (0x65) to the address byte until the block commands' bound on that.
std::uint32_t ExchangeBoundMs(service::Link link, Access access, bool busyStorm = false);

// The pause the write makes after exchange `exchange` (1-based) when it
// succeeded: after each of its two non-volatile reads; none in the read.
std::uint32_t PauseBoundMs(bool write, std::size_t exchange);

// The longest a command may take when it tries exchanges 1..`tried` and the
// last of them fails (`failed`) or not: their waits, the pauses after the
// write's reads that succeeded, and busy answers at exchange `busyAt` (0: none).
std::uint32_t CommandBoundMs(service::Link link, bool write, std::size_t tried, bool failed,
                             std::size_t busyAt = 0);

}  // namespace kkm::test
