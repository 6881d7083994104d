#pragma once
// Connect: close whatever the last attempt left open, open the port with the
// fixed line settings, make contact through the chosen link and fix the
// firmware version, then load the memory map for it.
//   Processor link: address scan, version query, only version 105 accepted.
//   With a named register (namedAddress), no scan: the version query goes to
//   that line address, and its address echo is the register's answer; no echo
//   there is the no-register outcome.
//   KIA link: one data-memory read at ProbeAddress as a probe; version 105.
// Every failure leaves the session unconnected; the port opened by a failed
// attempt stays open until the next attempt or the session's end.

#include <cstdint>
#include <string>

#include "serial/Failure.h"
#include "service/Link.h"
#include "service/Session.h"

namespace kkm::service {

inline constexpr int kContactAttemptsAfterCut = 3;
// The line counts as quiet after this long without a byte; it is awaited for at most kQuietLimitMs.
inline constexpr std::uint32_t kQuietLineMs = 100;
inline constexpr std::uint32_t kQuietLimitMs = 1000;

// Closes whatever port the session had open, notes `portName` and where it
// leads, holds the device's lock (HoldDevice, WriteRecord.h) and opens the
// port with the fixed line settings. A device whose lock another process
// holds is a port in use, and is not opened.
serial::Status OpenSessionPort(Session& session, const std::string& portName);

// The port by name: "COM1".."COM255" as the platform maps them, or a device path.
// When the device and link hold the record of a cut write, the line may still
// be carrying the rest of the cut frame: the connection then waits for the
// line to fall quiet before each of up to kContactAttemptsAfterCut attempts at
// contact.
ConnectResult Connect(Session& session, const std::string& portName, Link link);
// COM<portNumber>, as the setup dialog chooses it.
ConnectResult Connect(Session& session, std::uint8_t portNumber, Link link);

}  // namespace kkm::service
