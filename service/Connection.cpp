#include "service/Connection.h"

#include "kia/KiaUnit.h"
#include "register/AddressDiscovery.h"
#include "serial/OperationTrace.h"
#include "serial/SerialLine.h"
#include "service/SessionFailure.h"
#include "service/WriteRecord.h"

namespace kkm::service {

namespace {

// Processor link: find the register's address and read its firmware version;
// only this one version, whose memory map the commands rely on, is accepted.
// A named register is addressed directly: its version query's address phase
// is the echo the scan would have waited for.
ConnectResult ContactProcessor(Session& session) {
  if (session.namedAddress) {
    if (serial::Status version =
            reg::ReadFirmwareVersion(session.port, *session.namedAddress, session.firmwareVersion);
        !version)
      return {ConnectOutcome::NoRegister, version.failure()};
    session.registerAddress = *session.namedAddress;
  } else {
    serial::Status found = reg::FindRegisterAddress(session.port, session.registerAddress);
    if (found)
      found = reg::ReadFirmwareVersion(session.port, session.registerAddress, session.firmwareVersion);
    if (!found) return {ConnectOutcome::NoRegister, found.failure()};
  }
  if (session.firmwareVersion != kRequiredFirmwareVersion)
    return {
        ConnectOutcome::WrongFirmware,
        serial::Unexpected(SessionFailure::WrongFirmware, kRequiredFirmwareVersion, session.firmwareVersion)};
  return {};
}

// KIA link: one data-memory read shows that the controller answers.
ConnectResult ContactKia(Session& session) {
  std::uint8_t probe = 0;
  if (serial::Status read = kia::KiaReadMemory(session.port, session.memoryMap.ProbeAddress(), probe);
      !read) {
    // Silence from the controller is named as such; other reasons stand.
    const serial::Failure& failure = read.failure();
    if (failure.is(serial::LineFailure::NoAcknowledgement))
      return {ConnectOutcome::NoKia,
              serial::Wrap(serial::TimedOut(SessionFailure::NoKiaAnswer, failure.waitedMs), failure)};
    return {ConnectOutcome::NoKia, failure};
  }
  session.firmwareVersion = kRequiredFirmwareVersion;
  return {};
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

ConnectResult Contact(Session& session, Link link) {
  return link == Link::Processor ? ContactProcessor(session) : ContactKia(session);
}

}  // namespace

serial::Status OpenSessionPort(Session& session, const std::string& portName) {
  // Whatever the last attempt left open is closed first.
  serial::CloseComPort(session.port);
  session.portName = portName;
  // The name is resolved once: its records, its lock and the port opened are
  // all that one device's, even if the map changes meanwhile.
  const serial::ResolvedPort resolved = session.platform.resolvePort(portName);
  session.devicePath = resolved.device;
  if (serial::Status held = HoldResolvedDevice(session, resolved.device); !held) return held;
  return serial::OpenResolvedPort(session.platform, portName, resolved, session.port);
}

ConnectResult Connect(Session& session, const std::string& portName, Link link) {
  // 1. The chosen port with the fixed line settings, in place of any other.
  // A failure's reason goes into the trace and comes back with the outcome.
  const auto failed = [&](ConnectResult result) {
    serial::TraceFailure(session.port, "connection on " + portName, result.failure);
    return result;
  };
  if (serial::Status opened = OpenSessionPort(session, portName); !opened)
    return failed({ConnectOutcome::PortUnavailable, opened.failure()});
  // 2. Contact through the chosen link; after a cut write, on a quiet line and more than once.
  const auto silent = [](const ConnectResult& contact) {
    return contact.outcome == ConnectOutcome::NoRegister || contact.outcome == ConnectOutcome::NoKia;
  };
  ConnectResult contact;
  const bool afterCut = LoadRecord(session, link).status != RecordStatus::None;
  if (!afterCut) {
    contact = Contact(session, link);
  } else {
    for (int attempt = 0; attempt < kContactAttemptsAfterCut; ++attempt) {
      AwaitQuietLine(session.port);
      contact = Contact(session, link);
      if (!silent(contact)) break;
    }
    if (silent(contact))
      contact.failure = serial::Wrap(
          serial::Attempts(SessionFailure::NoContactAfterCut, kContactAttemptsAfterCut), contact.failure);
  }
  if (!contact.connected()) return failed(contact);
  // 3. The memory map of the version, and the connection is made.
  memmap::LoadMemoryMap(session.memoryMap, static_cast<std::uint8_t>(session.firmwareVersion & 0xFF));
  return {};
}

ConnectResult Connect(Session& session, std::uint8_t portNumber, Link link) {
  return Connect(session, serial::ComPortName(portNumber), link);
}

}  // namespace kkm::service
