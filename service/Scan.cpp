#include "service/Scan.h"

#include "register/AddressDiscovery.h"
#include "serial/Failure.h"
#include "serial/SerialLine.h"
#include "service/Connection.h"
#include "service/NumberText.h"
#include "service/SessionFailure.h"

namespace kkm::service {

namespace {
// After a first answer, how long the scan listens for a second voice.
constexpr std::uint32_t kSecondVoiceMs = 2;
}  // namespace

ScanResult ScanLine(Session& session, const std::string& portName) {
  ScanResult result;
  // 1. The port, as a connection opens it.
  if (serial::Status opened = OpenSessionPort(session, portName); !opened) {
    result.failure = opened.failure();
    return result;
  }
  result.portOpened = true;
  // 2. Every address byte, noting echoes and garbled answers.
  serial::SetAddressParity(session.port, true);
  using Kind = reg::AddressAnswer::Kind;
  reg::ScanAddresses(session.port, kSecondVoiceMs,
                     [&](std::uint8_t address, const reg::AddressAnswer& answer) {
                       ReportProgress(session, 0x100 - address, 0x100);
                       // A port gone or no longer sending ends the census:
                       // what was found so far is no list of the line.
                       if (answer.kind == Kind::Unsent || session.port.vanished()) {
                         result.failure = serial::AtAddress(serial::LineFailure::PortVanished, address);
                         return false;
                       }
                       if (answer.kind == Kind::Echo) {
                         result.registers.push_back({address, std::nullopt});
                       } else if (answer.kind == Kind::LateEcho) {
                         // The candidate before went unanswered in its own wait.
                         if (result.registers.empty() || result.registers.back().address != address + 1)
                           result.registers.push_back({static_cast<std::uint8_t>(address + 1), std::nullopt});
                       } else if (answer.kind == Kind::Garbled) {
                         result.conflicts.push_back(address);
                       }
                       return true;
                     });
  // 3. The firmware version of each register found.
  if (result.failure.failed()) return result;
  for (FoundRegister& found : result.registers) {
    std::int32_t version = 0;
    if (reg::ReadFirmwareVersion(session.port, found.address, version).ok()) found.firmwareVersion = version;
  }
  return result;
}

bool AddressAnswers(Session& session, std::uint8_t address) {
  serial::SetAddressParity(session.port, true);
  // A byte that could not be sent heard nothing: the write's own exchange
  // then reports the port.
  const reg::AddressAnswer::Kind kind = reg::ProbeAddress(session.port, address, kSecondVoiceMs).kind;
  return kind != reg::AddressAnswer::Kind::None && kind != reg::AddressAnswer::Kind::Unsent;
}

serial::Status CheckNumberFree(Session& session, Link link, int number) {
  const std::uint8_t address = NetworkNumberByte(number);
  if (link != Link::Processor || address == session.registerAddress) return {};
  if (!AddressAnswers(session, address)) return {};
  return serial::AtAddress(SessionFailure::NumberTaken, address);
}

std::string FirmwareVersionText(std::int32_t versionCode) {
  std::string text;
  for (const char digit : std::to_string(versionCode)) {
    if (!text.empty()) text.push_back('.');
    text.push_back(digit);
  }
  return text;
}

}  // namespace kkm::service
