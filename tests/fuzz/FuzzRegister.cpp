// Fuzz target: the register processor link against a device that answers
// anything at any time. The first input bytes choose the operation and its
// arguments, the rest is the device's script (FuzzDevice.h).
//
// Input: op, address (2, low first), value, line address, version choice,
// count, buffer or data size, vanish code, receive FIFO code, then the
// script.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "register/AddressDiscovery.h"
#include "register/MemoryCommands.h"
#include "register/RegisterFrame.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzRig.h"
#include "tests/support/OperationBounds.h"

namespace kkm::fuzz {
using namespace kkm::test;  // the operations' time bounds
namespace {

using serial::Parity;
using sim::Direction;

enum class Op : std::uint8_t {
  FindAddress,
  ReadVersion,
  ReadByte,
  WriteByte,
  ReadBlock,
  WriteBlock,
  Count,
};

// The version codes that choose each form of the block commands' address
// phase: none below 100, one echo for 100..104, busy answers for 105, none
// above 105.
constexpr std::array<std::int32_t, 5> kVersions{99, 100, 104, 105, 106};
// Block reads go into buffers of 0..4 bytes.
constexpr std::size_t kMaxBlockBuffer = 4;
// Guard bytes on both sides of the block buffer, and their pattern.
constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xA5;
// Write block counts run from -2 to 253, past both ends of 0..251.
constexpr std::int32_t kCountBias = 2;

constexpr bool HasAddressPhase(std::int32_t version) { return version >= 100 && version <= 105; }

struct Args {
  Op op;
  std::uint16_t address;
  std::uint8_t value;
  std::uint8_t lineAddress;
  std::int32_t version;
  std::uint8_t count;
  std::uint8_t size;
  std::uint8_t vanish;
  std::uint8_t fifo;
};

Args ReadArgs(ByteReader& in) {
  Args a{};
  a.op = static_cast<Op>(in.next() % static_cast<std::uint8_t>(Op::Count));
  a.address = in.next16();
  a.value = in.next();
  a.lineAddress = in.next();
  a.version = kVersions[in.next() % kVersions.size()];
  a.count = in.next();
  a.size = in.next();
  a.vanish = in.next();
  a.fifo = in.next();
  return a;
}

// Somewhere in `got`: the acknowledgement `ack`, then L, L data bytes equal
// to the front of `buffer`, and C, with L + data + C summing to 0xFF.
bool HoldsCheckedReply(const std::vector<std::uint8_t>& got, std::uint8_t ack,
                       std::span<const std::uint8_t> buffer) {
  for (std::size_t i = 0; i + 2 < got.size(); ++i) {
    const std::size_t length = got[i + 1];
    if (got[i] != ack || length > buffer.size() || i + 2 + length >= got.size()) continue;
    const auto data = std::span(got).subspan(i + 2, length);
    if (!std::equal(data.begin(), data.end(), buffer.begin())) continue;
    if (reg::ReplyChecksumHolds(got[i + 1], data, got[i + 2 + length])) return true;
  }
  return false;
}

// The register link's parity after a successful command: SPACE.
bool LeftInDataParity(const FuzzPort& rig) { return rig.line.hostSettings().parity == Parity::Space; }

void FindAddress(FuzzPort& rig, const Args& a) {
  rig.startOperation(kScanBoundMs);
  std::uint8_t address = a.lineAddress;
  const bool found = reg::FindRegisterAddress(rig.port, address).ok();
  rig.endOperation("FindRegisterAddress", found);
  // The candidates go out from 0xFF downwards, each once, as address bytes.
  const auto sent = HostEntriesSince(rig.line, rig.operationStart());
  KKM_FUZZ_CHECK(sent.size() <= 256);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    KKM_FUZZ_CHECK(sent[i].byte == 0xFF - i);
    KKM_FUZZ_CHECK(sent[i].parity == Parity::Mark);
  }
  KKM_FUZZ_CHECK(rig.line.hostSettings().parity == Parity::Mark);
  // Success names the last candidate, or the one before it when its echo
  // came late, and the device did send that byte; failure leaves the address
  // alone.
  if (found) {
    KKM_FUZZ_CHECK(!sent.empty());
    const bool last = address == sent.back().byte;
    const bool late = sent.size() >= 2 && address == sent[sent.size() - 2].byte;
    KKM_FUZZ_CHECK(last || late);
    KKM_FUZZ_CHECK(rig.arrivedDuringOperation(address));
  } else {
    KKM_FUZZ_CHECK(address == a.lineAddress);
  }
}

void ReadVersion(FuzzPort& rig, const Args& a) {
  const std::int32_t before = static_cast<std::int32_t>(a.count) << 8 | a.value;
  std::int32_t version = before;
  rig.startOperation(kVersionQueryBoundMs);
  const bool ok = reg::ReadFirmwareVersion(rig.port, a.lineAddress, version).ok();
  rig.endOperation("ReadFirmwareVersion", ok);
  KKM_FUZZ_CHECK(FramesOnlyAfterEcho(rig.line, rig.operationStart(), a.lineAddress));
  if (!ok) {
    KKM_FUZZ_CHECK(version == before);
    return;
  }
  // True needs the echo and the acknowledgement 0xEA, in this order.
  const auto got = BytesSince(rig.line, Direction::DeviceToHost, rig.operationStart());
  KKM_FUZZ_CHECK(got.size() >= 2 && got[0] == a.lineAddress && got[1] == reg::kVersionQueryFrame.back());
  // Eight decimal digits at most.
  KKM_FUZZ_CHECK(version >= 0 && version <= 15151515);
}

void ReadByte(FuzzPort& rig, const Args& a) {
  std::uint8_t value = a.value;
  rig.startOperation(kReadByteBoundMs);
  const bool ok = reg::ReadRegisterByte(rig.port, a.lineAddress, a.address, value).ok();
  rig.endOperation("ReadRegisterByte", ok);
  KKM_FUZZ_CHECK(FramesOnlyAfterEcho(rig.line, rig.operationStart(), a.lineAddress));
  if (!ok) return;
  // Echo, acknowledgement, then L, value, C summing to 0xFF; the value is the
  // fourth byte that came.
  const auto got = BytesSince(rig.line, Direction::DeviceToHost, rig.operationStart());
  const auto sent = BytesSince(rig.line, Direction::HostToDevice, rig.operationStart());
  KKM_FUZZ_CHECK(got.size() >= 5 && got[0] == a.lineAddress && got[1] == sent.back());
  KKM_FUZZ_CHECK(static_cast<std::uint8_t>(got[2] + got[3] + got[4]) == reg::kFrameSum);
  KKM_FUZZ_CHECK(value == got[3]);
  KKM_FUZZ_CHECK(LeftInDataParity(rig));
}

void WriteByte(FuzzPort& rig, const Args& a) {
  rig.startOperation(kWriteByteBoundMs);
  const bool ok = reg::WriteRegisterByte(rig.port, a.lineAddress, a.address, a.value).ok();
  rig.endOperation("WriteRegisterByte", ok);
  KKM_FUZZ_CHECK(FramesOnlyAfterEcho(rig.line, rig.operationStart(), a.lineAddress));
  if (!ok) return;
  const auto got = BytesSince(rig.line, Direction::DeviceToHost, rig.operationStart());
  const auto sent = BytesSince(rig.line, Direction::HostToDevice, rig.operationStart());
  KKM_FUZZ_CHECK(got.size() >= 2 && got[0] == a.lineAddress && got[1] == sent.back());
  KKM_FUZZ_CHECK(LeftInDataParity(rig));
}

void ReadBlock(FuzzPort& rig, const Args& a) {
  // The buffer lies between two guards inside a larger array.
  const std::size_t size = a.size % (kMaxBlockBuffer + 1);
  std::array<std::uint8_t, kGuard + kMaxBlockBuffer + kGuard> storage;
  storage.fill(kGuardByte);
  const std::span<std::uint8_t> buffer(storage.data() + kGuard, size);
  rig.startOperation(SelectBoundMs(a.version) + ReadBlockTailMs(size));
  const bool ok = reg::ReadRegisterBlock(rig.port, a.lineAddress, a.address, a.count, buffer, a.version).ok();
  rig.endOperation("ReadRegisterBlock", ok);
  // Nothing is stored outside the buffer, whatever the reply's length byte.
  for (std::size_t i = 0; i < storage.size(); ++i)
    if (i < kGuard || i >= kGuard + size) KKM_FUZZ_CHECK(storage[i] == kGuardByte);
  if (HasAddressPhase(a.version))
    KKM_FUZZ_CHECK(FramesOnlyAfterEcho(rig.line, rig.operationStart(), a.lineAddress));
  if (!ok) return;
  // The frame's checksum came back as its acknowledgement, followed by a
  // reply L, data, C whose checksum holds and whose data are in the buffer.
  const auto sent = BytesSince(rig.line, Direction::HostToDevice, rig.operationStart());
  KKM_FUZZ_CHECK(!sent.empty() && rig.arrivedDuringOperation(sent.back()));
  const auto got = BytesSince(rig.line, Direction::DeviceToHost, rig.operationStart());
  KKM_FUZZ_CHECK(HoldsCheckedReply(got, sent.back(), buffer));
  KKM_FUZZ_CHECK(LeftInDataParity(rig));
}

void WriteBlock(FuzzPort& rig, const Args& a) {
  // Exactly `size` bytes of data, so that reading past them is caught.
  const std::vector<std::uint8_t> data(a.size, a.value);
  const std::int32_t count = static_cast<std::int32_t>(a.count) - kCountBias;
  rig.startOperation(SelectBoundMs(a.version) + kWriteBlockTailMs);
  const bool ok = reg::WriteRegisterBlock(rig.port, a.lineAddress, a.address, data, count, a.version).ok();
  rig.endOperation("WriteRegisterBlock", ok);
  const auto sent = HostEntriesSince(rig.line, rig.operationStart());
  // A refused block leaves the line untouched.
  const bool refused = a.address > reg::kHighestBlockWriteAddress || count < 0 ||
                       count > static_cast<std::int32_t>(reg::kMaxFrameData) ||
                       count > static_cast<std::int32_t>(data.size());
  if (refused) {
    KKM_FUZZ_CHECK(!ok && sent.empty());
    return;
  }
  if (HasAddressPhase(a.version))
    KKM_FUZZ_CHECK(FramesOnlyAfterEcho(rig.line, rig.operationStart(), a.lineAddress));
  if (!ok) return;
  // The frame went out whole, count + 6 data-parity bytes, and its checksum
  // came back as the acknowledgement.
  std::size_t frameBytes = 0;
  for (const auto& e : sent) frameBytes += e.parity == Parity::Space ? 1 : 0;
  KKM_FUZZ_CHECK(frameBytes == static_cast<std::size_t>(count) + reg::kMemoryFrameOverhead);
  KKM_FUZZ_CHECK(rig.arrivedDuringOperation(sent.back().byte));
  KKM_FUZZ_CHECK(LeftInDataParity(rig));
}

}  // namespace
}  // namespace kkm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kkm::fuzz;
  ByteReader in(std::span(data, size));
  const Args args = ReadArgs(in);
  FuzzPort rig(in.rest());
  rig.vanishLater(args.vanish);
  rig.useReceiveFifo(args.fifo);
  switch (args.op) {
    case Op::FindAddress:
      FindAddress(rig, args);
      break;
    case Op::ReadVersion:
      ReadVersion(rig, args);
      break;
    case Op::ReadByte:
      ReadByte(rig, args);
      break;
    case Op::WriteByte:
      WriteByte(rig, args);
      break;
    case Op::ReadBlock:
      ReadBlock(rig, args);
      break;
    case Op::WriteBlock:
      WriteBlock(rig, args);
      break;
    case Op::Count:
      break;
  }
  return 0;
}
