#pragma once
// The record of a network number write in flight. A write that stops between
// its fourth and fifth exchanges leaves the register's non-volatile number
// changed and its checksum not yet moved; the record keeps what finishing it
// needs, so that the next connection to the same port and link can finish it.
//
// One record per port (as the operator named it) and link, in the per-user
// state folder: $XDG_STATE_HOME/kkm-netnum, else ~/.local/state/kkm-netnum
// (%LOCALAPPDATA%\kkm-netnum on Windows). The file is small versioned text,
// one key=value per line, written atomically (temporary file, flushed to
// disk, renamed over the old one). A record that cannot be read back whole
// and consistent is refused, never acted on.

#include <cstdint>
#include <string>

#include "serial/PortHandle.h"
#include "service/Session.h"

namespace kkm::service {

struct WriteRecord {
  std::string portName;    // as the operator named it ("COM1", a device path)
  std::string devicePath;  // where that name led at the time, for the trace only
  Link link = Link::Processor;
  std::uint8_t registerAddress = 0;  // the line address the write used
  std::uint8_t newByte = 0;          // b
  std::uint8_t numberOld = 0;        // s_old, read from 0x073E
  std::uint8_t checksumOld = 0;      // c_old, read from 0x0740
  std::uint8_t checksumNew = 0;      // c_old - s_old + b
  bool operator==(const WriteRecord&) const = default;
};

// The file's text, and back. Parsing fails (false, `reason` says why) on an
// unknown version, a missing, repeated or malformed key, a missing end line,
// or a checksum that does not follow from the other bytes.
std::string FormatRecord(const WriteRecord& record);
bool ParseRecord(const std::string& text, WriteRecord& record, std::string& reason);

// The state folder; empty when the environment names none.
std::string StateFolder();
// The record's file for a port and link (the folder need not exist).
std::string RecordPath(const std::string& portName, Link link);

// Writes the record atomically, creating the folder; false with a reason.
bool SaveRecord(const WriteRecord& record, std::string& reason);

enum class RecordStatus { None, Found, Unusable };
struct LoadedRecord {
  RecordStatus status = RecordStatus::None;
  WriteRecord record;  // when Found
  std::string reason;  // when Unusable: why, with the file's path
};
LoadedRecord LoadRecord(const std::string& portName, Link link);

// Removes the record; a record that is not there counts as removed.
bool RemoveRecord(const std::string& portName, Link link, std::string& reason);

// Where a record that could not be written, read or removed is reported: one
// line on standard error and, when `port` is traced, in its trace.
void ReportRecordFailure(serial::PortHandle& port, const std::string& reason);

}  // namespace kkm::service
