#pragma once
// Reading and writing the register processor's memory (commands 0x05, 0x06,
// 0x16, 0x17). Each command is one exchange: an address phase in MARK parity,
// the frame in SPACE parity, the acknowledgement (the frame's checksum byte
// echoed) and, for the reads, the reply L, data, C. Any missing or wrong answer
// ends the command at once with its failure (RegisterFailure, or the line's
// for a missing acknowledgement or a short reply). A successful command
// leaves the line in SPACE parity; one that fails in its address phase leaves
// it in MARK parity.

#include <cstdint>
#include <span>

#include "serial/Failure.h"
#include "serial/PortHandle.h"

namespace kkm::reg {

// The highest start address WriteRegisterBlock accepts.
inline constexpr std::uint16_t kHighestBlockWriteAddress = 0x0A80;
// After this long (from the first address byte) of busy answers 0x65 the
// version-105 address phase gives up.
inline constexpr std::uint32_t kBusyLimitMs = 10'000;

// Address phase of the block commands (purges 0x0F first), by version code:
//  100..104: the address byte once, 20 ms for its echo;
//  105: the address byte, 1650 ms for the echo; when nothing came, the byte
//    once more and 20 ms; a busy answer 0x65 starts over, until 10 s have
//    passed since the first address byte (kBusyLimitMs), then it fails;
//  any other code: no address byte at all.
// Success when the register echoed `lineAddress` (or no address phase is
// needed); the line is then in SPACE parity, otherwise still in MARK.
serial::Status SelectRegister(serial::PortHandle& port, std::uint8_t lineAddress, std::int32_t version);

// Byte commands: purge 0x0C, `registerAddress` in MARK parity (500 ms for the
// echo), then one write of the frame, 700 ms for the acknowledgement.
// ReadRegisterByte then waits 700 ms for exactly three reply bytes L, value, C
// and succeeds when they sum to 0xFF; `value` may hold the received byte even
// after a failure. WriteRegisterByte succeeds on the acknowledgement.
serial::Status ReadRegisterByte(serial::PortHandle& port, std::uint8_t registerAddress, std::uint16_t address,
                                std::uint8_t& value);
serial::Status WriteRegisterByte(serial::PortHandle& port, std::uint8_t registerAddress,
                                 std::uint16_t address, std::uint8_t value);

// Block read: purge 0x0C, SelectRegister, the frame one byte per write,
// 200 ms for the acknowledgement, 200 ms for L, 200 + L ms for the L data
// bytes and C. The data go to the front of `buffer`. Success when the reply's
// checksum holds; L is not compared with `count`. A reply longer than
// `buffer` is refused as soon as L is read: nothing is stored and the
// remaining bytes stay queued until the next purge.
serial::Status ReadRegisterBlock(serial::PortHandle& port, std::uint8_t lineAddress, std::uint16_t address,
                                 std::uint8_t count, std::span<std::uint8_t> buffer, std::int32_t version);

// Block write of the first `count` bytes of `data`: purge 0x0C,
// SelectRegister, the frame one byte per write, 200 ms for the
// acknowledgement. Fails without touching the port when `address` is above
// 0x0A80 (only the start is tested), or when `count` is outside 0..251 or
// larger than `data`.
serial::Status WriteRegisterBlock(serial::PortHandle& port, std::uint8_t lineAddress, std::uint16_t address,
                                  std::span<const std::uint8_t> data, std::int32_t count,
                                  std::int32_t version);

}  // namespace kkm::reg
