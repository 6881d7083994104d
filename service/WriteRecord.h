#pragma once
// The record of a network number write in flight. It is saved before the
// write's first exchange, completed with the old number and checksum once
// exchanges 2 and 3 have read them, and removed only when exchange 6 has been
// acknowledged; so a write cut anywhere leaves what finishing it needs.
//
// One record per device and link, in the per-user state folder (StateFiles.h):
// the same device reached under two names ("COM1" mapped to it, its path, a
// link to it) finds the same record. The file is small versioned text, one
// key=value per line, replaced atomically. A record that cannot be read back
// whole and consistent is refused, never acted on. Records of the earlier
// format (version 1, named after the port and always holding the old bytes)
// are still read.

#include <cstdint>
#include <string>

#include "serial/Platform.h"
#include "serial/PortHandle.h"
#include "service/Session.h"

namespace kkm::service {

struct WriteRecord {
  std::string portName;  // as the operator named it ("COM1", a device path)
  std::string device;    // the device it led to, links resolved: the record's key
  Link link = Link::Processor;
  std::uint8_t registerAddress = 0;  // the line address the write used
  std::uint8_t newByte = 0;          // b
  // s_old and c_old, once exchanges 3 and 2 have read them.
  bool oldKnown = false;
  std::uint8_t numberOld = 0;
  std::uint8_t checksumOld = 0;
  // c_old - s_old + b.
  std::uint8_t checksumNew() const { return static_cast<std::uint8_t>(checksumOld - numberOld + newByte); }
  bool operator==(const WriteRecord&) const = default;
};

// The file's text, and back. Parsing fails (false, `reason` says why) on an
// unknown version, a missing, repeated or malformed key, a missing end line,
// or old bytes given in part or with a checksum that does not follow from them.
std::string FormatRecord(const WriteRecord& record);
bool ParseRecord(const std::string& text, WriteRecord& record, std::string& reason);

// The device a port name leads to on `platform`, links resolved (on Windows
// the port's name in capitals): the key of its records.
std::string DeviceOf(const serial::Platform& platform, const std::string& portName);
// The record's file for a device and link (the folder need not exist).
std::string RecordPath(const std::string& device, Link link);

// Replaces the record atomically, creating the folder; false with a reason.
bool SaveRecord(const WriteRecord& record, std::string& reason);

enum class RecordStatus { None, Found, Unusable };
struct LoadedRecord {
  RecordStatus status = RecordStatus::None;
  WriteRecord record;  // when Found
  std::string reason;  // when Unusable: why, with the file's path
};
// The record for `device` and `link`; `portName` finds a record of the
// earlier format, which was named after the port.
LoadedRecord LoadRecord(const std::string& device, Link link, const std::string& portName);
// The record of the session's device.
LoadedRecord LoadRecord(const Session& session, Link link);

// Removes the record (of either format); a record that is not there counts as removed.
bool RemoveRecord(const WriteRecord& record, std::string& reason);

}  // namespace kkm::service
