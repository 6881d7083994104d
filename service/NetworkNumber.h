#pragma once
// Reading and writing the network number.
//
// The register keeps the number as its network number byte: 0xFF minus the
// number's packed BCD value (45 is 0xBA). Read: one data-memory read at
// NetworkNumberAddress. Write: six exchanges in this order, each tried once —
//   1. b at NetworkNumberAddress (data memory)
//   2. c_old := non-volatile 0x0740 (checksum), pause 200 ms
//   3. s_old := non-volatile 0x073E (number), pause 200 ms
//   4. b at non-volatile 0x073E
//   5. c_old - s_old + b at non-volatile 0x0740
//   6. b at 0x020F (data memory)
// then the register is addressed by b. The write stops at the first exchange
// that fails; after exchanges 2-5 the register's non-volatile memory may be
// half-written.
//
// The write keeps a WriteRecord for the session's device and link from before
// exchange 1 until exchange 6 is acknowledged (see WriteRecord.h), and does
// not start without one: not on top of another write's record, and not when
// the record cannot be saved. Before exchange 4 it compares what exchanges 2
// and 3 read with every record of the link: a register that shows another
// record's write half done (its number cell that record's new byte, its
// checksum still the old one) is that record's register, whatever name
// reached it; the record moves to this device and the write stops there,
// refused as on top of a pending record. A record that cannot be completed
// before exchange 4 stops the write as a refusal too: nothing non-volatile
// was sent, and the record saved before exchange 1 stays. Every write and finish ends with a line in the
// service history (History.h). A later connection finishes a cut write:
// CheckInterruptedWrite looks at what the register holds, and
// FinishInterruptedWrite does exactly what is left.

#include <cstdint>
#include <string>
#include <vector>

#include "serial/Failure.h"
#include "service/NumberText.h"
#include "service/Session.h"
#include "service/WriteRecord.h"

namespace kkm::service {

inline constexpr std::uint16_t kEepromNumberAddress = 0x073E;
inline constexpr std::uint16_t kEepromChecksumAddress = 0x0740;
inline constexpr std::uint16_t kNumberCopyAddress = 0x020F;
inline constexpr std::uint32_t kPauseAfterReadMs = 200;
inline constexpr int kWriteExchanges = 6;

struct ReadResult {
  std::uint8_t networkNumberByte = 0;  // valid when ok()
  serial::Failure failure;             // why it failed
  bool ok() const { return !failure.failed(); }
};

// Why a write did not start; nothing was sent then.
enum class WriteRefusal {
  None,
  RecordPending,   // another write on this device and link is to be finished or discarded first
  RecordUnusable,  // its record is damaged: to be discarded first
  NoRecord,        // the record cannot be saved (the state folder is missing, read-only, ...)
};

struct WriteResult {
  int failedExchange = 0;   // 0 when written or refused, else the exchange (1..6) that failed
  serial::Failure failure;  // why it failed or was refused
  WriteRefusal refused = WriteRefusal::None;
  // The record or the history that could not be kept up to date afterwards
  // (StateFile failures): the register is as the rest of the result says.
  std::vector<serial::Failure> warnings = {};
  bool written() const { return failedExchange == 0 && refused == WriteRefusal::None; }
  // Exchanges 2..5: the non-volatile memory may hold part of the write.
  bool partlyWritten() const { return failedExchange >= 2 && failedExchange <= 5; }
};

// What the register shows of a recorded write.
enum class InterruptedWrite {
  Untouched,   // the non-volatile memory is as before the write and the working copy holds b (exchange 1
               // reached this register): finishing is the whole write again
  Finishable,  // b, and c_old or c_new: finishing is exchange 1 again and what is left of exchanges 5 and 6
  Changed,     // the working copy holds b, the non-volatile memory something else: it cannot be
               // finished, only discarded
  OtherRegister,  // the connected register is not the record's: nothing is written, the record stays
};

struct InterruptedCheck {
  bool ok = false;  // the reads answered; the rest is valid only then
  InterruptedWrite state = InterruptedWrite::Changed;
  std::uint8_t numberNow = 0;
  std::uint8_t checksumNow = 0;
  serial::Failure failure;  // why the reads failed
};

// Processor link: a register that answers neither at the record's line
// address nor at the new byte (exchange 6 took effect) is another register,
// without an exchange. A record without the old bytes stopped before exchange
// 4: Untouched, without an exchange. Otherwise reads 0x0740 and 0x073E (each
// followed by the write's pause); when they do not show the write half done,
// also the working copy at NetworkNumberAddress, which tells the record's
// register (exchange 1 reached it) from another one with the same number.
// The record always stays.
InterruptedCheck CheckInterruptedWrite(Session& session, Link link, const WriteRecord& record);
// For an Untouched or Finishable check: the whole write of b again, or
// exchange 1 again, exchange 5 when 0x0740 still holds c_old, then exchange 6; the failed
// exchange is numbered as in the write. On success the session addresses the
// register by b and the record is removed; on failure the record stays.
WriteResult FinishInterruptedWrite(Session& session, Link link, const WriteRecord& record,
                                   const InterruptedCheck& check);
// Removes a record on the operator's explicit choice, with a history line:
// written() when it is gone; refused (RecordUnusable) with the failure when
// it cannot be removed.
WriteResult DiscardRecord(Session& session, const WriteRecord& record);
// The number a record's new byte stands for, two digits ("45").
std::string RecordedNumberText(const WriteRecord& record);

ReadResult ReadNetworkNumber(Session& session, Link link);
// Whether a write may start beside the record `pending` found for its device
// and link: refused (RecordPending, RecordUnusable, with the failure saying
// which write or what is damaged) or not (refused is None).
WriteResult WriteOnTopOf(const LoadedRecord& pending);
// `number` is 1..99; on success the session addresses the register by its
// byte. A record of an earlier write on the device and link refuses the write
// (RecordPending, RecordUnusable), unless it stopped before exchange 4: the
// non-volatile memory is then untouched and this write takes its place.
WriteResult WriteNetworkNumber(Session& session, Link link, int number);

}  // namespace kkm::service
