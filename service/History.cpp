#include "service/History.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>

#include "files/FileFailure.h"
#include "serial/Trace.h"
#include "service/NumberText.h"
#include "service/StateFiles.h"

namespace kkm::service {

namespace {

// A history file grown by other means than this program is still read up to this size.
constexpr std::size_t kMaxReadBytes = 16 * kHistoryRotateBytes;
// Appending and rotating happen under this lock, so that two programs never
// rotate one generation twice or append to the file being moved aside. It is
// held for a moment only; a holder that keeps it longer costs a warning, never a wait.
constexpr const char* kHistoryLock = "history.lock";
constexpr int kHistoryLockWaitMs = 2000;

// A failure as {"code", "text"}, or null for none.
nlohmann::json FailureJson(const serial::Failure& failure) {
  if (!failure.failed()) return nullptr;
  return {{"code", failure.name()}, {"text", failure.text()}};
}

nlohmann::json NumberOrNull(const std::optional<std::uint8_t>& byte) {
  return byte ? nlohmann::json(NetworkNumberText(*byte)) : nlohmann::json(nullptr);
}

}  // namespace

std::string LocalTimeWithZone() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  std::tm utc{};
#ifdef _WIN32
  localtime_s(&local, &now);
  gmtime_s(&utc, &now);
  std::tm localCopy = local;
  const long offset = static_cast<long>(_mkgmtime(&localCopy) - now);
#else
  localtime_r(&now, &local);
  gmtime_r(&now, &utc);
  std::tm localCopy = local;
  const long offset = static_cast<long>(timegm(&localCopy) - now);
#endif
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  // Offsets lie within a day either way.
  const int minutes = static_cast<int>((offset < 0 ? -offset : offset) / 60 % (24 * 60));
  char zone[8];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return std::string(text) + zone;
}

serial::Status AppendHistory(const std::string& program, const HistoryEntry& e) {
  nlohmann::json line = {
      {"time", LocalTimeWithZone()},
      {"program", program},
      {"version", serial::ProgramVersion()},
      {"action", e.action},
      {"outcome", e.outcome},
      {"port", e.portName},
      {"device", e.device},
      {"link", LinkName(e.link)},
      {"address", e.registerAddress},
      {"old_number", NumberOrNull(e.oldByte)},
      {"new_number", NetworkNumberText(e.newByte)},
      {"failed_exchange", e.failedExchange != 0 ? nlohmann::json(e.failedExchange) : nlohmann::json(nullptr)},
      {"reason", FailureJson(e.failure)},
  };
  if (e.commission)
    line["commission"] = {{"sequence", e.commission->sequence}, {"numbers", e.commission->numbers}};
  // Invalid UTF-8 in a name or reason is replaced, never a reason to lose the line.
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  LockAttempt locked = TakeStateLock(kHistoryLock, program, kHistoryLockWaitMs);
  if (locked.outcome == LockOutcome::Held) {
    const std::string path = StatePath(kHistoryFile);
    return files::FileError(files::FileFailure::InUse,
                            locked.holder.empty() ? path : path + " (процесс " + locked.holder + ")");
  }
  if (locked.outcome != LockOutcome::Taken) return locked.status;
  if (StateFileSize(kHistoryFile) + text.size() + 1 > kHistoryRotateBytes)
    if (serial::Status renamed = RenameStateFile(kHistoryFile, kOlderHistoryFile); !renamed) return renamed;
  return AppendStateFile(kHistoryFile, text);
}

HistoryRead HistoryLines() {
  HistoryRead read;
  for (const char* name : {kOlderHistoryFile, kHistoryFile}) {
    const StateFile file = ReadStateFile(name, kMaxReadBytes);
    if (!file.status) return {{}, file.status};
    std::istringstream stream(file.text);
    for (std::string line; std::getline(stream, line);)
      if (!line.empty()) read.lines.push_back(line);
  }
  return read;
}

}  // namespace kkm::service
