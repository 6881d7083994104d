#include "tools/kkm-netnum-cli/Render.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>

#include "service/NetworkNumber.h"
#include "service/SessionFailure.h"
#include "tools/kkm-netnum-cli/Console.h"

namespace kkm::cli {

namespace {

constexpr const char* kConflictText = "конфликт: несколько ККМ отвечают на этот адрес";

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

// The window's text with the reason, when one is known, after its first line
// (the box's own text); what follows that line stays below it.
std::string WithReason(const std::string& text, const serial::Failure& failure) {
  if (!failure.failed()) return text;
  const std::size_t lineEnd = std::min(text.find('\n'), text.size());
  return text.substr(0, lineEnd) + ": " + serial::DescribeFailure(failure) + text.substr(lineEnd);
}

std::string FirmwareText(const std::optional<std::int32_t>& code) {
  return code ? service::FirmwareVersionText(*code) : "?";
}

json OutcomeJson(const Outcome& outcome) {
  json object = {{"outcome", outcome.outcome}};
  PutNumber(object, outcome.numberByte);
  object["address"] = JsonOr(outcome.address);
  object["firmware"] = JsonOr(outcome.firmware, service::FirmwareVersionText);
  object["failed_exchange"] = JsonOr(outcome.failedExchange);
  object["reason"] = ReasonJson(outcome.failure);
  object["warnings"] = json::array();
  for (const auto* list : {&outcome.recordWarnings, &outcome.warnings})
    for (const serial::Failure& warning : *list) object["warnings"].push_back(ReasonJson(warning));
  return object;
}

json ScanJson(const service::ScanResult& result, const Outcome& outcome) {
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
  return {{"outcome", outcome.outcome},
          {"registers", registers},
          {"conflicts", conflicts},
          {"reason", FailureJson(outcome.failure)}};
}

}  // namespace

std::string Line(const json& object) { return JsonText(object) + '\n'; }

json ReasonJson(const serial::Failure& failure) {
  json object = FailureJson(failure);
  if (failure.is(service::SessionFailure::RecordPending))
    PutNumber(object, static_cast<std::uint8_t>(failure.got));
  const serial::Failure* busy = &failure;
  while (busy->cause && !busy->is(serial::LineFailure::PortInUse)) busy = busy->cause.get();
  if (busy->is(serial::LineFailure::PortInUse)) {
    const Holder holder = ParseHolder(busy->detail);
    object["pid"] = JsonOr(holder.pid);
    object["command"] = JsonOr(holder.command);
  }
  return object;
}

int UsageError(const std::string& problem, bool asJson, std::ostream& out, std::ostream& err) {
  err << UsageErrorText(problem);
  if (asJson) out << UsageJsonLine(problem);
  return kExitUsage;
}

void PrintOutcome(const Outcome& outcome, bool asJson, std::ostream& out, std::ostream& err) {
  for (const serial::Failure& warning : outcome.warnings)
    err << kProgram << ": " << serial::DescribeFailure(warning) << '\n';
  if (!outcome.message.empty())
    err << (outcome.reasonInJsonOnly ? outcome.message : WithReason(outcome.message, outcome.failure))
        << '\n';
  if (asJson && outcome.outcome == "usage")
    out << UsageJsonLine(outcome.message);  // one shape for every usage error
  else if (asJson)
    out << Line(OutcomeJson(outcome));
  else if (outcome.numberByte)
    out << service::NetworkNumberText(*outcome.numberByte) << '\n';
}

void PrintScan(const service::ScanResult& result, const Outcome& outcome, bool asJson, std::ostream& out,
               std::ostream& err) {
  if (!outcome.message.empty()) err << WithReason(outcome.message, outcome.failure) << '\n';
  if (asJson) {
    out << Line(ScanJson(result, outcome));
    return;
  }
  for (const service::FoundRegister& found : result.registers)
    out << service::NetworkNumberText(found.address) << "  " << Hex(found.address) << "  "
        << FirmwareText(found.firmwareVersion) << '\n';
  for (const std::uint8_t address : result.conflicts)
    out << "--  " << Hex(address) << "  " << kConflictText << '\n';
}

}  // namespace kkm::cli
