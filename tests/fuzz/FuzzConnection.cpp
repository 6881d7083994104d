// Fuzz target: the connection procedure behind "Установить интерфейс", once
// or twice in a row, on either link, against a device that answers anything.
// Only COM1 exists; the other ports cannot be opened.
//
// Input: attempts byte (bit 0 link, bits 1-2 port of the first attempt; bit 3
// a second attempt, bit 4 its link, bits 5-6 its port), the register address
// and firmware version before the first attempt, the memory map version
// character loaded before it, vanish code, receive FIFO code, then the
// device's script.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kia/KiaFrames.h"
#include "memmap/MemoryMap.h"
#include "service/Connection.h"
#include "service/Session.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzRig.h"
#include "tests/support/Facts.h"
#include "tests/support/OperationBounds.h"

namespace kkm::fuzz {
using namespace kkm::test;  // the operations' time bounds
namespace {

using service::ConnectOutcome;
using service::Link;

// The memory map's version character for firmware 105, and where that map
// keeps the network number byte.
constexpr std::uint8_t kVersion105Character = 105;
constexpr std::uint16_t kNetworkNumberAddress105 = test::kWorkingNumberAddress;
// Port choice per attempt: 0..2 choose COM1, 3 a port that does not exist.
constexpr std::uint8_t kMissingPortChoice = 3;
constexpr std::uint8_t kMissingPort = 3;

struct Attempt {
  Link link;
  std::uint8_t port;
};

Attempt AttemptOf(std::uint8_t bits) {
  const std::uint8_t choice = (bits >> 1) & 0x03;
  return {(bits & 0x01) ? Link::Kia : Link::Processor,
          choice == kMissingPortChoice ? kMissingPort : std::uint8_t{1}};
}

// One press of "Установить интерфейс" on a freshly shown dialog, and the
// state table of its outcome.
void RunAttempt(FuzzLine& rig, service::Session& state, const Attempt& attempt) {
  const std::uint8_t addressBefore = state.registerAddress;
  const std::int32_t versionBefore = state.firmwareVersion;
  const memmap::MemoryMap mapBefore = state.memoryMap;
  const bool portExists = attempt.port == 1 && !rig.line.vanished();

  rig.startOperation(attempt.link == Link::Processor ? kConnectProcessorBoundMs : kConnectKiaBoundMs);
  const service::ConnectResult result = service::Connect(state, attempt.port, attempt.link);
  const bool connected = result.connected();
  rig.endOperation("Connect", connected);

  // 1. A connection leaves the chosen port open.
  KKM_FUZZ_CHECK(!connected || state.port.isOpen());
  // 2. A connection is made only with version 105 and its map loaded over
  //    what the map held.
  if (connected) {
    memmap::MemoryMap expected = mapBefore;
    memmap::LoadMemoryMap(expected, kVersion105Character);
    KKM_FUZZ_CHECK(state.firmwareVersion == service::kRequiredFirmwareVersion);
    KKM_FUZZ_CHECK(state.memoryMap.entries == expected.entries);
    KKM_FUZZ_CHECK(state.memoryMap.NetworkNumberAddress() == kNetworkNumberAddress105);
    // The processor link addresses the register it found: the last address
    // byte sent is the one the version query went to.
    if (attempt.link == Link::Processor) {
      sim::TraceEntry lastAddress{};
      for (const auto& e : HostEntriesSince(rig.line, rig.operationStart()))
        if (e.parity == serial::Parity::Mark) lastAddress = e;
      KKM_FUZZ_CHECK(state.registerAddress == lastAddress.byte);
    }
  } else {
    KKM_FUZZ_CHECK(state.memoryMap.entries == mapBefore.entries);
  }
  // 3. The KIA link never changes the register address, and it probes at the
  //    map's first entry with one memory read frame.
  const auto sent = BytesSince(rig.line, sim::Direction::HostToDevice, rig.operationStart());
  if (attempt.link == Link::Kia) {
    KKM_FUZZ_CHECK(state.registerAddress == addressBefore);
    if (portExists) KKM_FUZZ_CHECK(sent == kia::BuildMemoryReadFrame(mapBefore.ProbeAddress()));
  }
  if (connected) return;

  // 4. Each failure with its outcome and the state it leaves.
  const ConnectOutcome outcome = result.outcome;
  if (!portExists) {
    KKM_FUZZ_CHECK(outcome == ConnectOutcome::PortUnavailable);
    KKM_FUZZ_CHECK(!state.port.isOpen());
    KKM_FUZZ_CHECK(state.registerAddress == addressBefore && state.firmwareVersion == versionBefore);
    return;
  }
  KKM_FUZZ_CHECK(state.port.isOpen());
  if (attempt.link == Link::Kia) {
    KKM_FUZZ_CHECK(outcome == ConnectOutcome::NoKia);
    KKM_FUZZ_CHECK(state.firmwareVersion == versionBefore);
  } else if (outcome == ConnectOutcome::NoRegister) {
    KKM_FUZZ_CHECK(state.firmwareVersion == versionBefore);
  } else {
    KKM_FUZZ_CHECK(outcome == ConnectOutcome::WrongFirmware);
    KKM_FUZZ_CHECK(state.firmwareVersion != service::kRequiredFirmwareVersion);
  }
}

}  // namespace
}  // namespace kkm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kkm;
  using namespace kkm::fuzz;
  ByteReader in(std::span(data, size));
  const std::uint8_t attempts = in.next();
  const std::uint8_t address = in.next();
  const std::uint8_t version = in.next();
  const std::uint8_t mapCharacter = in.next();
  const std::uint8_t vanish = in.next();
  const std::uint8_t fifo = in.next();

  FuzzLine rig(in.rest());
  service::Session state(rig.platform, "kkm-netnum");
  state.registerAddress = address;
  state.firmwareVersion = version;
  memmap::LoadMemoryMap(state.memoryMap, mapCharacter);
  rig.vanishLater(vanish);
  rig.useReceiveFifo(fifo);

  RunAttempt(rig, state, AttemptOf(attempts));
  if (attempts & 0x08) RunAttempt(rig, state, AttemptOf(static_cast<std::uint8_t>(attempts >> 4)));
  return 0;
}
