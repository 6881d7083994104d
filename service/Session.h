#pragma once
// The technician's session: the one serial port, the register's line address,
// its firmware version and the firmware's memory map. The session owns the
// port and closes it when it ends. Connection.h opens the port and makes
// contact.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "memmap/MemoryMap.h"
#include "serial/Failure.h"
#include "serial/Platform.h"
#include "serial/PortHandle.h"
#include "service/Link.h"
#include "service/StateFiles.h"

namespace kkm::service {

inline constexpr std::int32_t kRequiredFirmwareVersion = 105;

// Marks the history lines of a session's writes as part of commissioning a
// row of registers: the register's place in the row (from 1) and the list of
// numbers the row takes its numbers from, as the technician gave it.
struct CommissionMark {
  int sequence = 0;
  std::string numbers;
  bool operator==(const CommissionMark&) const = default;
};

struct Session {
  // `programName`: the program that runs the session, as the service history,
  // the records' locks and its messages name it.
  Session(serial::Platform& p, std::string programName)
      : platform(p), port(p.clock()), program(std::move(programName)) {}
  // Purges and closes the port, if one is open.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  serial::Platform& platform;
  serial::PortHandle port;
  // The port as the last attempt named it, and where that name led.
  std::string portName;
  std::string devicePath;
  // The device's stable name (the key of its records), resolved once when the
  // port is opened, and the lock that keeps other processes off its records.
  std::string deviceKey;
  StateLock deviceLock;
  // The program that runs the session, as the service history names it.
  std::string program;
  std::uint8_t registerAddress = 0xFF;
  // The line address of the register meant on a shared line; nothing: the
  // first register the scan finds.
  std::optional<std::uint8_t> namedAddress;
  std::int32_t firmwareVersion = 0;
  memmap::MemoryMap memoryMap;
  // Told before each step of a long operation starts, `step` 1..`total`: the
  // line scan's 256 addresses, the write's 6 exchanges. Empty: nobody asks.
  std::function<void(int step, int total)> progress;
  // Set while a commissioning writes: its writes' history lines carry it.
  std::optional<CommissionMark> commission;
};

// Tells the session's progress callback, if it has one, that `step` of `total` starts.
void ReportProgress(const Session& session, int step, int total);

enum class ConnectOutcome { Connected, PortUnavailable, NoRegister, WrongFirmware, NoKia };

struct ConnectResult {
  ConnectOutcome outcome = ConnectOutcome::Connected;
  // Why the attempt failed; none after a connection.
  serial::Failure failure;
  bool connected() const { return outcome == ConnectOutcome::Connected; }
};

}  // namespace kkm::service
