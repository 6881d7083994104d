#pragma once
// Why the last link operation failed. The operations keep their true/false
// results; beside them each one clears the calling thread's last failure on
// entry and records one where it returns false, much as the C library does
// with errno. A failure has a stable code (and a stable machine name such as
// "no-echo" for programs and for grep) plus the details a technician needs:
// how long was waited, which byte was expected and which came.

#include <cstdint>
#include <string>

namespace kkm::serial {

enum class FailureCode : std::uint8_t {
  None,                  // the last operation succeeded
  NoEcho,                // the address byte was not echoed within `waitedMs`
  WrongEcho,             // the address byte was answered with another byte
  BusyTooLong,           // busy answers 0x65 went on for longer than `waitedMs`
  NoAcknowledgement,     // the frame was not acknowledged within `waitedMs`
  WrongAcknowledgement,  // the acknowledgement was another byte
  ReplyTooShort,         // fewer reply bytes than `expected` came within `waitedMs`
  ReplyChecksum,         // the reply does not sum to its checksum
  ReplyTooLong,          // the reply's length byte exceeds the buffer
  BusError,              // the KIA's EEPROM routine reported a bus error `got`
  RequestRefused,        // the arguments were refused before the port was touched
  PortUnavailable,       // the port cannot be opened (no finer reason known)
  NoSuchDevice,          // the device path does not exist
  PermissionDenied,      // the user may not open the device
  PortInUse,             // another program holds the port
  NotATerminal,          // the path is not a serial (terminal) device
  ParityDropped,         // the adapter does not keep MARK/SPACE parity
  PortVanished,          // the port disappeared (adapter unplugged, cable pulled)
  NoRegisterFound,       // no address of the scan was echoed
  WrongFirmware,         // the register's firmware version `got` is not supported
  NoKiaAnswer,           // the KIA controller did not answer its probe
};
inline constexpr int kFailureCodeCount = static_cast<int>(FailureCode::NoKiaAnswer) + 1;

// One failure and its details; -1 marks a detail that does not apply.
struct Failure {
  FailureCode code = FailureCode::None;
  std::int32_t waitedMs = -1;  // how long the operation waited
  std::int32_t expected = -1;  // the byte (or count) expected
  std::int32_t got = -1;       // the byte (or count, version) received
  std::int32_t osError = 0;    // errno of a port that could not be opened
  std::string holders = {};    // the other processes holding a port in use, when known
  bool operator==(const Failure&) const = default;
};

// The calling thread's last failure; code None after a success.
const Failure& LastFailure();
void ClearFailure();
// Records `failure` and returns false, so that `return Fail(...)` ends an
// operation. The link operations use FailOn (PortHandle.h), which puts a
// vanished port or a dropped parity before the symptom they caused.
bool Fail(const Failure& failure);

// The stable machine name of a code ("no-echo", "port-in-use", ...).
const char* FailureName(FailureCode code);
// A sentence a technician understands, in Russian, with the details filled
// in, e.g. "эхо адресного байта FE не пришло за 10 мс".
std::string FailureText(const Failure& failure);
// "<name>: <text>", the form used on standard error and in the trace.
std::string DescribeFailure(const Failure& failure);

}  // namespace kkm::serial
