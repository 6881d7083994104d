#include "tools/kkm-netnum-cli/CliTool.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "kkm/Version.h"
#include "serial/PortMap.h"
#include "serial/Trace.h"
#include "serial/TracingPort.h"
#include "service/History.h"
#include "service/Json.h"
#include "service/Messages.h"
#include "service/NetworkNumber.h"
#include "service/Scan.h"
#include "service/Session.h"
#include "service/SessionFailure.h"
#include "service/WriteRecord.h"
#include "tools/kkm-netnum-cli/Commission.h"
#include "tools/kkm-netnum-cli/Console.h"
#include "tools/kkm-netnum-cli/PortsCommand.h"
#include "tools/kkm-netnum-cli/SharedLine.h"

namespace kkm::cli {

namespace {

using service::Link;

constexpr const char* kProgram = "kkm-netnum-cli";
constexpr int kMaxComPort = 255;
constexpr const char* kConflictText = "конфликт: несколько ККМ отвечают на этот адрес";
constexpr const char* kNonVolatileUntouchedText = "Энергонезависимая память ККМ не изменялась.";

// The result of one command, whichever way it is printed.
struct Outcome {
  int exitCode = kExitDone;
  std::string outcome = "done";            // the JSON "outcome"
  std::string message;                     // for standard error; empty when done
  serial::Failure failure;                 // why, when known
  std::optional<std::uint8_t> numberByte;  // the network number byte read or written
  std::optional<std::uint8_t> address;
  std::optional<std::int32_t> firmware;
  std::optional<int> failedExchange;
  std::vector<serial::Failure> warnings;  // the record or the history not kept up to date
  // A cut write's record found before a read: told on standard error already,
  // a warning in the JSON.
  std::vector<serial::Failure> recordWarnings;
  bool reasonInJsonOnly = false;  // the message says it all; the reason is for scripts
};

using json = nlohmann::ordered_json;

// One JSON object on one line.
std::string Line(const json& object) { return service::JsonText(object) + '\n'; }

// A usage error: its message on `err` and, with --json, its object on `out`.
int UsageError(const std::string& problem, bool asJson, std::ostream& out, std::ostream& err) {
  err << UsageErrorText(problem);
  if (asJson) out << UsageJsonLine(problem);
  return kExitUsage;
}

std::string Hex(std::uint8_t byte) {
  char text[5];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

template <typename T, typename Convert = std::identity>
json JsonOr(const std::optional<T>& value, Convert convert = {}) {
  return value ? json(convert(*value)) : json(nullptr);
}

// A network number byte as its number (null when its digits are no decimal
// number) and as the two digits the window shows.
void PutNumber(json& object, const std::optional<std::uint8_t>& byte) {
  object["number"] = byte ? JsonOr(service::NetworkNumberValue(*byte)) : json(nullptr);
  object["number_text"] = JsonOr(byte, service::NetworkNumberText);
}

// A failure as {"code", "text"}, with what a script acts on as fields of its
// own: the holder of a port in use ("pid", "command"; null when not known),
// the pending number of a cut write ("number", "number_text").
json ReasonJson(const serial::Failure& failure) {
  json object = service::FailureJson(failure);
  if (failure.is(service::SessionFailure::RecordPending))
    PutNumber(object, static_cast<std::uint8_t>(failure.got));
  const serial::Failure* busy = &failure;
  while (busy->cause && !busy->is(serial::LineFailure::PortInUse)) busy = busy->cause.get();
  if (busy->is(serial::LineFailure::PortInUse)) {
    const service::Holder holder = service::ParseHolder(busy->detail);
    object["pid"] = JsonOr(holder.pid);
    object["command"] = JsonOr(holder.command);
  }
  return object;
}

// The window's text with the reason, when one is known, after its first line
// (the box's own text); what follows that line stays below it.
std::string WithReason(const std::string& text, const serial::Failure& failure) {
  if (!failure.failed()) return text;
  const std::size_t lineEnd = std::min(text.find('\n'), text.size());
  return text.substr(0, lineEnd) + ": " + serial::DescribeFailure(failure) + text.substr(lineEnd);
}

// One spelling rule on every system: a port is COM1..COM255, in any case
// ("com1" is COM1, as Windows itself reads it), or a device path (with a / or
// a \). `port` is written back in the form the rest of the tool uses; false
// for anything else, a usage error.
bool NormalizePortName(std::string& port) {
  if (port.find_first_of("/\\") != std::string::npos) return true;
  if (port.size() < 4 || port.size() > 6) return false;
  std::string com = port;
  for (std::size_t i = 0; i < 3; ++i)
    com[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(com[i])));
  if (com.compare(0, 3, "COM") != 0 || com.find_first_not_of("0123456789", 3) != std::string::npos ||
      com[3] == '0' || std::stoi(com.substr(3)) > kMaxComPort)
    return false;
  port = com;
  return true;
}

// The usage error of a port name that is neither a COM name nor a path, with
// the path meant when it looks like a device's own name ("ttyUSB0").
std::string BadPortNameText(const std::string& port) {
  std::string lower = port;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool comLike = lower.rfind("com", 0) == 0 || port.empty();
  return "неверное имя порта " + port + " (COM1..COM255 или путь к устройству" +
         (comLike ? "" : ", например /dev/" + port) + ")";
}

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
      outcome.exitCode = kExitPortUnavailable;
      outcome.outcome = "port_unavailable";
      break;
    case service::ConnectOutcome::NoRegister:
      outcome.exitCode = kExitNoContact;
      outcome.outcome = "no_register";
      break;
    case service::ConnectOutcome::NoKia:
      outcome.exitCode = kExitNoContact;
      outcome.outcome = "no_kia";
      break;
    case service::ConnectOutcome::WrongFirmware:
      outcome.exitCode = kExitWrongFirmware;
      outcome.outcome = "wrong_firmware";
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
  outcome.exitCode = kExitPortUnavailable;
  outcome.outcome = "port_unavailable";
  outcome.message = service::kPortUnavailableText + ("\n" + DeviceTriedText(port, session.devicePath));
  return false;
}

// A read exchange that went unanswered.
Outcome ReadFailed(Link link, Outcome& outcome) {
  outcome.exitCode = kExitNoContact;
  outcome.outcome = "read_failed";
  outcome.message = service::NoInterfaceText(link);
  return outcome;
}

Outcome Read(service::Session& session, const std::string& port, Link link) {
  Outcome outcome;
  if (!ConnectFor(session, port, link, outcome)) return outcome;
  const service::ReadResult result = service::ReadNetworkNumber(session, link);
  outcome.failure = result.failure;
  if (!result.ok) return ReadFailed(link, outcome);
  outcome.numberByte = result.networkNumberByte;
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
      outcome.exitCode = kExitRecordPending;
      outcome.outcome = "record_pending";
      outcome.message = "Предыдущая запись сетевого номера через " + port +
                        " была прервана; новая запись не начата. Сначала завершите прерванную: " +
                        FinishCommand(session, port, link);
      return;
    case service::WriteRefusal::RecordUnusable:
      outcome.exitCode = kExitRecordUnusable;
      outcome.outcome = "record_unusable";
      outcome.message = std::string(service::kUnusableRecordText) + "\nНовая запись не начата. Удалить их: " +
                        FinishCommand(session, port, link, " --discard");
      return;
    case service::WriteRefusal::NoRecord:
      outcome.exitCode = kExitNoRecord;
      outcome.outcome = "no_record_possible";
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
    outcome.exitCode = kExitPartlyWritten;
    outcome.outcome = "partly_written";
    outcome.message += "\n" + PartlyWrittenText(result.failedExchange, FinishCommand(session, port, link));
  } else {
    outcome.exitCode = kExitNoContact;
    outcome.outcome = "write_failed";
  }
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
    outcome.exitCode = kExitNumberTaken;
    outcome.outcome = "number_taken";
    outcome.failure = free.failure();
    outcome.reasonInJsonOnly = true;
    outcome.message = service::NumberTakenText(number);
    return outcome;
  }
  ReportWrite(session, port, link, b, service::WriteNetworkNumber(session, link, number), outcome);
  return outcome;
}

