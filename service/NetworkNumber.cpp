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

void RemoveRecordOrReport(Session& session, const std::string& portName, Link link) {
  std::string reason;
  if (!RemoveRecord(portName, link, reason)) ReportRecordFailure(session.port, reason);
}

// Exchange 6, and the register is addressed by b from then on.
WriteResult WriteLineAddress(Session& session, RegisterMemory& memory, std::uint8_t b) {
  if (!memory.writeData(kNumberCopyAddress, b)) return FailedAt(6);
  session.registerAddress = b;
  return {};
}
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

  // Exchange 1: the working copy in data memory.
  ReportProgress(session, 1, kWriteExchanges);
  if (!memory->writeData(session.memoryMap.NetworkNumberAddress(), b)) return FailedAt(1);
  // Exchanges 2 and 3: the non-volatile checksum and number as they are now.
  std::uint8_t checksumOld = 0;
  std::uint8_t numberOld = 0;
  ReportProgress(session, 2, kWriteExchanges);
  if (!memory->readNonVolatile(kEepromChecksumAddress, checksumOld)) return FailedAt(2);
  serial::PauseMs(clock, kPauseAfterReadMs);
  ReportProgress(session, 3, kWriteExchanges);
  if (!memory->readNonVolatile(kEepromNumberAddress, numberOld)) return FailedAt(3);
  serial::PauseMs(clock, kPauseAfterReadMs);
  // Exchanges 4 and 5: the new number, then the checksum moved by the same difference.
  const auto checksumNew = static_cast<std::uint8_t>(checksumOld - numberOld + b);
  // From here until exchange 5 is acknowledged the number and the checksum
  // may disagree: the record lets a later connection finish the write.
  const WriteRecord record{session.portName, session.devicePath, link,       session.registerAddress, b,
                           numberOld,        checksumOld,        checksumNew};
  if (std::string reason; !SaveRecord(record, reason)) ReportRecordFailure(session.port, reason);
  ReportProgress(session, 4, kWriteExchanges);
  if (!memory->writeNonVolatile(kEepromNumberAddress, b)) return FailedAt(4);
  ReportProgress(session, 5, kWriteExchanges);
  if (!memory->writeNonVolatile(kEepromChecksumAddress, checksumNew)) return FailedAt(5);
  RemoveRecordOrReport(session, session.portName, link);
  // Exchange 6: the copy the register takes its line address from.
  ReportProgress(session, 6, kWriteExchanges);
  return WriteLineAddress(session, *memory, b);
}

InterruptedCheck CheckInterruptedWrite(Session& session, Link link, const WriteRecord& record) {
  auto memory = MemoryThrough(link, session);
  serial::Clock& clock = session.port.clock();
  InterruptedCheck check;
  if (!memory->readNonVolatile(kEepromChecksumAddress, check.checksumNow)) return check;
  serial::PauseMs(clock, kPauseAfterReadMs);
  if (!memory->readNonVolatile(kEepromNumberAddress, check.numberNow)) return check;
  serial::PauseMs(clock, kPauseAfterReadMs);
  check.ok = true;
  if (check.numberNow == record.numberOld && check.checksumNow == record.checksumOld) {
    check.state = InterruptedWrite::Untouched;
    RemoveRecordOrReport(session, record.portName, record.link);
  } else if (check.numberNow == record.newByte &&
             (check.checksumNow == record.checksumOld || check.checksumNow == record.checksumNew)) {
    check.state = InterruptedWrite::Finishable;
  }
  return check;
}

WriteResult FinishInterruptedWrite(Session& session, Link link, const WriteRecord& record,
                                   const InterruptedCheck& check) {
  auto memory = MemoryThrough(link, session);
  // Exchange 5 again: only a checksum still the old one is moved; a moved one stays.
  if (check.checksumNow == record.checksumOld &&
      !memory->writeNonVolatile(kEepromChecksumAddress, record.checksumNew))
    return FailedAt(5);
  const WriteResult result = WriteLineAddress(session, *memory, record.newByte);
  if (result.written()) RemoveRecordOrReport(session, record.portName, record.link);
  return result;
}

std::string RecordedNumberText(const WriteRecord& record) { return NetworkNumberText(record.newByte); }

}  // namespace kkm::service
