// Fuzz targets of the service core, one per build of this file
// (KKM_FUZZ_SERVICE_TARGET): the network number write and the finishing of a
// recorded write against a register whose faults, timing and memory the input
// chooses; the record parser; the command line's arguments. Each target calls
// the service through one small adapter below.
//
// Register input: number held, number to write, address choice, receive FIFO
// code, echo / acknowledgement / reply delays (4 ms units), then up to four
// faults of four bytes (kind, exchange, times, value). The finish target has
// one more byte first: the memory state the record meets.

#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "service/Connection.h"
#include "service/NetworkNumber.h"
#include "service/WriteRecord.h"
#include "sim/cashreg/CashRegister.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzRig.h"
#include "tests/support/StateHome.h"
#include "tools/kkm-netnum-cli/CliTool.h"

namespace kkm::fuzz {
namespace {

using service::Link;
using sim::CashRegister;

constexpr sim::SimTime kDelayUnit = 4 * sim::kNsPerMs;
constexpr int kMaxFaults = 4;
constexpr std::size_t kMaxArguments = 8;

int NumberOf(std::uint8_t byte) { return byte % 99 + 1; }

// The register on COM1, connected: the session addresses it (or, by the
// address choice, another byte) with firmware 105's map.
struct RegisterRig {
  explicit RegisterRig(ByteReader& in) : reg(NumberOf(in.next())) {
    newNumber = NumberOf(in.next());
    const std::uint8_t addressChoice = in.next();
    UseReceiveFifo(line, in.next());
    UseIdleJumps(line);
    sim::RegisterTiming timing;
    for (double* delay : {&timing.echoDelayMs, &timing.ackDelayMs, &timing.replyDelayMs})
      *delay = static_cast<double>(in.next() * kDelayUnit) / sim::kNsPerMs;
    reg.setTiming(timing);
    for (int i = 0; i < kMaxFaults && !in.rest().empty(); ++i) {
      sim::FaultRule rule;
      rule.fault = static_cast<sim::RegisterFault>(in.next() % 8);
      rule.exchange = in.next() % 8u;
      rule.times = in.next() % 4u;
      rule.count = in.next();
      rule.bytes = {static_cast<std::uint8_t>(rule.count)};
      reg.addFault(rule);
    }
    line.attach(reg);
    platform.addPort("COM1", line);
    // No record of an earlier input stands in the way.
    static_cast<void>(service::RemoveRecord({"COM1", "COM1", Link::Processor}));
    KKM_FUZZ_CHECK(service::OpenSessionPort(session, "COM1"));
    session.registerAddress = addressChoice < 0xF0 ? reg.lineAddress() : addressChoice;
    session.firmwareVersion = service::kRequiredFirmwareVersion;
    memmap::LoadMemoryMap(session.memoryMap, service::kRequiredFirmwareVersion);
  }
  std::uint8_t stored() const { return reg.nonVolatile()[service::kEepromNumberAddress]; }
  std::uint8_t checksum() const { return reg.nonVolatile()[service::kEepromChecksumAddress]; }
  std::uint8_t lineAddress() const { return reg.dataMemory()[service::kNumberCopyAddress]; }
  bool recordLeft() const {
    return service::LoadRecord("COM1", Link::Processor, "COM1").status == service::RecordStatus::Found;
  }