// One line on `err` when the port's device and link hold a write record;
// the same as a warning for the JSON (record-pending with the pending number
// byte, or record-unusable).
std::vector<serial::Failure> WarnOfRecord(const service::Session& session, const std::string& port, Link link,
                                          std::ostream& err) {
  const std::string device = service::DeviceOf(session.platform, port);
  if (device.empty()) return {};  // the connection says why the name leads nowhere
  const service::LoadedRecord loaded = service::LoadRecord(device, link, port);
  if (loaded.status == service::RecordStatus::Found) {
    err << "Внимание: запись сетевого номера " << service::RecordedNumberText(loaded.record) << " через "
        << loaded.record.portName << " была прервана; завершите её: " << FinishCommand(session, port, link)
        << '\n';
    return {
        {service::SessionFailure::RecordPending, -1, -1, loaded.record.newByte, 0, loaded.record.portName}};
  }
  if (loaded.status == service::RecordStatus::Unusable) {
    err << "Внимание: " << service::kUnusableRecordText << ": " << loaded.failure.text() << '\n';
    return {loaded.failure};
  }
  return {};
}

// Gives the record up, with a history line; `record` is the one found, or for
// a damaged one its port, device and link.
Outcome Discard(service::Session& session, const service::WriteRecord& record, bool damaged) {
  Outcome outcome;
  const service::WriteResult discarded = service::DiscardRecord(session, record);
  outcome.warnings = discarded.warnings;
  if (!discarded.written()) {
    outcome.exitCode = kExitRecordUnusable;
    outcome.outcome = "record_unusable";
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
      outcome.exitCode = kExitOtherRegister;
      outcome.outcome = "other_register";
      outcome.message = service::OtherRegisterText(number, record.registerAddress);
      if (link == Link::Processor && record.registerAddress != session.registerAddress &&
          service::NetworkNumberValue(record.registerAddress))
        outcome.message +=
            "\nЗавершить её на той ККМ: " + FinishCommand(port, link, "", record.registerAddress);
      break;
    case service::InterruptedWrite::Changed:
      if (discard) return Discard(session, record, false);
      outcome.exitCode = kExitMemoryChanged;
      outcome.outcome = "memory_changed";
      outcome.message = service::MemoryChangedText(number) +
                        "\nУдалить сведения о ней: " + FinishCommand(session, port, link, " --discard");
      break;
    case service::InterruptedWrite::Untouched:
    case service::InterruptedWrite::Finishable:
      if (discard) {
        outcome.exitCode = kExitRecordKept;
        outcome.outcome = "record_kept";
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

Outcome Finish(service::Session& session, const std::string& port, Link link, bool discard) {
  Outcome outcome;
  if (!HoldFor(session, port, outcome)) return outcome;
  const service::LoadedRecord loaded = service::LoadRecord(session, link);
  // 1. A damaged record is never acted on; the operator may give it up.
  if (loaded.status == service::RecordStatus::Unusable) {
    if (discard) return Discard(session, {port, session.deviceKey, link}, true);
    outcome.exitCode = kExitRecordUnusable;
    outcome.outcome = "record_unusable";
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

// A stored number ("05", or a number in lines of earlier versions) as the
// commands give one: "<key>" the number or null, "<key>_text" two digits or null.
void PutStoredNumber(json& object, const std::string& key, const nlohmann::json& stored) {
  json number, text;
  if (stored.is_string()) {
    text = stored;
    const std::string digits = stored.get<std::string>();
    if (digits.size() == 2 && std::isdigit(static_cast<unsigned char>(digits[0])) &&
        std::isdigit(static_cast<unsigned char>(digits[1])))
      number = std::stoi(digits);
  } else if (stored.is_number_integer() && stored.get<int>() >= 0 && stored.get<int>() <= 99) {
    number = stored.get<int>();
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02d", stored.get<int>());
    text = digits;
  }
  object[key] = number;
  object[key + "_text"] = text;
}

// A stored history line in the commands' vocabulary and key order: numbers as
// numbers beside their two digits, the outcome as the command named it.
json HistoryEntryJson(const nlohmann::json& stored) {
  const auto field = [&stored](const char* key) {
    const auto it = stored.find(key);
    return it == stored.end() ? nlohmann::json() : *it;
  };
  const auto text = [&field](const char* key) {
    const nlohmann::json value = field(key);
    return value.is_string() ? json(value.get<std::string>()) : json();
  };
  const nlohmann::json failedExchange = field("failed_exchange");
  const int failed = failedExchange.is_number_integer() ? failedExchange.get<int>() : 0;
  const std::string outcome = field("outcome").is_string() ? field("outcome").get<std::string>() : "";
  json entry = {{"time", text("time")}, {"action", text("action")}};
  entry["outcome"] = outcome == "written" ? json("done")
                     : outcome == "failed"
                         ? json(failed >= 2 && failed <= 5 ? "partly_written" : "write_failed")
                     : outcome.empty() ? json()
                                       : json(outcome);
  entry["port"] = text("port");
  entry["device"] = text("device");
  entry["link"] = text("link");
  entry["address"] = field("address").is_number_integer() ? json(field("address").get<int>()) : json();
  PutStoredNumber(entry, "old_number", field("old_number"));
  PutStoredNumber(entry, "new_number", field("new_number"));
  entry["failed_exchange"] = failed != 0 ? json(failed) : json();
  // The reason: {"code", "text"}, or a plain text in lines of earlier versions.
  const nlohmann::json reason = field("reason");
  entry["reason"] = reason.is_object()
                        ? json{{"code", reason.value("code", "")}, {"text", reason.value("text", "")}}
                    : reason.is_string() ? json{{"code", "unknown"}, {"text", reason.get<std::string>()}}
                                         : json();
  entry["program"] = text("program");
  entry["version"] = text("version");
  // A commissioning write's mark: its place in the row and the list it came from.
  const nlohmann::json mark = field("commission");
  entry["commission"] = mark.is_object() ? json{{"sequence", mark.value("sequence", 0)},
                                                {"numbers", mark.value("numbers", std::string())}}
                                         : json();
  return entry;
}

// The service history, oldest first: with --json one object whose "entries"
// are the stored lines in the commands' vocabulary, else one readable line an
// entry. Lines that do not parse are named on `err` and left out.
int History(bool asJson, std::ostream& out, std::ostream& err) {
  const service::HistoryRead history = service::HistoryLines();
  if (!history.status) {
    err << "Журнал обслуживания не прочитан: " << history.status.failure().text() << '\n';
    if (asJson)
      out << Line({{"outcome", "history_unreadable"},
                   {"entries", json::array()},
                   {"reason", ReasonJson(history.status.failure())}});
    return kExitNoRecord;
  }
  json entries = json::array();
  for (const std::string& line : history.lines) {
    const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (entry.is_discarded() || !entry.is_object()) {
      err << "Строка журнала не разобрана: " << line << '\n';
      continue;
    }
    if (asJson) {
      entries.push_back(HistoryEntryJson(entry));
      continue;
    }
    const auto text = [&entry](const char* key) {
      const auto it = entry.find(key);
      return it == entry.end() || it->is_null() ? std::string("-")
             : it->is_string()                  ? it->get<std::string>()
                                                : it->dump();
    };
    out << text("time") << "  " << text("action") << "  " << text("port") << " (" << text("device") << ")  "
        << text("link") << "  " << text("old_number") << " -> " << text("new_number") << "  "
        << text("outcome");
    if (text("failed_exchange") != "-") out << " (обмен " << text("failed_exchange") << ")";
    // The reason: {"code", "text"}, or a plain text in lines of earlier versions.
    if (const auto reason = entry.find("reason"); reason != entry.end() && reason->is_object())
      out << ": " << reason->value("code", "") << ": " << reason->value("text", "");
    else if (text("reason") != "-")
      out << ": " << text("reason");
    out << "  [" << text("program") << " " << text("version") << "]\n";
  }
  if (asJson) out << Line({{"outcome", "done"}, {"entries", entries}, {"reason", nullptr}});
  return kExitDone;
}

void PrintOutcome(const Outcome& outcome, bool asJson, std::ostream& out, std::ostream& err) {
  for (const serial::Failure& warning : outcome.warnings)
    err << kProgram << ": " << serial::DescribeFailure(warning) << '\n';
  if (!outcome.message.empty())
    err << (outcome.reasonInJsonOnly ? outcome.message : WithReason(outcome.message, outcome.failure))
        << '\n';
  if (asJson && outcome.outcome == "usage") {
    out << UsageJsonLine(outcome.message);  // one shape for every usage error
  } else if (asJson) {
    json object = {{"outcome", outcome.outcome}};
    PutNumber(object, outcome.numberByte);
    object["address"] = JsonOr(outcome.address);
    object["firmware"] = JsonOr(outcome.firmware, service::FirmwareVersionText);
    object["failed_exchange"] = JsonOr(outcome.failedExchange);
    object["reason"] = ReasonJson(outcome.failure);
    object["warnings"] = json::array();
    for (const auto* list : {&outcome.recordWarnings, &outcome.warnings})
      for (const serial::Failure& warning : *list) object["warnings"].push_back(ReasonJson(warning));
    out << Line(object);
  } else if (outcome.numberByte) {
    out << service::NetworkNumberText(*outcome.numberByte) << '\n';
  }
}

std::string FirmwareText(const std::optional<std::int32_t>& code) {
  return code ? service::FirmwareVersionText(*code) : "?";
}

int Scan(service::Session& session, const std::string& port, bool asJson, std::ostream& out,
         std::ostream& err) {
  const service::ScanResult result = service::ScanLine(session, port);
  Outcome outcome;
  outcome.failure = result.failure;
  if (!result.portOpened) {
    outcome.exitCode = kExitPortUnavailable;
    outcome.outcome = "port_unavailable";
    outcome.message = service::kPortUnavailableText + ("\n" + DeviceTriedText(port, session.devicePath));
  } else if (!result.complete()) {
    // A census cut part-way lists only part of the line: a failure, as a read would be.
    outcome.exitCode = kExitNoContact;
    outcome.outcome = "scan_failed";
    outcome.message = "Поиск ККМ на линии прерван: список неполный";
  } else if (result.registers.empty() && result.conflicts.empty()) {
    outcome.exitCode = kExitNoContact;
    outcome.outcome = "no_register";
    outcome.message = service::kNoRegisterText;
  } else if (!result.conflicts.empty()) {
    outcome.exitCode = kExitConflict;
    outcome.outcome = "conflict";
  }
  if (!outcome.message.empty()) err << WithReason(outcome.message, outcome.failure) << '\n';

  if (!asJson) {
    for (const service::FoundRegister& found : result.registers)
      out << service::NetworkNumberText(found.address) << "  " << Hex(found.address) << "  "
          << FirmwareText(found.firmwareVersion) << '\n';
    for (const std::uint8_t address : result.conflicts)
      out << "--  " << Hex(address) << "  " << kConflictText << '\n';
    return outcome.exitCode;
  }
  json registers = json::array();
  for (const service::FoundRegister& found : result.registers) {
    json entry;
    PutNumber(entry, found.address);
    entry["address"] = found.address;
    entry["firmware"] = JsonOr(found.firmwareVersion, service::FirmwareVersionText);
    registers.push_back(entry);
  }
  json conflicts = json::array();
  for (const std::uint8_t address : result.conflicts) {
    json entry;
    PutNumber(entry, address);  // the number whose address several registers answer
    entry["address"] = address;
    conflicts.push_back(entry);
  }
  out << Line({{"outcome", outcome.outcome},
               {"registers", registers},
               {"conflicts", conflicts},
               {"reason", service::FailureJson(outcome.failure)}});
  return outcome.exitCode;
}

// KKM_TRACE, or nothing.
std::string TraceVariable() {
  const char* value = std::getenv("KKM_TRACE");
  return value != nullptr ? value : "";
}

}  // namespace

int RunCli(int argc, const char* const* argv, serial::Platform& platform, std::ostream& out,
           std::ostream& err, bool errIsTerminal) {
  // 1. The command line.
  CLI::App app{"Читает, записывает и перечисляет сетевые номера ККМ ТИМ-31Ц через последовательный порт.",
               kProgram};
  RussianHelp(app);
  app.set_version_flag("--version", std::string("kkm-netnum-cli ") + kVersion, "показать версию и выйти");
  app.set_help_all_flag("--help-all", "показать справку всех команд с их параметрами");
  app.require_subcommand(1);
  // Usage errors in Russian, as every other message; subcommands inherit it.
  app.failure_message([](const CLI::App*, const CLI::Error& e) { return UsageErrorText(e); });
  std::string port;
  std::string link = "cpu";
  std::string numberText;
  std::string tracePath;
  bool asJson = false;
  std::string registerText;
  PortsOptions portsOptions;
  const auto common = [&](CLI::App* command, bool withLink) {
    command->add_option("--port", port, "COM1..COM255 или путь к устройству")->required();
    if (withLink)
      command->add_option("--link", link, "cpu: процессор ККМ; kia: микроконтроллер КИА")
          ->check(CLI::IsMember({"cpu", "kia"}))
          ->capture_default_str();
    if (withLink) AddRegisterOption(*command, registerText);
    command->add_flag("--json", asJson, "вывести один объект JSON вместо текста");
    command->add_option("--trace", tracePath,
                        "дописывать протокол каждого обмена в FILE (- — в стандартный поток ошибок); "
                        "то же делает KKM_TRACE=FILE");
  };
  CLI::App* read = app.add_subcommand("read", "вывести сетевой номер, две цифры");
  common(read, true);
  CLI::App* write = app.add_subcommand("write", "записать сетевой номер NUMBER (1..99, десятичный)");
  write->add_option("NUMBER", numberText, "1..99, десятичный")->required();
  common(write, true);
  CLI::App* finish =
      app.add_subcommand("finish", "завершить прерванную запись на этом порту и связи, не спрашивая");
  common(finish, true);
  bool discard = false;
  finish->add_flag("--discard", discard, "удалить сведения о прерванной записи вместо её завершения");
  CLI::App* scan = app.add_subcommand("scan", "перечислить все ККМ на линии: номер, адрес, версия ПО");
  common(scan, false);
  CLI::App* history =
      app.add_subcommand("history", "журнал обслуживания: каждая запись и завершение, новые последними");
  history->add_flag("--json", asJson, "вывести один объект JSON, записи журнала в его \"entries\"");
  CLI::App* ports = AddPortsCommand(app, portsOptions);
  CommissionOptions commissionOptions;
  CLI::App* commission = AddCommissionCommand(app, commissionOptions);

  // Every command under one Russian heading, with its help options among its own.
  for (CLI::App* command : app.get_subcommands({})) {
    command->group("Команды");
    for (const char* help : {"--help", "--help-all"})
      if (CLI::Option* option = command->get_option_no_throw(help)) option->group("Параметры");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    // --json anywhere asks for the object, even on a line that did not parse.
    const bool wantsJson =
        std::any_of(argv + 1, argv + argc, [](const char* a) { return std::string(a) == "--json"; });
    return UsageError(UsageProblem(e), wantsJson, out, err);
  }
  if (history->parsed()) return History(asJson, out, err);
  if (ports->parsed()) return RunPorts(portsOptions, out, err);
  if (commission->parsed())
    std::tie(port, tracePath) = std::pair(commissionOptions.port, commissionOptions.tracePath);
  if (!NormalizePortName(port)) return UsageError(BadPortNameText(port), asJson, out, err);
  const Link chosen = link == "kia" ? Link::Kia : Link::Processor;
  // The port map's problems, said once before the work starts.
  if (serial::ComPortNumber(port))
    for (const std::string& problem : serial::ProblemLines(serial::LoadPortMap()))
      err << kProgram << ": " << problem << '\n';

  // 2. The exchange trace, when the option or KKM_TRACE asks for it (the
  // option wins); a path that cannot be written is reported and skipped.
  if (tracePath.empty()) tracePath = TraceVariable();
  const std::unique_ptr<serial::TraceSink> sink = serial::OpenTraceOrWarn(tracePath, stderr, kProgram);
  std::optional<serial::TracingPlatform> traced;
  if (sink) traced.emplace(platform, *sink, kProgram);
  serial::Platform& line = traced ? static_cast<serial::Platform&>(*traced) : platform;

  // 3. The command, on a session that closes its port at the end. A scan or a
  // write shows its progress when standard error is a terminal that nothing
  // else writes to (no JSON, no trace there).
  ProgressLine progress(out, err);
  service::Session session(line, kProgram);
  if (const std::string problem = NameRegister(registerText, chosen, session); !problem.empty())
    return UsageError(problem, asJson, out, err);
  if (errIsTerminal && !asJson && tracePath != "-")
    session.progress = progress.reporter(scan->parsed() ? "Поиск ККМ на линии: адрес " : "Запись: обмен ");
  if (scan->parsed()) return Scan(session, port, asJson, progress.out(), progress.err());
  if (commission->parsed()) return RunCommission(commissionOptions, line, out, err);
  Outcome outcome;
  if (finish->parsed()) {
    outcome = Finish(session, port, chosen, discard);
    PrintOutcome(outcome, asJson, progress.out(), progress.err());
    return outcome.exitCode;
  }
  if (read->parsed()) {
    std::vector<serial::Failure> recordWarnings = WarnOfRecord(session, port, chosen, err);
    outcome = Read(session, port, chosen);
    outcome.recordWarnings = std::move(recordWarnings);
  } else if (const std::optional<int> number = service::ParseNetworkNumber(numberText)) {
    outcome = Write(session, port, chosen, *number);
  } else {
    outcome.exitCode = kExitUsage;
    outcome.outcome = "usage";
    outcome.message = service::kOutOfRangeText;
  }
  PrintOutcome(outcome, asJson, progress.out(), progress.err());
  return outcome.exitCode;
}

}  // namespace kkm::cli
