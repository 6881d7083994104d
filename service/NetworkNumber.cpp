#include "service/NetworkNumber.h"

#include <cstdio>

#include "serial/Failure.h"
#include "serial/SerialLine.h"
#include "service/RegisterMemory.h"

namespace kkm::service {

namespace {
constexpr std::size_t kMaxNumberLength = 3;

// The exchange the write stopped at, with the link operation's reason.
WriteResult FailedAt(int exchange) { return {exchange, serial::DescribeFailure(serial::LastFailure())}; }
}  // namespace

std::uint8_t NetworkNumberByte(int number) {
  const int bcd = ((number / 10) << 4) | (number % 10);
  return static_cast<std::uint8_t>(0xFF - bcd);
}

std::string NetworkNumberText(std::uint8_t networkNumberByte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", 0xFF - networkNumberByte);
  return text;
}

std::optional<int> ParseNetworkNumber(std::string_view text) {
  if (text.empty() || text.size() > kMaxNumberLength) return std::nullopt;
  int number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number < 1 || number > 99) return std::nullopt;
  return number;
}

ReadResult ReadNetworkNumber(Session& session, Link link) {
  ReadResult result;
  result.ok = MemoryThrough(link, session)
                  ->readData(session.memoryMap.NetworkNumberAddress(), result.networkNumberByte);
  if (!result.ok) result.reason = serial::DescribeFailure(serial::LastFailure());
  return result;
}

WriteResult WriteNetworkNumber(Session& session, Link link, int number) {
  const std::uint8_t b = NetworkNumberByte(number);
  auto memory = MemoryThrough(link, session);
  serial::Clock& clock = session.port.clock();

  // 1. The working copy in data memory.
  if (!memory->writeData(session.memoryMap.NetworkNumberAddress(), b)) return FailedAt(1);
  // 2-3. The non-volatile checksum and number as they are now.
  std::uint8_t checksumOld = 0;
  std::uint8_t numberOld = 0;
  if (!memory->readNonVolatile(kEepromChecksumAddress, checksumOld)) return FailedAt(2);
  serial::PauseMs(clock, kPauseAfterReadMs);
  if (!memory->readNonVolatile(kEepromNumberAddress, numberOld)) return FailedAt(3);
  serial::PauseMs(clock, kPauseAfterReadMs);
  // 4-5. The new number, then the checksum moved by the same difference.
  const auto checksumNew = static_cast<std::uint8_t>(checksumOld - numberOld + b);
  if (!memory->writeNonVolatile(kEepromNumberAddress, b)) return FailedAt(4);
  if (!memory->writeNonVolatile(kEepromChecksumAddress, checksumNew)) return FailedAt(5);
  // 6. The copy the register takes its line address from.
  if (!memory->writeData(kNumberCopyAddress, b)) return FailedAt(6);
  session.registerAddress = b;
  return {};
}

}  // namespace kkm::service
