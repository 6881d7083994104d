#include "tools/kkm-netnum-cli/Commands.h"

#include <optional>
#include <ostream>

#include "service/Connection.h"
#include "service/History.h"
#include "service/Messages.h"
#include "service/NetworkNumber.h"
#include "service/SessionFailure.h"
#include "service/WriteRecord.h"
#include "tools/kkm-netnum-cli/Console.h"
#include "tools/kkm-netnum-cli/SharedLine.h"

namespace kkm::cli {

namespace {

using service::Link;

constexpr const char* kNonVolatileUntouchedText = "Энергонезависимая память ККМ не изменялась.";

// Connects; a failure fills `outcome` and returns false.
bool ConnectFor(service::Session& session, const std::string& port, Link link, Outcome& outcome) {
  const service::ConnectResult result = service::Connect(session, port, link);
  outcome.failure = result.failure;
  switch (result.outcome) {
    case service::ConnectOutcome::Connected:
      if (link == Link::Processor) {
        outcome.address = session.registerAddress;
        outcome.firmware = session.firmwareVersion;
      }
      return true;
    case service::ConnectOutcome::PortUnavailable:
      outcome.endAs(kExitPortUnavailable, "port_unavailable");
      break;
    case service::ConnectOutcome::NoRegister:
      outcome.endAs(kExitNoContact, "no_register");
      break;
    case service::ConnectOutcome::NoKia:
      outcome.endAs(kExitNoContact, "no_kia");
      break;
    case service::ConnectOutcome::WrongFirmware:
      outcome.endAs(kExitWrongFirmware, "wrong_firmware");
      outcome.address = session.registerAddress;
      outcome.firmware = session.firmwareVersion;
      break;
  }
  outcome.message = service::ConnectOutcomeText(result.outcome);
  if (result.outcome == service::ConnectOutcome::PortUnavailable)
    outcome.message += "\n" + DeviceTriedText(port, session.devicePath);
  return false;
}

// Holds the port's device against other processes before its record is read;
// a device another process holds fills `outcome` as a port in use.
// A name that leads to no device cannot tell whose record is meant: it is
// unavailable, for the reason opening it gives.
bool HoldFor(service::Session& session, const std::string& port, Outcome& outcome) {
  session.portName = port;
  serial::Status held = service::HoldDevice(session, port);
  if (held && !session.deviceKey.empty()) return true;
  if (held) held = service::OpenSessionPort(session, port);
  outcome.failure = held.failure();
  outcome.endAs(kExitPortUnavailable, "port_unavailable");
  outcome.message = service::kPortUnavailableText + ("\n" + DeviceTriedText(port, session.devicePath));
  return false;
}

// A read exchange that went unanswered.
Outcome ReadFailed(Link link, Outcome& outcome) {
  outcome.endAs(kExitNoContact, "read_failed");
  outcome.message = service::NoInterfaceText(link);
  return outcome;
}

// What a write stopped at exchange 2..5 has left, and what to do (`finish`:
// the command that finishes it).
std::string PartlyWrittenText(int failedExchange, const std::string& finish) {
  std::string text = "Запись прервана на обмене " + std::to_string(failedExchange) + " из " +
                     std::to_string(service::kWriteExchanges) + ": ";
  // Exchanges 2-3 only read; 4-5 write the non-volatile number and checksum.
  if (failedExchange <= 3)
    return text +
           "сетевой номер записан только в оперативную память ККМ, энергонезависимая память не изменена. "
           "Восстановите связь и повторите запись.";
  return text +
         "сетевой номер и контрольная сумма в энергонезависимой памяти ККМ могут не совпадать. "
         "Не выключайте ККМ: восстановите связь и завершите запись: " +
         finish;
}

// The command that finishes (or with `--discard` gives up) a cut write, with
// the register named as the command was given (or as `registerAddress`).
std::string FinishCommand(const std::string& port, Link link, const char* extra = "",
                          std::optional<std::uint8_t> registerAddress = std::nullopt) {
  std::string command =
      std::string("kkm-netnum-cli finish --port ") + port + " --link " + service::LinkName(link);
  if (registerAddress && link == Link::Processor)
    command += " --register " + service::NetworkNumberText(*registerAddress);
  return command + extra;
}
std::string FinishCommand(const service::Session& session, const std::string& port, Link link,
                          const char* extra = "") {
  return FinishCommand(port, link, extra, session.namedAddress);
}

// The outcome of a write's exchanges, or of finishing one.
void ReportWrite(const service::Session& session, const std::string& port, Link link, std::uint8_t b,
                 const service::WriteResult& result, Outcome& outcome) {
  outcome.failure = result.failure;
  outcome.warnings = result.warnings;
  switch (result.refused) {
    case service::WriteRefusal::None:
      break;
    case service::WriteRefusal::RecordPending:
      outcome.endAs(kExitRecordPending, "record_pending");
      outcome.message = "Предыдущая запись сетевого номера через " + port +
                        " была прервана; новая запись не начата. Сначала завершите прерванную: " +
                        FinishCommand(session, port, link);
      return;
    case service::WriteRefusal::RecordUnusable:
      outcome.endAs(kExitRecordUnusable, "record_unusable");
      outcome.message = std::string(service::kUnusableRecordText) + "\nНовая запись не начата. Удалить их: " +
                        FinishCommand(session, port, link, " --discard");
      return;
    case service::WriteRefusal::NoRecord:
      outcome.endAs(kExitNoRecord, "no_record_possible");
      outcome.message = std::string(service::kNoRecordText) + "\n" + kNonVolatileUntouchedText;
      return;
  }
  if (result.written()) {
    outcome.numberByte = b;
    if (link == Link::Processor) outcome.address = session.registerAddress;
    return;
  }
  outcome.failedExchange = result.failedExchange;
  outcome.message = service::NoInterfaceText(link);
  if (result.partlyWritten()) {
    outcome.endAs(kExitPartlyWritten, "partly_written");
    outcome.message += "\n" + PartlyWrittenText(result.failedExchange, FinishCommand(session, port, link));
  } else {
    outcome.endAs(kExitNoContact, "write_failed");
  }
}

// Gives the record up, with a history line; `record` is the one found, or for
// a damaged one its port, device and link.
Outcome Discard(service::Session& session, const service::WriteRecord& record, bool damaged) {
  Outcome outcome;
  const service::WriteResult discarded = service::DiscardRecord(session, record);
  outcome.warnings = discarded.warnings;
  if (!discarded.written()) {
    outcome.endAs(kExitRecordUnusable, "record_unusable");
    outcome.message = "Сведения о прерванной записи сетевого номера не удалены";
    outcome.failure = discarded.failure;
    return outcome;
  }
  outcome.outcome = "discarded";
  outcome.message = damaged ? "Повреждённые сведения о прерванной записи сетевого номера удалены."
                            : "Сведения о прерванной записи сетевого номера " +
                                  service::RecordedNumberText(record) + " удалены.";
  return outcome;
}

// With no record under the port's device: the record of another name (a
// restarted adapter, another path) whose write this register's memory shows.
// Connects only when there is such a record to look for.
enum class Search { NoRecord, Found, Failed };
Search FindRecordOnRegister(service::Session& session, const std::string& port, Link link,
                            service::WriteRecord& found, service::InterruptedCheck& check, Outcome& outcome) {
  std::vector<service::WriteRecord> candidates = service::AllRecords(link);
  std::erase_if(candidates, [](const service::WriteRecord& r) { return !r.oldKnown; });
  if (candidates.empty()) return Search::NoRecord;
  if (!ConnectFor(session, port, link, outcome)) return Search::Failed;
  for (service::WriteRecord& candidate : candidates) {
    check = service::CheckInterruptedWrite(session, link, candidate);
    if (!check.ok) {
      outcome.failure = check.failure;
      ReadFailed(link, outcome);
      return Search::Failed;
    }
    if (check.state != service::InterruptedWrite::Finishable &&
        check.state != service::InterruptedWrite::Untouched)
      continue;
    if (const serial::Status taken = service::TakeOverRecord(session, candidate); !taken) {
      ReportWrite(session, port, link, candidate.newByte,
                  {0, service::StateFileFailure(taken.failure()), service::WriteRefusal::NoRecord}, outcome);
      return Search::Failed;
    }
    found = candidate;
    return Search::Found;
  }
  return Search::NoRecord;
}

// What the register shows decides: finish, refuse, or (with --discard and
// only for memory changed since) give the record up.
Outcome Settle(service::Session& session, const std::string& port, Link link, bool discard,
               const service::WriteRecord& record, const service::InterruptedCheck& check) {
  Outcome outcome;
  const std::string number = service::RecordedNumberText(record);
  switch (check.state) {
    case service::InterruptedWrite::OtherRegister:
      outcome.endAs(kExitOtherRegister, "other_register");
      outcome.message = service::OtherRegisterText(number, record.registerAddress);
      if (link == Link::Processor && record.registerAddress != session.registerAddress &&
          service::NetworkNumberValue(record.registerAddress))
        outcome.message +=
            "\nЗавершить её на той ККМ: " + FinishCommand(port, link, "", record.registerAddress);
      break;
    case service::InterruptedWrite::Changed:
      if (discard) return Discard(session, record, false);
      outcome.endAs(kExitMemoryChanged, "memory_changed");
      outcome.message = service::MemoryChangedText(number) +
                        "\nУдалить сведения о ней: " + FinishCommand(session, port, link, " --discard");
      break;
    case service::InterruptedWrite::Untouched:
    case service::InterruptedWrite::Finishable:
      if (discard) {
        outcome.endAs(kExitRecordKept, "record_kept");
        outcome.message = "Сведения о прерванной записи сетевого номера " + number +
                          " не удалены: запись можно завершить (" + FinishCommand(session, port, link) + ")";
        break;
      }
      ReportWrite(session, port, link, record.newByte,
                  service::FinishInterruptedWrite(session, link, record, check), outcome);
      break;
  }
  return outcome;
}

}  // namespace

Outcome Read(service::Session& session, const std::string& port, Link link) {
  Outcome outcome;
  if (!ConnectFor(session, port, link, outcome)) return outcome;
  const service::ReadResult result = service::ReadNetworkNumber(session, link);
  outcome.failure = result.failure;
  if (!result.ok()) return ReadFailed(link, outcome);
  outcome.numberByte = result.networkNumberByte;
  return outcome;
}

Outcome Write(service::Session& session, const std::string& port, Link link, int number) {
  Outcome outcome;
  const std::uint8_t b = service::NetworkNumberByte(number);
  // A write that may not start sends nothing at all, not even the connection's
  // bytes: the device is held, the state folder usable and no record in the way.
  if (!HoldFor(session, port, outcome)) return outcome;
  service::WriteResult bar = service::WriteOnTopOf(service::LoadRecord(session, link));
  if (bar.refused == service::WriteRefusal::None)
    if (const files::Status prepared = service::PrepareStateFolder(); !prepared)
      bar = {0, service::StateFileFailure(prepared.failure()), service::WriteRefusal::NoRecord};
  if (bar.refused != service::WriteRefusal::None) {
    ReportWrite(session, port, link, b, bar, outcome);
    return outcome;
  }
  if (!ConnectFor(session, port, link, outcome)) return outcome;
  if (const serial::Status free = service::CheckNumberFree(session, link, number); !free) {
    outcome.endAs(kExitNumberTaken, "number_taken");
    outcome.failure = free.failure();
    outcome.reasonInJsonOnly = true;
    outcome.message = service::NumberTakenText(number);
    return outcome;
  }
  ReportWrite(session, port, link, b, service::WriteNetworkNumber(session, link, number), outcome);
  return outcome;
}

std::vector<serial::Failure> WarnOfRecord(const service::Session& session, const std::string& port, Link link,
                                          std::ostream& err) {
  const std::string device = service::DeviceOf(session.platform, port);
  if (device.empty()) return {};  // the connection says why the name leads nowhere
  const service::LoadedRecord loaded = service::LoadRecord(device, link, port);
  if (loaded.status == service::RecordStatus::Found) {
    err << "Внимание: запись сетевого номера " << service::RecordedNumberText(loaded.record) << " через "
        << loaded.record.portName << " была прервана; завершите её: " << FinishCommand(session, port, link)
        << '\n';
    return {service::PendingRecordFailure(loaded.record.newByte, loaded.record.portName)};
  }
  if (loaded.status == service::RecordStatus::Unusable) {
    err << "Внимание: " << service::kUnusableRecordText << ": " << loaded.failure.text() << '\n';
    return {loaded.failure};
  }
  return {};
}

Outcome Finish(service::Session& session, const std::string& port, Link link, bool discard) {
  Outcome outcome;
  if (!HoldFor(session, port, outcome)) return outcome;
  const service::LoadedRecord loaded = service::LoadRecord(session, link);
  // 1. A damaged record is never acted on; the operator may give it up.
  if (loaded.status == service::RecordStatus::Unusable) {
    if (discard) return Discard(session, {port, session.deviceKey, link}, true);
    outcome.endAs(kExitRecordUnusable, "record_unusable");
    outcome.message = std::string(service::kUnusableRecordText) +
                      "\nУдалить их: " + FinishCommand(session, port, link, " --discard");
    outcome.failure = loaded.failure;
    return outcome;
  }
  // 2. A write cut before exchange 4 left nothing non-volatile to protect.
  if (discard && loaded.status == service::RecordStatus::Found && !loaded.record.oldKnown)
    return Discard(session, loaded.record, false);
  // 3. The register on the port, and what its memory shows of the record.
  service::WriteRecord record = loaded.record;
  service::InterruptedCheck check;
  if (loaded.status == service::RecordStatus::None) {
    const Search search = FindRecordOnRegister(session, port, link, record, check, outcome);
    if (search == Search::Failed) return outcome;
    if (search == Search::NoRecord) {
      outcome = {};
      outcome.outcome = "no_record";
      outcome.message = "Прерванной записи сетевого номера через " + port + " нет.";
      return outcome;
    }
  } else {
    if (!ConnectFor(session, port, link, outcome)) return outcome;
    check = service::CheckInterruptedWrite(session, link, record);
    outcome.failure = check.failure;
    if (!check.ok) return ReadFailed(link, outcome);
  }
  return Settle(session, port, link, discard, record, check);
}

Outcome ScanOutcome(const service::ScanResult& result, const service::Session& session,
                    const std::string& port) {
  Outcome outcome;
  outcome.failure = result.failure;
  if (!result.portOpened) {
    outcome.endAs(kExitPortUnavailable, "port_unavailable");
    outcome.message = service::kPortUnavailableText + ("\n" + DeviceTriedText(port, session.devicePath));
  } else if (!result.complete()) {
    // A census cut part-way lists only part of the line: a failure, as a read would be.
    outcome.endAs(kExitNoContact, "scan_failed");
    outcome.message = "Поиск ККМ на линии прерван: список неполный";
  } else if (result.registers.empty() && result.conflicts.empty()) {
    outcome.endAs(kExitNoContact, "no_register");
    outcome.message = service::kNoRegisterText;
  } else if (!result.conflicts.empty()) {
    outcome.endAs(kExitConflict, "conflict");
  }
  return outcome;
}

}  // namespace kkm::cli
