#pragma once
// The service history: one JSON line per write or finish that sent anything
// to a register, and per record discarded (a write refused before its first
// exchange changed nothing and leaves no line),
// appended to history.jsonl in the state folder (StateFiles.h), newest last.
// A line holds the time with its zone, the program and its version, the port
// as named and the device, the link, the line address, the old and the new
// number, the outcome, the exchange that failed and the reason; a write made
// while commissioning a row also holds "commission": {"sequence", "numbers"}
// (lines without it are ordinary writes). When the file
// passes kHistoryRotateBytes it becomes history.jsonl.1 (replacing an older
// one) and a new file starts, so the history never holds more than about
// twice that.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/Failure.h"
#include "service/Session.h"

namespace kkm::service {

inline constexpr std::size_t kHistoryRotateBytes = 256 * 1024;
inline constexpr const char* kHistoryFile = "history.jsonl";
inline constexpr const char* kOlderHistoryFile = "history.jsonl.1";

struct HistoryEntry {
  std::string action;   // "write", "finish" or "discard"
  std::string outcome;  // "written", "failed", "discarded"
  std::string portName;
  std::string device;
  Link link = Link::Processor;
  std::uint8_t registerAddress = 0;
  std::optional<std::uint8_t> oldByte;  // the non-volatile number before, when read
  std::uint8_t newByte = 0;
  int failedExchange = 0;        // 0: none
  serial::Failure failure = {};  // why it failed, stored as {"code", "text"}
  std::optional<CommissionMark> commission = {};
};

// Appends the entry stamped with the time and `program` (and this version);
// the file's failure when it cannot be written.
serial::Status AppendHistory(const std::string& program, const HistoryEntry& entry);

// The history's lines, oldest first (the older file's before the current
// one's); a file that cannot be read gives its failure and no lines.
struct HistoryRead {
  std::vector<std::string> lines;
  serial::Status status;
};
HistoryRead HistoryLines();

// "2026-12-07T17:40:12+01:00": local time with its offset from UTC.
std::string LocalTimeWithZone();

}  // namespace kkm::service
