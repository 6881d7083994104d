#pragma once
// Finding the register on the line and asking its firmware version.

#include <cstdint>
#include <functional>

#include "serial/Failure.h"
#include "serial/PortHandle.h"

namespace kkm::reg {

// Tries the address bytes 0xFF down to 0x00 in MARK parity, each with a 10 ms
// wait for an answer (from the moment the candidate has left the port).
// Success when a register echoes the candidate just sent, or when the byte
// that comes during a candidate's wait is the previous candidate (that
// register's echo, come late): `registerAddress` then holds the echoed
// address. NoRegisterFound, with `registerAddress` unchanged, after 256
// unanswered candidates; WrongEcho at once when any other byte comes back.
// The line is left in MARK parity.
serial::Status FindRegisterAddress(serial::PortHandle& port, std::uint8_t& registerAddress);

// How long the address scan waits for each candidate's echo.
inline constexpr std::uint32_t kScanAnswerTimeoutMs = 10;

// What one candidate address byte brought back.
struct AddressAnswer {
  enum class Kind {
    None,      // silence
    Echo,      // the candidate itself, alone
    LateEcho,  // the candidate before it (that register's echo come late), alone
    Garbled,   // anything else: a foreign byte, or several voices at once
    Unsent,    // the byte could not be sent: the port has stopped working
  };
  Kind kind = Kind::None;
  std::uint8_t firstByte = 0;  // the first byte that came, when any
};

// One candidate: purges, sends `address` (the line must already be in MARK
// parity) and waits kScanAnswerTimeoutMs for an answer. With `secondVoiceMs`
// it then waits that long for a second byte and reads all that came, so that
// two registers answering at once show as Garbled; without (0), it reads the
// first byte alone.
AddressAnswer ProbeAddress(serial::PortHandle& port, std::uint8_t address, std::uint32_t secondVoiceMs);

// The one walk over the addresses: 0xFF down to 0x00, each probed as
// ProbeAddress does; `visit` hears of every candidate and its answer (None
// for silence) and returns false to stop the walk.
void ScanAddresses(serial::PortHandle& port, std::uint32_t secondVoiceMs,
                   const std::function<bool(std::uint8_t address, const AddressAnswer& answer)>& visit);

// Sends `address` in MARK parity (40 ms for the echo), then the query frame
// 01 14 EA in SPACE parity (400 ms for the acknowledgement EA and the
// eleven-byte reply). A failure, with `firmwareVersion` unchanged, when the
// echo or the acknowledgement is missing or wrong. Success otherwise: `firmwareVersion`
// holds the version code of the reply, or 0 when the reply is missing or its
// checksum fails (missing bytes count as 0).
serial::Status ReadFirmwareVersion(serial::PortHandle& port, std::uint8_t address,
                                   std::int32_t& firmwareVersion);

// The version code of the two BCD version bytes: the four nibbles written in
// decimal one after another (10..15 give two digits), read as a decimal
// number. 0x01 0x05 gives 105, 0x0A 0x05 gives 1005.
std::int32_t VersionCode(std::uint8_t d5, std::uint8_t d6);

}  // namespace kkm::reg
