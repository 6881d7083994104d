// Fuzz target: the four KIA exchanges against a device that answers anything
// at any time.
//
// Input: op, address (2, low first), value, the caller's out value before the
// call, vanish code, receive FIFO code, then the device's script (FuzzDevice.h).

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "kia/KiaFrames.h"
#include "kia/KiaUnit.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzRig.h"
#include "tests/support/OperationBounds.h"

namespace kkm::fuzz {
using namespace kkm::test;  // the operations' time bounds
namespace {

using serial::Parity;
using sim::Direction;

enum class Op : std::uint8_t { WriteMemory, ReadMemory, ReadEeprom, WriteEeprom, Count };
constexpr const char* kOpNames[] = {"KiaWriteMemory", "KiaReadMemory", "KiaReadEeprom", "KiaWriteEeprom"};

constexpr std::uint8_t kAcknowledge = 0x01;
constexpr std::uint8_t kDataMarker = 0x11;
constexpr std::size_t kEepromReadLength = 64;

}  // namespace
}  // namespace kkm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kkm;
  using namespace kkm::fuzz;
  ByteReader in(std::span(data, size));
  const auto op = static_cast<Op>(in.next() % static_cast<std::uint8_t>(Op::Count));
  const std::uint16_t address = in.next16();
  const std::uint8_t value = in.next();
  const std::uint8_t untouched = in.next();
  const std::uint8_t vanish = in.next();
  const std::uint8_t fifo = in.next();
  FuzzPort rig(in.rest());
  rig.vanishLater(vanish);
  rig.useReceiveFifo(fifo);

  // 1. The exchange.
  std::uint8_t out = untouched;
  bool ok = false;
  std::vector<std::uint8_t> frame;
  std::size_t repliesNeeded = 1;  // the acknowledgement
  switch (op) {
    case Op::WriteMemory:
      frame = kia::BuildMemoryWriteFrame(address, value);
      rig.startOperation(kKiaWriteMemoryBoundMs);
      ok = kia::KiaWriteMemory(rig.port, address, value).ok();
      break;
    case Op::ReadMemory:
      frame = kia::BuildMemoryReadFrame(address);
      rig.startOperation(kKiaReadMemoryBoundMs);
      ok = kia::KiaReadMemory(rig.port, address, out).ok();
      repliesNeeded = 2;
      break;
    case Op::ReadEeprom:
      frame = kia::BuildEepromReadFrame(address);
      rig.startOperation(kKiaReadEepromBoundMs);
      ok = kia::KiaReadEeprom(rig.port, address, out).ok();
      repliesNeeded = 2 + kEepromReadLength;
      break;
    case Op::WriteEeprom:
    case Op::Count:
      frame = kia::BuildEepromWriteFrame(address, value);
      rig.startOperation(kKiaWriteEepromBoundMs);
      ok = kia::KiaWriteEeprom(rig.port, address, value).ok();
      repliesNeeded = 3;
      break;
  }
  rig.endOperation(kOpNames[static_cast<std::size_t>(op) % std::size(kOpNames)], ok);

  // 2. The frame went out once, whole, and the line settings stayed as the
  //    port was opened: no parity.
  const auto sent = HostEntriesSince(rig.line, rig.operationStart());
  KKM_FUZZ_CHECK(sent.size() == frame.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    KKM_FUZZ_CHECK(sent[i].byte == frame[i]);
    KKM_FUZZ_CHECK(sent[i].parity == Parity::None);
  }
  KKM_FUZZ_CHECK(rig.line.hostSettings().parity == Parity::None);

  // 3. Failure leaves the caller's variable alone.
  if (!ok) {
    KKM_FUZZ_CHECK(out == untouched);
    return 0;
  }
  // 4. Success needs every reply, in order: the acknowledgement, the marker
  //    of the EEPROM routines, the result (second byte of a memory read, first
  //    data byte of an EEPROM read).
  const auto got = BytesSince(rig.line, Direction::DeviceToHost, rig.operationStart());
  KKM_FUZZ_CHECK(got.size() >= repliesNeeded);
  KKM_FUZZ_CHECK(got[0] == kAcknowledge);
  if (op == Op::ReadEeprom || op == Op::WriteEeprom) KKM_FUZZ_CHECK(got[1] == kDataMarker);
  if (op == Op::ReadMemory) KKM_FUZZ_CHECK(out == got[1]);
  if (op == Op::ReadEeprom) KKM_FUZZ_CHECK(out == got[2]);
  return 0;
}
