#include "service/Scan.h"

#include "register/AddressDiscovery.h"
#include "serial/Failure.h"
#include "serial/SerialLine.h"

namespace kkm::service {

namespace {
constexpr std::uint32_t kSecondVoiceMs = 2;
constexpr std::uint32_t kMaxAnswerBytes = 16;

enum class Answer { None, Echo, LateEcho, Garbled };

// One candidate: send it and classify what comes back. A lone byte equal to
// the previous candidate is that register's echo come late.
Answer Probe(serial::PortHandle& port, std::uint8_t address) {
  port.purge(serial::kPurgeClearBoth);
  port.writeByte(address);
  if (!serial::WaitForInput(port, 1, reg::kScanAnswerTimeoutMs)) return Answer::None;
  serial::WaitForInput(port, 2, kSecondVoiceMs);
  std::uint8_t answer[kMaxAnswerBytes] = {};
  const std::int32_t count = port.read(answer, kMaxAnswerBytes);
  if (count == 1 && answer[0] == address) return Answer::Echo;
  if (count == 1 && reg::IsLateEcho(answer[0], address)) return Answer::LateEcho;
  return Answer::Garbled;
}
}  // namespace

ScanResult ScanLine(Session& session, const std::string& portName) {
  ScanResult result;
  // 1. The port, as a connection opens it.
  if (!OpenSessionPort(session, portName)) {
    result.reason = serial::DescribeFailure(serial::LastFailure());
    return result;
  }
  result.portOpened = true;
  // 2. Every address byte, noting echoes and garbled answers.
  serial::SetAddressParity(session.port, true);
  for (int candidate = 0xFF; candidate >= 0; --candidate) {
    const auto address = static_cast<std::uint8_t>(candidate);
    ReportProgress(session, 0x100 - candidate, 0x100);
    switch (Probe(session.port, address)) {
      case Answer::None:
        break;
      case Answer::Echo:
        result.registers.push_back({address, std::nullopt});
        break;
      case Answer::LateEcho:
        // The candidate before went unanswered in its own wait.
        if (result.registers.empty() || result.registers.back().address != address + 1)
          result.registers.push_back({static_cast<std::uint8_t>(address + 1), std::nullopt});
        break;
      case Answer::Garbled:
        result.conflicts.push_back(address);
        break;
    }
  }
  // 3. The firmware version of each register found.
  for (FoundRegister& found : result.registers) {
    std::int32_t version = 0;
    if (reg::ReadFirmwareVersion(session.port, found.address, version)) found.firmwareVersion = version;
  }
  return result;
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
