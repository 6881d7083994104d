#include "tools/kkm-netnum-cli/HistoryCommand.h"

#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>

#include "service/History.h"
#include "tools/kkm-netnum-cli/ExitStatus.h"
#include "tools/kkm-netnum-cli/Json.h"
#include "tools/kkm-netnum-cli/Render.h"

namespace kkm::cli {

namespace {

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

// A stored history line as one readable line.
void PrintEntry(const nlohmann::json& entry, std::ostream& out) {
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

}  // namespace

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
    PrintEntry(entry, out);
  }
  if (asJson) out << Line({{"outcome", "done"}, {"entries", entries}, {"reason", nullptr}});
  return kExitDone;
}

}  // namespace kkm::cli
