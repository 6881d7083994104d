#pragma once
// The serial line: opening the COM port with the fixed line settings, the
// MARK/SPACE parity switch of the multi-drop protocol, and the waits.
//
// Line settings applied on open: 9600 bit/s, 8 data bits, no parity, one stop
// bit, no input parity check, DTR low, RTS handshake (RTS high), buffers of
// 1024 bytes, read time-outs 1 ms between bytes and 100 + 20 * N ms in all,
// write time-out 100 + N ms.

#include <cstdint>
#include <string>

#include "serial/Clock.h"
#include "serial/Failure.h"
#include "serial/Platform.h"
#include "serial/PortHandle.h"

namespace kkm::serial {

inline constexpr std::uint32_t kBaudRate = 9600;
inline constexpr std::uint32_t kDriverBufferSize = 1024;
inline constexpr std::uint32_t kLineFlagWord = 0x2081;  // binary, TX continue on XOFF, RTS handshake
inline constexpr Timeouts kPortTimeouts{1, 20, 100, 1, 100};

// "COM" followed by the digit of the port number.
std::string ComPortName(std::uint8_t portNumber);

// Opens COM<portNumber> and stores the result in `port` at once, valid or not.
// A failure when the port does not exist or is in use, saying why as the
// platform told (PortUnavailable when it gave no finer reason). Once the port
// is open the set-up calls are not examined: the result is success.
Status OpenComPort(Platform& platform, std::uint8_t portNumber, PortHandle& port);
// The same for a port named as the platform knows it ("COM12", a device path).
Status OpenNamedPort(Platform& platform, const std::string& name, PortHandle& port);
// The same for a name already resolved (Platform::resolvePort): the device it
// led to is opened, not the name resolved again.
Status OpenResolvedPort(Platform& platform, const std::string& name, const ResolvedPort& resolved,
                        PortHandle& port);

// Purges (0x0F) and closes the port: true when the close succeeded, false when
// no port was open.
bool CloseComPort(PortHandle& port);

// MARK parity when `mark`, SPACE otherwise; no other setting changes and a
// refusal goes unreported. The new parity applies to bytes written afterwards.
// A port that reads back another parity is noted as one that drops MARK/SPACE
// (PortHandle::parityDropped), for the failure that follows.
void SetAddressParity(PortHandle& port, bool mark);

// Polls the count of queued input until it reaches `count` or more than
// `timeoutMs` ms have passed; the result is that of the last poll. Consumes
// nothing.
bool WaitForInput(PortHandle& port, std::uint32_t count, std::uint32_t timeoutMs);

// Returns at the first tick reading more than `durationMs` after the start.
void DelayMs(Clock& clock, std::uint32_t durationMs);

// Returns at the first tick reading more than `durationMs` + 1 after the start.
void PauseMs(Clock& clock, std::uint32_t durationMs);

}  // namespace kkm::serial
