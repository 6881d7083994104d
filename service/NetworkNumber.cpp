#include "service/NetworkNumber.h"

#include <optional>
#include <string_view>

#include "serial/Failure.h"
#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"
#include "service/History.h"
#include "service/RegisterMemory.h"
#include "service/SessionFailure.h"

namespace kkm::service {

namespace {
// The exchange the write stopped at, with the link operation's failure.
WriteResult FailedAt(int exchange, const serial::Status& status) { return {exchange, status.failure()}; }

// A record or history that could not be kept up to date: noted in the trace
// and handed to the front end, which says it.
void Warn(Session& session, std::vector<serial::Failure>& warnings, const serial::Failure& cause) {
  warnings.push_back(StateFileFailure(cause));
  serial::TraceNote(session.port, serial::DescribeFailure(warnings.back()));
}

// One line of the service history; a history that cannot be written is a warning.
void Log(Session& session, const char* action, const WriteRecord& record, WriteResult& result) {
  // A write refused before exchange 1 sent nothing and leaves no line, so none comes here.
  const char* outcome = std::string_view(action) == "discard" ? "discarded"
                        : result.written()                    ? "written"
                                                              : "failed";
  HistoryEntry entry{action,
                     outcome,
                     record.portName,
                     record.device,
                     record.link,
                     record.registerAddress,
                     record.oldKnown ? std::optional(record.numberOld) : std::nullopt,
                     record.newByte,
                     result.failedExchange,
                     result.failure,
                     std::string_view(action) == "write" ? session.commission : std::nullopt};
  if (serial::Status logged = AppendHistory(session.program, entry); !logged)
    Warn(session, result.warnings, logged.failure());
}

// The end of a write or a finish: a written register's record goes, and the
// history has its line.
WriteResult Ended(Session& session, const char* action, const WriteRecord& record, WriteResult result) {
  if (result.written())
    if (serial::Status removed = RemoveRecord(record); !removed)
      Warn(session, result.warnings, removed.failure());
  Log(session, action, record, result);
  return result;
}

// Exchange 6, and the register is addressed by b from then on.
WriteResult WriteLineAddress(Session& session, RegisterMemory& memory, std::uint8_t b) {
  ReportProgress(session, 6, kWriteExchanges);
  if (serial::Status done = memory.writeData(kNumberCopyAddress, b); !done) return FailedAt(6, done);
  session.registerAddress = b;
  return {};
}

WriteResult Refused(WriteRefusal why, serial::Failure failure) { return {0, std::move(failure), why}; }

WriteResult PendingRefusal(const WriteRecord& pending) {
  return Refused(WriteRefusal::RecordPending, PendingRecordFailure(pending.newByte, pending.portName));
}

// The record of another device whose write the register's non-volatile
// memory shows half done: its number cell holds the record's new byte while
// the checksum is still the record's old one (`read` holds what exchanges 2
// and 3 read, as its old bytes).
std::optional<WriteRecord> RecordShownBy(Link link, const WriteRecord& read) {
  for (const WriteRecord& other : AllRecords(link))
    if (other.oldKnown && other.device != read.device && other.newByte == read.numberOld &&
        other.checksumOld == read.checksumOld)
      return other;
  return std::nullopt;
}

// The six exchanges for a saved record without old bytes; the record gets
// them before exchange 4, so that any cut from there on can be finished.
WriteResult RunWrite(Session& session, Link link, WriteRecord& record) {
  const std::uint8_t b = record.newByte;
  auto memory = MemoryThrough(link, session);
  serial::Clock& clock = session.port.clock();

  // Exchange 1: the working copy in data memory.
  ReportProgress(session, 1, kWriteExchanges);
  if (serial::Status done = memory->writeData(session.memoryMap.NetworkNumberAddress(), b); !done)
    return FailedAt(1, done);
  // Exchanges 2 and 3: the non-volatile checksum and number as they are now.
  ReportProgress(session, 2, kWriteExchanges);
  if (serial::Status done = memory->readNonVolatile(kEepromChecksumAddress, record.checksumOld); !done)
    return FailedAt(2, done);
  serial::PauseMs(clock, kPauseAfterReadMs);
  ReportProgress(session, 3, kWriteExchanges);
  if (serial::Status done = memory->readNonVolatile(kEepromNumberAddress, record.numberOld); !done)
    return FailedAt(3, done);
  serial::PauseMs(clock, kPauseAfterReadMs);
  // A register whose non-volatile memory shows another record's write half
  // done is that record's register, whatever name reached it: its write is
  // finished first, and this one goes no further.
  if (const std::optional<WriteRecord> shown = RecordShownBy(link, record); shown) {
    WriteRecord pending = *shown;
    if (serial::Status taken = TakeOverRecord(session, pending); !taken)
      return Refused(WriteRefusal::NoRecord, StateFileFailure(taken.failure()));
    return PendingRefusal(pending);
  }
  // From exchange 4 until exchange 5 is acknowledged the number and the
  // checksum may disagree: the record must say how to put them right first.
  record.oldKnown = true;
  if (serial::Status saved = SaveRecord(record); !saved) {
    // Nothing non-volatile was sent: the record as saved before exchange 1
    // stays, so that the write can be made again.
    record.oldKnown = false;
    return Refused(WriteRefusal::NoRecord,
                   StateFileFailure(saved.failure(), "сведения о записи не дополнены, обмен 4 не отправлен"));
  }
  // Exchanges 4 and 5: the new number, then the checksum moved by the same difference.
  ReportProgress(session, 4, kWriteExchanges);
  if (serial::Status done = memory->writeNonVolatile(kEepromNumberAddress, b); !done)
    return FailedAt(4, done);
  ReportProgress(session, 5, kWriteExchanges);
  if (serial::Status done = memory->writeNonVolatile(kEepromChecksumAddress, record.checksumNew()); !done)
    return FailedAt(5, done);
  // Exchange 6: the copy the register takes its line address from.
  return WriteLineAddress(session, *memory, b);
}

}  // namespace

ReadResult ReadNetworkNumber(Session& session, Link link) {
  ReadResult result;
  const serial::Status read =
      MemoryThrough(link, session)
          ->readData(session.memoryMap.NetworkNumberAddress(), result.networkNumberByte);
  result.failure = read.failure();
  return result;
}

WriteResult WriteOnTopOf(const LoadedRecord& pending) {
  if (pending.status == RecordStatus::Unusable) return Refused(WriteRefusal::RecordUnusable, pending.failure);
  // A write that stopped before exchange 4 left the non-volatile memory as it was.
  if (pending.status == RecordStatus::Found && pending.record.oldKnown) return PendingRefusal(pending.record);
  return {};
}

WriteResult WriteNetworkNumber(Session& session, Link link, int number) {
  WriteRecord record{session.portName, DeviceKeyOf(session), link, session.registerAddress,
                     NetworkNumberByte(number)};
  // 1. Never on top of a write that left the non-volatile memory unsure.
  if (const WriteResult bar = WriteOnTopOf(LoadRecord(session, link)); bar.refused != WriteRefusal::None)
    return bar;
  // 2. The safety net before anything changes: the record, saved.
  if (serial::Status saved = SaveRecord(record); !saved)
    return Refused(WriteRefusal::NoRecord, StateFileFailure(saved.failure()));
  // 3. The exchanges.
  return Ended(session, "write", record, RunWrite(session, link, record));
}

InterruptedCheck CheckInterruptedWrite(Session& session, Link link, const WriteRecord& record) {
  InterruptedCheck check;
  if (link == Link::Processor && session.registerAddress != record.registerAddress &&
      session.registerAddress != record.newByte) {
    check.ok = true;
    check.state = InterruptedWrite::OtherRegister;
    return check;
  }
  if (!record.oldKnown) {
    check.ok = true;
    check.state = InterruptedWrite::Untouched;
    return check;
  }
  auto memory = MemoryThrough(link, session);
  serial::Clock& clock = session.port.clock();
  serial::Status read = memory->readNonVolatile(kEepromChecksumAddress, check.checksumNow);
  if (read) {
    serial::PauseMs(clock, kPauseAfterReadMs);
    read = memory->readNonVolatile(kEepromNumberAddress, check.numberNow);
  }
  if (!read) {
    check.failure = read.failure();
    return check;
  }
  serial::PauseMs(clock, kPauseAfterReadMs);
  if (check.numberNow == record.newByte &&
      (check.checksumNow == record.checksumOld || check.checksumNow == record.checksumNew())) {
    check.ok = true;
    check.state = InterruptedWrite::Finishable;
    return check;
  }
  // The non-volatile memory does not show the write: only its working copy,
  // which exchange 1 wrote, tells the record's register from another one.
  std::uint8_t working = 0;
  if (serial::Status copy = memory->readData(session.memoryMap.NetworkNumberAddress(), working); !copy) {
    check.failure = copy.failure();
    return check;
  }
  check.ok = true;
  if (working != record.newByte)
    check.state = InterruptedWrite::OtherRegister;
  else if (check.numberNow == record.numberOld && check.checksumNow == record.checksumOld)
    check.state = InterruptedWrite::Untouched;
  return check;
}

WriteResult FinishInterruptedWrite(Session& session, Link link, const WriteRecord& record,
                                   const InterruptedCheck& check) {
  WriteRecord finishing = record;
  if (!check.ok ||
      (check.state != InterruptedWrite::Untouched && check.state != InterruptedWrite::Finishable))
    return Refused(WriteRefusal::RecordPending,
                   check.ok ? serial::Failure{SessionFailure::NotFinishable} : check.failure);
  if (check.state == InterruptedWrite::Untouched) {
    // Nothing non-volatile changed: the whole write again, read afresh.
    finishing.oldKnown = false;
    finishing.registerAddress = session.registerAddress;
    return Ended(session, "finish", finishing, RunWrite(session, link, finishing));
  }
  auto memory = MemoryThrough(link, session);
  // Exchange 1 again: the working copy may hold what a later, refused write put there.
  ReportProgress(session, 1, kWriteExchanges);
  if (serial::Status done = memory->writeData(session.memoryMap.NetworkNumberAddress(), record.newByte);
      !done)
    return Ended(session, "finish", finishing, FailedAt(1, done));
  // Exchange 5 again: only a checksum still the old one is moved; a moved one stays.
  if (check.checksumNow == record.checksumOld)
    if (serial::Status done = memory->writeNonVolatile(kEepromChecksumAddress, record.checksumNew()); !done)
      return Ended(session, "finish", finishing, FailedAt(5, done));
  return Ended(session, "finish", finishing, WriteLineAddress(session, *memory, record.newByte));
}

WriteResult DiscardRecord(Session& session, const WriteRecord& record) {
  WriteResult result;
  if (serial::Status removed = RemoveRecord(record); !removed) {
    result.refused = WriteRefusal::RecordUnusable;
    result.failure = StateFileFailure(removed.failure());
    return result;
  }
  Log(session, "discard", record, result);
  return result;
}

std::string RecordedNumberText(const WriteRecord& record) { return NetworkNumberText(record.newByte); }

}  // namespace kkm::service
