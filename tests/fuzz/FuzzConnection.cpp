// Fuzz target: the connection procedure behind "Установить интерфейс", once
// or twice in a row, on either link, against a device that answers anything.
// Only COM1 exists; the other ports cannot be opened.
//
// Input: attempts byte (bit 0 link, bits 1-2 port of the first attempt; bit 3
// a second attempt, bit 4 its link, bits 5-6 its port), the register address
// and firmware version before the first attempt, the memory map version
// character loaded before it, vanish code, receive FIFO code, then the
// device's script.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kia/KiaFrames.h"
#include "memmap/MemoryMap.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzRig.h"
#include "tests/fuzz/OperationBounds.h"
#include "ui/AppState.h"
#include "ui/ConnectionProcedure.h"
#include "ui/MessageBoxes.h"

namespace kkm::fuzz {
namespace {

using ui::Link;
using Icon = ui::MessageBoxes::Icon;

// The memory map's version character for firmware 105, and where that map
// keeps the network number byte.
constexpr std::uint8_t kVersion105Character = 105;
constexpr std::uint16_t kNetworkNumberAddress105 = 0x1140;
// Port choice per attempt: 0..2 choose COM1, 3 a port that does not exist.
constexpr std::uint8_t kMissingPortChoice = 3;
constexpr std::uint8_t kMissingPort = 3;

struct Box {
  QString text;
  QString title;
  Icon icon;
};

class RecordingBoxes : public ui::MessageBoxes {
 public:
  void show(const QString& text, const QString& title, Icon icon) override {
    boxes.push_back({text, title, icon});
  }
  std::vector<Box> boxes;
};

bool Is(const Box& box, const char* text, const char* title, Icon icon) {
  return box.text == QString::fromUtf8(text) && box.title == QString::fromUtf8(title) && box.icon == icon;
}

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
void RunAttempt(FuzzLine& rig, ui::AppState& state, const Attempt& attempt) {
  // The flag is false at every press: showing the dialog clears it, and a
  // failed press leaves it so.
  state.interfaceReady = false;
  const std::uint8_t addressBefore = state.registerAddress;
  const std::int32_t versionBefore = state.firmwareVersion;
  const memmap::MemoryMap mapBefore = state.memoryMap;
  const bool portExists = attempt.port == 1 && !rig.line.vanished();

  RecordingBoxes boxes;
  rig.startOperation(attempt.link == Link::Processor ? kConnectProcessorBoundMs : kConnectKiaBoundMs);
  const bool connected = ui::RunConnectionProcedure(state, boxes, attempt.port, attempt.link);
  rig.endOperation("RunConnectionProcedure", connected);

  // 1. The result and the flag agree; a failure shows exactly one box, a
  //    success none.
  KKM_FUZZ_CHECK(connected == state.interfaceReady);
  KKM_FUZZ_CHECK(boxes.boxes.size() == (connected ? 0u : 1u));
  // 2. A connection is made only with version 105 and its map loaded over
  //    what the map held.
  if (connected) {
    memmap::MemoryMap expected = mapBefore;
    memmap::LoadMemoryMap(expected, kVersion105Character);
    KKM_FUZZ_CHECK(state.firmwareVersion == ui::kRequiredFirmwareVersion);
    KKM_FUZZ_CHECK(state.memoryMap.entries == expected.entries);
    KKM_FUZZ_CHECK(state.memoryMap.NetworkNumberAddress() == kNetworkNumberAddress105);
    KKM_FUZZ_CHECK(state.port.isOpen());
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

  // 4. Each failure with its box and the state it leaves.
  const Box& box = boxes.boxes.front();
  if (!portExists) {
    KKM_FUZZ_CHECK(Is(box, "Выбранный COM-порт недоступен", "Предупреждение", Icon::Warning));
    KKM_FUZZ_CHECK(!state.port.isOpen());
    KKM_FUZZ_CHECK(state.registerAddress == addressBefore && state.firmwareVersion == versionBefore);
    return;
  }
  KKM_FUZZ_CHECK(state.port.isOpen());
  if (attempt.link == Link::Kia) {
    KKM_FUZZ_CHECK(Is(box, "Нет связи с микроконтроллером КИА", "Ошибка", Icon::Error));
    KKM_FUZZ_CHECK(state.firmwareVersion == versionBefore);
  } else if (Is(box, "Нет связи с ККМ", "Ошибка", Icon::Error)) {
    KKM_FUZZ_CHECK(state.firmwareVersion == versionBefore);
  } else {
    KKM_FUZZ_CHECK(
        Is(box, "В ККМ необходимо установить ПО версии не ниже 1.0.5", "Предупреждение", Icon::Warning));
    KKM_FUZZ_CHECK(state.firmwareVersion != ui::kRequiredFirmwareVersion);
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
  ui::AppState state(rig.platform);
  state.registerAddress = address;
  state.firmwareVersion = version;
  memmap::LoadMemoryMap(state.memoryMap, mapCharacter);
  rig.vanishLater(vanish);
  rig.useReceiveFifo(fifo);

  RunAttempt(rig, state, AttemptOf(attempts));
  if (attempts & 0x08) RunAttempt(rig, state, AttemptOf(static_cast<std::uint8_t>(attempts >> 4)));
  return 0;
}
