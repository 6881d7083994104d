#include "service/Session.h"

#include "kia/KiaUnit.h"
#include "register/AddressDiscovery.h"
#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"
#include "service/WriteRecord.h"

namespace kkm::service {

namespace {

// Processor link: find the register's address and read its firmware version;
// only this one version, whose memory map the commands rely on, is accepted.
// A named register is addressed directly: its version query's address phase
// is the echo the scan would have waited for.
ConnectOutcome ContactProcessor(Session& session) {
  if (session.namedAddress) {
    if (!reg::ReadFirmwareVersion(session.port, *session.namedAddress, session.firmwareVersion))
      return ConnectOutcome::NoRegister;
    session.registerAddress = *session.namedAddress;
  } else if (!reg::FindRegisterAddress(session.port, session.registerAddress) ||
             !reg::ReadFirmwareVersion(session.port, session.registerAddress, session.firmwareVersion)) {
    return ConnectOutcome::NoRegister;
  }
  if (session.firmwareVersion != kRequiredFirmwareVersion) {
    serial::Fail({serial::FailureCode::WrongFirmware, -1, kRequiredFirmwareVersion, session.firmwareVersion});
    return ConnectOutcome::WrongFirmware;
  }
  return ConnectOutcome::Connected;
}

// KIA link: one data-memory read shows that the controller answers.
ConnectOutcome ContactKia(Session& session) {
  std::uint8_t probe = 0;
  if (!kia::KiaReadMemory(session.port, session.memoryMap.ProbeAddress(), probe)) {
    // Silence from the controller is named as such; other reasons stand.
    if (serial::LastFailure().code == serial::FailureCode::NoAcknowledgement)
      serial::Fail({serial::FailureCode::NoKiaAnswer, serial::LastFailure().waitedMs});
    return ConnectOutcome::NoKia;
  }
  session.firmwareVersion = kRequiredFirmwareVersion;
  return ConnectOutcome::Connected;
}

// Purges what came in and waits until nothing more arrives for kQuietLineMs
// (at most kQuietLimitMs): a cut frame has then left the line, and whatever
// took it in has given it up.
void AwaitQuietLine(serial::PortHandle& port) {
  serial::Clock& clock = port.clock();
  const std::uint32_t start = clock.tickMs();
  do {
    port.purge(serial::kPurgeRxClear);
    if (!serial::WaitForInput(port, 1, kQuietLineMs)) return;
  } while (serial::ElapsedMs(start, clock.tickMs()) <= kQuietLimitMs);
}

ConnectOutcome Contact(Session& session, Link link) {
  return link == Link::Processor ? ContactProcessor(session) : ContactKia(session);
}

}  // namespace

const char* LinkName(Link link) { return link == Link::Processor ? "cpu" : "kia"; }

void ReportProgress(const Session& session, int step, int total) {
  if (session.progress) session.progress(step, total);
}

Session::~Session() {
  if (port.isOpen()) serial::CloseComPort(port);
}

bool OpenSessionPort(Session& session, const std::string& portName) {
  // Whatever the last attempt left open is closed first.
  serial::CloseComPort(session.port);
  session.portName = portName;
  session.devicePath = session.platform.devicePath(portName);
  return serial::OpenNamedPort(session.platform, portName, session.port);
}

ConnectResult Connect(Session& session, const std::string& portName, Link link) {
  // 1. The chosen port with the fixed line settings, in place of any other.
  // A failure's reason goes into the trace and comes back with the outcome.
  const auto failed = [&](ConnectOutcome outcome) {
    serial::TraceFailure(session.port, "connection on " + portName);
    return ConnectResult{outcome, serial::DescribeFailure(serial::LastFailure())};
  };
  if (!OpenSessionPort(session, portName)) return failed(ConnectOutcome::PortUnavailable);
  // 2. Contact through the chosen link; after a cut write, on a quiet line and more than once.
  ConnectOutcome contact = ConnectOutcome::Connected;
  const bool afterCut = LoadRecord(session, link).status != RecordStatus::None;
  if (!afterCut) {
    contact = Contact(session, link);
  } else {
    for (int attempt = 0; attempt < kContactAttemptsAfterCut; ++attempt) {
      AwaitQuietLine(session.port);
      contact = Contact(session, link);
      if (contact != ConnectOutcome::NoRegister && contact != ConnectOutcome::NoKia) break;
    }
  }
  if (contact != ConnectOutcome::Connected) {
    ConnectResult result = failed(contact);
    if (afterCut && (contact == ConnectOutcome::NoRegister || contact == ConnectOutcome::NoKia))
      result.reason += "; " + std::to_string(kContactAttemptsAfterCut) +
                       " попытки связи после прерванной записи не удались, повторите подключение";
    return result;
  }
  // 3. The memory map of the version, and the connection is made.
  memmap::LoadMemoryMap(session.memoryMap, static_cast<std::uint8_t>(session.firmwareVersion & 0xFF));
  return {};
}

ConnectResult Connect(Session& session, std::uint8_t portNumber, Link link) {
  return Connect(session, serial::ComPortName(portNumber), link);
}

}  // namespace kkm::service
