#pragma once
// Commissioning a row of factory-fresh registers on one port: the technician
// plugs them in one after another and each gets the next free number of a
// list.
//
// The loop: wait for a register at the factory number (processor link: its
// address byte, probed every kProbeIntervalMs on the session's clock; KIA
// link: a connection through the board), make sure it is alone there (two
// answers at once: wait until one is removed), connect to it as a connection
// does (firmware check), pick the first number of the list that is neither
// used by this row nor answered to on the line, write it with the guarded
// write (record, history line marked with the register's place in the row
// and the list) and read it back at its new address. Then wait for the next:
// on the processor link the renumbered register no longer answers at the
// factory number; on the KIA link, which reaches one register, the loop waits
// for a register that is not factory-fresh to be taken away.
//
// The numbers this row used already come from the history: every write marked
// with the same list on the same device counts, whatever its outcome, so a
// second run after a cut write (finished by hand) never gives its number
// again. The loop ends when the list is used up, when `stopRequested` says so
// (checked between registers and while waiting, never inside a write), or at
// the first write, read-back or connection that fails.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/NetworkNumber.h"
#include "service/Session.h"

namespace kkm::service {

inline constexpr std::uint32_t kProbeIntervalMs = 250;

// "2-12,15": numbers 1..99 and ascending ranges, comma-separated, each number
// once; in the order given. Nothing when the text is not such a list.
std::optional<std::vector<int>> ParseNumberList(std::string_view text);

enum class WaitReason {
  NoRegister,  // nothing answers at the factory number
  Several,     // several registers answer at the factory number at once
  NotFresh,    // the register on the KIA link has another number: to be taken away
  Renumbered,  // the register just renumbered is still on the KIA link: to be taken away
};

struct CommissionedRegister {
  int sequence = 0;  // its place in the row, from 1
  std::uint8_t oldByte = 0;
  int number = 0;
  std::string time;       // LocalTimeWithZone() when it was done
  bool verified = false;  // the read-back at the new address gave the number
};

enum class CommissionEnd {
  ListUsedUp,
  Stopped,        // stopRequested
  NoPort,         // the port did not open (connect holds why)
  WrongFirmware,  // connect holds the outcome
  WriteFailed,    // write holds the result (refused or cut); number the number it was giving
  NotVerified,    // written, but the read-back did not give the number (read holds it)
};

struct CommissionResult {
  CommissionEnd end = CommissionEnd::ListUsedUp;
  std::vector<CommissionedRegister> registers;  // done in this run, in order
  std::vector<int> skipped;                     // numbers found taken on the line
  ConnectResult connect;
  WriteResult write;
  ReadResult read;
  int number = 0;  // the number being given when the loop stopped at a register
};

struct CommissionPlan {
  std::string portName;
  Link link = Link::Processor;
  int factoryNumber = 1;
  std::vector<int> numbers;
  std::string numbersText;  // as given: the row's mark in the history
};

struct CommissionCallbacks {
  std::function<void(WaitReason)> waiting;  // told when the reason for waiting changes
  std::function<void(int number)> skipped;
  std::function<void(const CommissionedRegister&, int total)> done;
  std::function<bool()> stopRequested;
};

// The numbers of `plan` that commissioning writes on `device` already gave,
// as its history holds them.
std::vector<int> NumbersUsedByRow(const CommissionPlan& plan, const std::string& device);

CommissionResult Commission(Session& session, const CommissionPlan& plan,
                            const CommissionCallbacks& callbacks);

}  // namespace kkm::service