  sim::VirtualLine line;
  CashRegister reg;
  sim::VirtualPlatform platform{line};
  service::Session session{platform, "kkm-netnum"};
  int newNumber = 1;
  std::string ignored;
};

// Adapter: the write of the number through the processor link.
service::WriteResult Write(service::Session& session, int number) {
  return service::WriteNetworkNumber(session, Link::Processor, number);
}

// A write that reports success leaves every copy at the new byte and the
// checksum holding; one that fails before exchange 4 leaves the non-volatile
// memory alone; a checksum that no longer holds always has a record to finish.
void FuzzWrite(ByteReader& in) {
  RegisterRig rig(in);
  const std::uint8_t storedBefore = rig.stored();
  const std::uint8_t b = service::NetworkNumberByte(rig.newNumber);
  const service::WriteResult result = Write(rig.session, rig.newNumber);
  KKM_FUZZ_CHECK(result.failedExchange >= 0 && result.failedExchange <= service::kWriteExchanges);
  if (result.written()) {
    KKM_FUZZ_CHECK(rig.stored() == b && rig.reg.nonVolatileChecksumHolds() && rig.lineAddress() == b);
    KKM_FUZZ_CHECK(rig.session.registerAddress == b);
  } else if (result.failedExchange < 4) {
    KKM_FUZZ_CHECK(rig.stored() == storedBefore && rig.reg.nonVolatileChecksumHolds());
  }
  KKM_FUZZ_CHECK(rig.reg.nonVolatileChecksumHolds() || rig.recordLeft());
}

// Adapter: what a connection does with a record it finds.
service::WriteResult Finish(service::Session& session, const service::WriteRecord& record) {
  const service::InterruptedCheck check = service::CheckInterruptedWrite(session, Link::Processor, record);
  if (!check.ok || (check.state != service::InterruptedWrite::Finishable &&
                    check.state != service::InterruptedWrite::Untouched))
    return {-1, check.failure};
  return service::FinishInterruptedWrite(session, Link::Processor, record, check);
}

// Finishing writes only where the memory shows the recorded write untouched
// with the working copy at the new number (then the whole write again) or half done (the new number, the old
// or the new checksum: then only the checksum and the line address); a finish that succeeds leaves the write
// complete.
void FuzzFinish(ByteReader& in) {
  const std::uint8_t state = in.next();
  RegisterRig rig(in);
  service::WriteRecord record{"COM1", "COM1", Link::Processor, rig.session.registerAddress};
  record.newByte = service::NetworkNumberByte(rig.newNumber);
  record.oldKnown = true;
  record.numberOld = rig.stored();
  record.checksumOld = rig.checksum();
  const std::uint8_t checksumNew = record.checksumNew();
  KKM_FUZZ_CHECK(service::SaveRecord(record).ok());
  // The memory as the interrupted write left it: exchange 4 done, 5 too, or
  // anything the input says.
  auto& nv = rig.reg.nonVolatile();
  if (state % 4 >= 1) nv[service::kEepromNumberAddress] = state % 4 == 3 ? in.next() : record.newByte;
  if (state % 4 >= 2) nv[service::kEepromChecksumAddress] = state % 4 == 3 ? in.next() : checksumNew;
  // The working copy shows exchange 1 (the record's own register) or not (a look-alike).
  auto& working = rig.reg.dataMemory()[sim::kWorkingNumberCell];
  if (state & 4) working = record.newByte;
  const std::uint8_t workingBefore = working;
  const std::uint8_t storedBefore = rig.stored();
  const std::uint8_t checksumBefore = rig.checksum();
  const std::uint8_t addressBefore = rig.lineAddress();
  const service::WriteResult result = Finish(rig.session, record);
  const bool changed =
      rig.checksum() != checksumBefore || rig.lineAddress() != addressBefore || rig.stored() != storedBefore;
  const bool untouched = storedBefore == record.numberOld && checksumBefore == record.checksumOld;
  // An untouched memory is rewritten only on the register exchange 1 reached.
  if (changed && untouched) KKM_FUZZ_CHECK(workingBefore == record.newByte);
  if (changed && !untouched) {
    KKM_FUZZ_CHECK(storedBefore == record.newByte &&
                   (checksumBefore == record.checksumOld || checksumBefore == checksumNew));
    KKM_FUZZ_CHECK(rig.stored() == storedBefore && rig.checksum() == checksumNew);
    KKM_FUZZ_CHECK(rig.lineAddress() == addressBefore || rig.lineAddress() == record.newByte);
  }
  if (result.written()) {
    KKM_FUZZ_CHECK(rig.stored() == record.newByte && rig.checksum() == checksumNew);
    KKM_FUZZ_CHECK(rig.lineAddress() == record.newByte && rig.session.registerAddress == record.newByte);
    KKM_FUZZ_CHECK(!rig.recordLeft());
  }
}

// Adapter: the record file's parser.
bool Parse(const std::string& text, service::WriteRecord& record) {
  return service::ParseRecord(text, record).ok();
}

// An accepted record is consistent and survives being written out and read back.
void FuzzParser(ByteReader& in) {
  const std::span<const std::uint8_t> bytes = in.rest();
  service::WriteRecord record;
  if (!Parse(std::string(bytes.begin(), bytes.end()), record)) return;
  KKM_FUZZ_CHECK(!record.portName.empty());
  service::WriteRecord again;
  KKM_FUZZ_CHECK(Parse(service::FormatRecord(record), again) && again == record);
}

// Adapter: the command-line tool on a platform whose COM1 holds a register.
int RunCommandLine(const std::vector<std::string>& arguments, sim::VirtualPlatform& platform) {
  std::vector<const char*> argv{"kkm-netnum-cli"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  std::ostringstream out;
  std::ostringstream err;
  return cli::RunCli(static_cast<int>(argv.size()), argv.data(), platform, out, err);
}

// Arguments split at zero bytes. A command line refused as unusable opens no
// port; only a write command changes the register's memory.
void FuzzArguments(ByteReader& in) {
  const std::span<const std::uint8_t> bytes = in.rest();
  std::vector<std::string> arguments(1);
  for (std::uint8_t byte : bytes) {
    if (byte != 0)
      arguments.back() += static_cast<char>(byte);
    else if (arguments.size() < kMaxArguments)
      arguments.emplace_back();
  }
  sim::VirtualLine line;
  UseIdleJumps(line);
  CashRegister reg(1);
  line.attach(reg);
  sim::VirtualPlatform platform(line);
  platform.addPort("COM1", line);
  const sim::NonVolatileMemory before = reg.nonVolatile();
  const int status = RunCommandLine(arguments, platform);
  KKM_FUZZ_CHECK(status >= cli::kExitDone && status <= cli::kExitRecordUnusable && status != 1);
  if (status == cli::kExitUsage) KKM_FUZZ_CHECK(platform.openCount() == 0);
  if (reg.nonVolatile() != before) KKM_FUZZ_CHECK(arguments.front() == "write");
}

}  // namespace
}  // namespace kkm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kkm::fuzz;
  // The per-user state folder of this process (tests/support/StateHome.h),
  // emptied: no run sees another's records.
  kkm::test::ClearStateHome();
  ByteReader in(std::span(data, size));
  constexpr void (*kTargets[])(ByteReader&) = {FuzzWrite, FuzzFinish, FuzzParser, FuzzArguments};
  kTargets[KKM_FUZZ_SERVICE_TARGET](in);
  return 0;
}
