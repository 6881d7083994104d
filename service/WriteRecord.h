#pragma once
// The record of a network number write in flight. It is saved before the
// write's first exchange, completed with the old number and checksum once
// exchanges 2 and 3 have read them, and removed only when exchange 6 has been
// acknowledged; so a write cut anywhere leaves what finishing it needs.
//
// One record per device and link, in the per-user state folder (StateFiles.h),
// keyed by the device's stable name: the same device reached under two names
// ("COM1" mapped to it, its path, a link to it, a bind mount of it, the
// kernel name a USB adapter got this time) finds the same record, and a
// record kept under another name of the device is taken over by its stable
// one. Only one process at a time works on a device's records: the device's
// lock (HoldDevice) is taken before its record is read and held for as long
// as the session uses the device. The file is small versioned text, one
// key=value per line, replaced atomically. A record that cannot be read back
// whole and consistent is refused, never acted on. Records of the earlier
// format (version 1, named after the port and always holding the old bytes)
// are still read.

#include <cstdint>
#include <string>
#include <vector>

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

// The file's text, and back. Parsing fails (record-unusable, `detail` says why) on an
// unknown version, a missing, repeated or malformed key, a missing end line,
// or old bytes given in part or with a checksum that does not follow from them.
std::string FormatRecord(const WriteRecord& record);
serial::Status ParseRecord(const std::string& text, WriteRecord& record);

// The device a port name leads to on `platform`, by its stable name: links
// resolved, then for a character device its /dev/serial/by-id name where it
// has one, else its node under /dev (on Windows the port's name in
// capitals). The key of its records and of its lock.
std::string DeviceOf(const serial::Platform& platform, const std::string& portName);

// Takes the lock of the device `portName` leads to for the session (keeping it
// when the session holds it already; giving up one of another device first),
// and notes the device as the session's. Fails with the port in use, naming
// the holding process, when another process (or another session) holds it. A
// state folder that cannot hold the lock is no failure here: the write that
// needs it will refuse to start.
serial::Status HoldDevice(Session& session, const std::string& portName);
// The session's device as resolved when its port was opened (or now, by its port name).
std::string DeviceKeyOf(const Session& session);
// The same for the device path the session's port name was resolved to.
serial::Status HoldResolvedDevice(Session& session, const std::string& devicePath);
// The stable name (the records' key) of a device path a port name led to.
std::string DeviceKey(const std::string& devicePath);
// The record's file for a device and link (the folder need not exist).
std::string RecordPath(const std::string& device, Link link);

// Replaces the record atomically, creating the folder.
serial::Status SaveRecord(const WriteRecord& record);

enum class RecordStatus { None, Found, Unusable };
struct LoadedRecord {
  RecordStatus status = RecordStatus::None;
  WriteRecord record;       // when Found
  serial::Failure failure;  // when Unusable: record-unusable, why, with the file's path
};
// The record for `device` and `link`; `portName` finds a record of the
// earlier format, which was named after the port.
LoadedRecord LoadRecord(const std::string& device, Link link, const std::string& portName);
// The record of the session's device.
LoadedRecord LoadRecord(const Session& session, Link link);

// Every readable record of `link` in the state folder, whatever its device.
std::vector<WriteRecord> AllRecords(Link link);
// Moves `record` to the session's device (its port name and device), removing
// it from where it was; the failure when it cannot be saved there.
serial::Status TakeOverRecord(const Session& session, WriteRecord& record);

// Removes the record (of either format); a record that is not there counts as removed.
serial::Status RemoveRecord(const WriteRecord& record);

}  // namespace kkm::service
