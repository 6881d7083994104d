#pragma once
// The simulated cash register: data memory (64 KB), non-volatile memory
// (8 KB) and the processor firmware of the multi-drop line.
//
// Multi-drop rules: a MARK byte is an address byte; the register whose line
// address it is (the network number byte at data memory 0x020F) answers with
// the same byte and is then selected for one frame, sent in SPACE parity:
// L, command, fields, S, with all L + 2 bytes summing to 0xFF. A good frame
// with a known command is acknowledged with S, executed, and answered with
// L, data, C when the command returns data. An address byte for another
// register deselects it; SPACE bytes while it is not selected, bytes without a
// MARK/SPACE ninth bit, frames with a bad checksum, unknown commands and
// frames whose bytes stall for longer than the frame gap are ignored.
//
// Commands: 0x05 / 0x06 write / read data memory, 0x16 / 0x17 read / write
// non-volatile memory (addresses wrap at 8 KB), 0x14 firmware version query
// (reply of nine data bytes, the version in D5 and D6). Answers go out at line
// speed with SPACE parity after configurable delays.
//
// Exchanges are counted from 1: each address byte for this register starts
// one, except the repeats that follow a busy answer 0x65; a frame taken
// without an address byte (setAddressPhaseRequired(false)) starts one too.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "sim/line/LineDevice.h"

namespace kkm::sim {

inline constexpr std::size_t kDataMemorySize = 65536;
inline constexpr std::size_t kNonVolatileSize = 8192;
using DataMemory = std::array<std::uint8_t, kDataMemorySize>;
using NonVolatileMemory = std::array<std::uint8_t, kNonVolatileSize>;

// Where the register keeps its network number byte.
inline constexpr std::uint16_t kLineAddressCell = 0x020F;     // data memory: the byte it answers to
inline constexpr std::uint16_t kWorkingNumberCell = 0x1140;   // data memory, firmware 1.0.5
inline constexpr std::uint16_t kStoredNumberCell = 0x073E;    // non-volatile
inline constexpr std::uint16_t kStoredChecksumCell = 0x0740;  // non-volatile: sum of the block below
inline constexpr std::uint16_t kChecksumBlockStart = 0x0700;  // block 0x0700..0x073F
inline constexpr std::uint16_t kChecksumBlockEnd = 0x0740;

inline constexpr std::uint8_t kBusyAnswer = 0x65;

enum class RegisterFault : std::uint8_t {
  Silent,            // no answer at all in the exchange; the command is not executed
  Busy,              // `count` busy answers 0x65 before the echo
  WrongEcho,         // the address byte is answered with `bytes[0]` (default: its complement)
  WrongAck,          // the acknowledgement is `bytes[0]` (default: S complemented); the command runs
  NoReply,           // acknowledged and executed, but no reply
  BadReplyChecksum,  // the reply's checksum byte is one too high
  ShortReply,        // the reply lacks its checksum byte
  StrayBytes,        // `bytes` (default 0x00 0x55) follow the exchange's last answer
};

// Which exchanges a fault hits. Busy and WrongEcho act in the address phase,
// before the command is known: with `command` set they have no effect. Silent
// with `command` set silences the frame phase only (the echo went out; no
// acknowledgement, nothing executed). StrayBytes needs an executed frame.
struct FaultRule {
  RegisterFault fault = RegisterFault::Silent;
  std::uint32_t exchange = 0;           // the exchange number it hits; 0: any
  std::optional<std::uint8_t> command;  // only frames carrying this command
  std::uint32_t occurrence = 0;         // with `command`: only its n-th frame (from 1); 0: any
  std::uint32_t times = 1;              // how many exchanges it hits at most; 0: no limit
  std::vector<std::uint8_t> bytes;      // WrongEcho / WrongAck / StrayBytes
  std::uint32_t count = 2;              // Busy: answers 0x65 before the echo
};

struct RegisterTiming {
  double echoDelayMs = 2.0;   // address byte arrived -> echo (or 0x65) starts
  double ackDelayMs = 2.0;    // frame's last byte arrived -> acknowledgement starts
  double replyDelayMs = 1.0;  // acknowledgement sent -> reply starts
  double frameGapMs = 50.0;   // a frame whose next byte is later than this is dropped
};

// One command the firmware executed (acknowledged).
struct ExecutedCommand {
  std::uint8_t command;
  std::uint16_t address;  // 0 for the version query
  std::uint8_t count;     // 0 for the version query
  SimTime at;             // arrival of the frame's last byte
  bool operator==(const ExecutedCommand&) const = default;
};

class CashRegister : public LineDevice {
 public:
  // Blank memories: the register answers to the address byte 0x00.
  CashRegister();
  // A register holding `networkNumber` (1..99, else std::out_of_range): its
  // byte at non-volatile 0x073E, data memory 0x020F and 0x1140, and 0x0740
  // the sum of the block 0x0700..0x073F.
  explicit CashRegister(int networkNumber);

  // 0xFF minus the packed BCD of `number` (45 -> 0xBA).
  static std::uint8_t NetworkNumberByte(int number);

