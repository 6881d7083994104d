#pragma once
// Listing every register on the line. Each of the 256 address bytes, 0xFF
// down to 0x00, goes out in MARK parity with 10 ms for an answer (and two more
// once something came, for a second voice). Exactly one byte equal to the
// address is a register there; any other answer (a wrong byte, more than one
// byte) means several devices answered that address at once and garbled each
// other: a conflict, never a register. Every register found is then asked its
// firmware version. The session ends unconnected, its port open.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/Failure.h"
#include "service/Session.h"

namespace kkm::service {

struct FoundRegister {
  std::uint8_t address = 0;
  // The version code (105 for 1.0.5); nothing when the query went unanswered.
  std::optional<std::int32_t> firmwareVersion;
  bool operator==(const FoundRegister&) const = default;
};

struct ScanResult {
  bool portOpened = false;
  std::vector<FoundRegister> registers;  // in scan order, highest address first
  std::vector<std::uint8_t> conflicts;   // likewise
  // Why the port did not open, or (portOpened) why the census stopped part-way:
  // PortVanished when the port went away or stopped sending; the lists then
  // hold what was found before, without firmware versions.
  serial::Failure failure;
  bool complete() const { return portOpened && !failure.failed(); }
};

ScanResult ScanLine(Session& session, const std::string& portName);

// Whether anything answers `address` on the session's open port, asked as the
// scan asks one candidate (MARK parity, the scan's wait): an echo or several
// voices both mean the address is taken. The port is left in MARK parity.
bool AddressAnswers(Session& session, std::uint8_t address);

// Whether writing `number` on the connected session would give two registers
// one address: before a write's first exchange on the processor link, the new
// number's address byte is sent as the scan sends it, and any answer is
// another register (NumberTaken, the address in `expected`). The KIA link
// reaches one register only, and the register's own number is no conflict:
// neither sends anything.
serial::Status CheckNumberFree(Session& session, Link link, int number);

// "1.0.5" for the code 105: its decimal digits separated by dots.
std::string FirmwareVersionText(std::int32_t versionCode);

}  // namespace kkm::service
