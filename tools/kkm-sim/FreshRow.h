#pragma once
// A row of factory-fresh registers presented one after another on one line,
// as a technician plugs them in to number them.
//
// Every register of the row answers to the same factory number. The first
// comes at once; once the one that came last answers to another address (its
// line address is no longer the one it came with: it was renumbered), the next comes after
// `delay` (shared line: the renumbered one stays), or the renumbered one goes
// after `delay` and the next comes half a delay later (point-to-point). With
// `twoAtOnceFor` the first two come together and the second is taken away
// again after that long, to come back in its turn. A register that comes back
// powers up as after being plugged in. Absent registers hear nothing and
// their answers never reach the line; their own work still runs.

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/cashreg/CashRegister.h"
#include "sim/line/LineDevice.h"

namespace kkm::sim::tool {

class FreshRow;

// One register's place on the line: the device the line sees (the register
// itself, or the KIA board wired to it), present or not.
class RowSlot : public LineDevice, private DeviceTransmitter {
 public:
  RowSlot(FreshRow& row, LineDevice& device, CashRegister& reg)
      : row_(row), device_(device), reg_(reg), factoryByte_(reg.lineAddress()) {}

  void connect(DeviceTransmitter& transmitter) override;
  void receive(std::uint8_t byte, Parity parity, SimTime at) override;
  void advanceTo(SimTime until) override;
  SimTime nextActionAt() const override;

 private:
  friend class FreshRow;
  void transmit(std::uint8_t byte, Parity parity, SimTime notBefore) override;
  SimTime transmitterFreeAt() const override;

  FreshRow& row_;
  LineDevice& device_;
  CashRegister& reg_;
  std::uint8_t factoryByte_;  // the address it came with
  DeviceTransmitter* line_ = nullptr;
  bool present_ = false;
};

struct FreshRowTiming {
  SimTime delay = 500 * kNsPerMs;
  bool pointToPoint = false;
  SimTime twoAtOnceFor = 0;  // 0: one at a time
};

class FreshRow {
 public:
  explicit FreshRow(FreshRowTiming timing) : timing_(timing) {}
  // Adds the next register of the row (its device, and the register itself);
  // the slot to attach to the line.
  RowSlot& add(LineDevice& device, CashRegister& reg);

  // Runs the row's comings and goings up to `now`.
  void advanceTo(SimTime now);
  // When the next coming or going is due; kIdleForever when none is planned.
  SimTime nextEventAt() const;

 private:
  struct Event {
    SimTime at;
    std::size_t slot;
    bool comes;
  };
  void start(SimTime now);
  void schedule(SimTime at, std::size_t slot, bool comes);

  FreshRowTiming timing_;
  std::vector<std::unique_ptr<RowSlot>> slots_;
  std::vector<Event> events_;  // in time order
  bool started_ = false;
  std::size_t current_ = 0;     // the register that came last
  std::size_t nextToCome_ = 1;  // the next register to come after it
  bool currentRenumbered_ = false;
};

}  // namespace kkm::sim::tool