  DataMemory& dataMemory() { return *dataMemory_; }
  NonVolatileMemory& nonVolatile() { return *nonVolatile_; }
  const DataMemory& dataMemory() const { return *dataMemory_; }
  const NonVolatileMemory& nonVolatile() const { return *nonVolatile_; }
  // The byte it answers to: data memory 0x020F.
  std::uint8_t lineAddress() const { return (*dataMemory_)[kLineAddressCell]; }
  // Sum of the non-volatile block 0x0700..0x073F, and whether 0x0740 holds it.
  std::uint8_t nonVolatileBlockSum() const;
  bool nonVolatileChecksumHolds() const;

  // Power-up: the network number byte at non-volatile 0x073E goes to data
  // memory 0x020F and 0x1140; a half-received frame, a selection, pending
  // answers and a busy phase are lost. Counters, faults and the log stay.
  void powerUp();

  // Version bytes D5 and D6 of the version reply (1.0.5 by default: 0x01 0x05).
  void setFirmwareVersion(std::uint8_t d5, std::uint8_t d6);
  void setTiming(const RegisterTiming& timing) { timing_ = timing; }
  const RegisterTiming& timing() const { return timing_; }
  // Busy answers 0x65 before the echo, in every exchange; or in every one
  // without end.
  void setBusyAnswers(std::uint32_t count) { busyAnswers_ = count; }
  void setBusyForever(bool endless) { busyForever_ = endless; }
  // False: frames in SPACE parity are taken without an address byte first
  // (a point-to-point register). True by default.
  void setAddressPhaseRequired(bool required) { addressPhaseRequired_ = required; }

  void addFault(const FaultRule& rule) { faults_.push_back({rule}); }
  // Shorthands: `fault` in exchange `exchange`; in the `occurrence`-th frame
  // carrying `command` (0: every such frame). `bytes` as in FaultRule.
  void faultOnExchange(std::uint32_t exchange, RegisterFault fault, std::vector<std::uint8_t> bytes = {});
  void faultOnCommand(std::uint8_t command, RegisterFault fault, std::uint32_t occurrence = 1,
                      std::vector<std::uint8_t> bytes = {});
  void clearFaults() { faults_.clear(); }

  const std::vector<ExecutedCommand>& log() const { return log_; }
  void clearLog() { log_.clear(); }
  std::uint32_t exchangeCount() const { return exchange_; }

  // LineDevice.
  void connect(DeviceTransmitter& transmitter) override { transmitter_ = &transmitter; }
  void receive(std::uint8_t byte, Parity parity, SimTime at) override;
  void advanceTo(SimTime until) override;
  // Only its queued answers go out on their own.
  SimTime nextActionAt() const override { return outbox_.empty() ? kIdleForever : outbox_.front().first; }

 private:
  struct ActiveRule {
    FaultRule rule;
    std::uint32_t hits = 0;
    std::uint32_t seen = 0;  // frames with the rule's command so far (command rules)
  };
  enum class Phase : std::uint8_t { Address, Frame };

  void onOwnAddress(SimTime at);
  void onDataByte(std::uint8_t byte, SimTime at);
  void onFrame(SimTime at);
  void beginExchange();
  // The first rule hitting the current exchange in `phase`, counted as a hit;
  // nullptr when none does. It stays valid until a fault is added or cleared.
  const FaultRule* takeFault(Phase phase, std::optional<std::uint8_t> command);
  // Executes a checked frame; the reply's data bytes, nothing for a write,
  // or no value when the frame is not a command the firmware knows.
  std::optional<std::vector<std::uint8_t>> execute(SimTime at);
  // Queues `byte` to go out at `at`, after every answer queued for the same moment.
  void send(SimTime at, std::uint8_t byte);
  static SimTime Ms(double ms) { return static_cast<SimTime>(ms * static_cast<double>(kNsPerMs)); }

  std::unique_ptr<DataMemory> dataMemory_;
  std::unique_ptr<NonVolatileMemory> nonVolatile_;
  std::array<std::uint8_t, 9> versionData_{};
  RegisterTiming timing_;
  std::uint32_t busyAnswers_ = 0;
  bool busyForever_ = false;
  bool addressPhaseRequired_ = true;
  std::vector<ActiveRule> faults_;
  std::vector<ExecutedCommand> log_;
  DeviceTransmitter* transmitter_ = nullptr;

  // Protocol state.
  std::uint32_t exchange_ = 0;
  bool selected_ = false;
  bool silent_ = false;       // the current exchange answers nothing
  bool inBusyPhase_ = false;  // the last answer was 0x65: the repeat continues the exchange
  std::uint32_t busyLeft_ = 0;
  bool busyLeftForever_ = false;
  std::vector<std::uint8_t> frame_;
  SimTime lastFrameByteAt_ = 0;
  // Answers waiting for their moment, in the order they go out (a few at a
  // time: kept in one block that is reused, not a node per byte).
  std::vector<std::pair<SimTime, std::uint8_t>> outbox_;
};

}  // namespace kkm::sim
