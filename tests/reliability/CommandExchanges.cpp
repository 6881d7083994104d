#include "tests/reliability/CommandExchanges.h"

#include "tests/support/OperationBounds.h"

namespace kkm::test {

namespace {
// The block commands' address phase without busy answers: 1650 ms for the
// echo, then 20 ms after the second address byte.
constexpr std::uint32_t kSelectBoundMs = WaitMs(1650) + WaitMs(20);
constexpr std::uint32_t kPauseBoundMs = WaitMs(service::kPauseAfterReadMs + 1);
}  // namespace

std::uint32_t PauseBoundMs(bool write, std::size_t exchange) {
  return write && (exchange == 2 || exchange == 3) ? kPauseBoundMs : 0;
}

std::vector<Exchange> CommandExchanges(bool write) {
  if (!write) return {kReadExchange};
  return {kWriteExchanges.begin(), kWriteExchanges.end()};
}

std::uint32_t ExchangeBoundMs(service::Link link, Access access, bool busyStorm) {
  if (link == service::Link::Kia) {
    switch (access) {
      case Access::ReadData:
        return kKiaReadMemoryBoundMs;
      case Access::WriteData:
        return kKiaWriteMemoryBoundMs;
      case Access::ReadNonVolatile:
        return kKiaReadEepromBoundMs;
      case Access::WriteNonVolatile:
        return kKiaWriteEepromBoundMs;
    }
  }
  const std::uint32_t select = busyStorm ? kSelectBusyBoundMs : kSelectBoundMs;
  switch (access) {
    case Access::ReadData:
      return kReadByteBoundMs;
    case Access::WriteData:
      return kWriteByteBoundMs;
    case Access::ReadNonVolatile:
      return select + test::ReadBlockTailMs(1);
    case Access::WriteNonVolatile:
      break;
  }
  return select + kWriteBlockTailMs;
}

std::uint32_t CommandBoundMs(service::Link link, bool write, std::size_t tried, bool failed,
                             std::size_t busyAt) {
  const std::vector<Exchange> exchanges = CommandExchanges(write);
  std::uint32_t bound = 0;
  for (std::size_t i = 1; i <= tried; ++i) {
    bound += ExchangeBoundMs(link, exchanges[i - 1].access, i == busyAt);
    const bool succeeded = i < tried || !failed;
    if (succeeded) bound += PauseBoundMs(write, i);
  }
  return bound;
}

}  // namespace kkm::test
