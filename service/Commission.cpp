#include "service/Commission.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>
#include <set>

#include "register/AddressDiscovery.h"
#include "serial/SerialLine.h"
#include "service/Connection.h"
#include "service/History.h"
#include "service/Scan.h"
#include "service/WriteRecord.h"

namespace kkm::service {

namespace {

// After a first answer at the factory number, how long the probe listens for a second voice.
constexpr std::uint32_t kSecondVoiceMs = 2;

std::optional<int> Number(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || text.size() > 2) return {};
  if (value < 1 || value > 99) return {};
  return value;
}

// What waiting at the factory number found this time.
enum class Arrival { Fresh, Waiting, Failed };

}  // namespace

std::optional<std::vector<int>> ParseNumberList(std::string_view text) {
  std::vector<int> numbers;
  while (true) {
    const std::size_t comma = std::min(text.find(','), text.size());
    const std::string_view item = text.substr(0, comma);
    const std::size_t dash = item.find('-');
    const std::optional<int> first = Number(item.substr(0, dash));
    const std::optional<int> last = dash == std::string_view::npos ? first : Number(item.substr(dash + 1));
    if (!first || !last || *last < *first) return {};
    for (int n = *first; n <= *last; ++n) {
      if (std::find(numbers.begin(), numbers.end(), n) != numbers.end()) return {};
      numbers.push_back(n);
    }
    if (comma == text.size()) return numbers;
    text.remove_prefix(comma + 1);
  }
}

std::vector<int> NumbersUsedByRow(const CommissionPlan& plan, const std::string& device) {
  std::vector<int> used;
  const HistoryRead history = HistoryLines();
  for (const std::string& line : history.lines) {
    const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_object()) continue;
    const auto mark = entry.find("commission");
    if (mark == entry.end() || !mark->is_object() || mark->value("numbers", "") != plan.numbersText ||
        entry.value("device", "") != device || !entry.contains("new_number") ||
        !entry["new_number"].is_string())
      continue;
    const std::optional<int> number = ParseNetworkNumber(entry["new_number"].get<std::string>());
    if (number && std::find(used.begin(), used.end(), *number) == used.end()) used.push_back(*number);
  }
  return used;
}

CommissionResult Commission(Session& session, const CommissionPlan& plan,
                            const CommissionCallbacks& callbacks) {
  CommissionResult result;
  const std::uint8_t factoryByte = NetworkNumberByte(plan.factoryNumber);
  const auto stop = [&callbacks] { return callbacks.stopRequested && callbacks.stopRequested(); };

  // 1. The port's device held, and no cut write on it in the way.
  if (serial::Status opened = OpenSessionPort(session, plan.portName); !opened) {
    result.end = CommissionEnd::NoPort;
    result.connect = {ConnectOutcome::PortUnavailable, opened.failure()};
    return result;
  }
  if (const WriteResult bar = WriteOnTopOf(LoadRecord(session, plan.link));
      bar.refused != WriteRefusal::None) {
    result.end = CommissionEnd::WriteFailed;
    result.write = bar;
    return result;
  }
  const std::vector<int> fromHistory = NumbersUsedByRow(plan, session.deviceKey);
  std::set<int> used(fromHistory.begin(), fromHistory.end());
  const int before = static_cast<int>(used.size());

  // 2. Waiting for a fresh register: tells the reason once, then probes at a quiet rate.
  std::optional<WaitReason> told;
  const auto wait = [&](WaitReason reason) {
    if (told != reason && callbacks.waiting) callbacks.waiting(reason);
    told = reason;
    serial::PauseMs(session.port.clock(), kProbeIntervalMs);
    return Arrival::Waiting;
  };
  std::optional<std::uint8_t> lastWritten;
  const auto connectFailed = [&](const ConnectResult& connected) {
    result.connect = connected;
    result.end = connected.outcome == ConnectOutcome::WrongFirmware ? CommissionEnd::WrongFirmware
                                                                    : CommissionEnd::NoPort;
    return Arrival::Failed;
  };
  const auto arrive = [&]() -> Arrival {
    if (plan.link == Link::Processor) {
      serial::SetAddressParity(session.port, true);
      const reg::AddressAnswer answer = reg::ProbeAddress(session.port, factoryByte, kSecondVoiceMs);
      if (answer.kind == reg::AddressAnswer::Kind::Garbled) return wait(WaitReason::Several);
      if (answer.kind != reg::AddressAnswer::Kind::Echo) return wait(WaitReason::NoRegister);
      session.namedAddress = factoryByte;
    }
    const ConnectResult connected = Connect(session, plan.portName, plan.link);
    if (connected.outcome == ConnectOutcome::NoRegister || connected.outcome == ConnectOutcome::NoKia)
      return wait(WaitReason::NoRegister);
    if (!connected.connected()) return connectFailed(connected);
    if (plan.link == Link::Processor) return Arrival::Fresh;
    // The KIA link reaches whatever register is plugged in: only a fresh one is renumbered.
    const ReadResult now = ReadNetworkNumber(session, plan.link);
    if (!now.ok()) return wait(WaitReason::NoRegister);
    if (now.networkNumberByte == factoryByte) return Arrival::Fresh;
    return wait(now.networkNumberByte == lastWritten ? WaitReason::Renumbered : WaitReason::NotFresh);
  };

  // 3. One register a turn, until the list is used up or a stop.
  while (true) {
    if (stop()) {
      result.end = CommissionEnd::Stopped;
      return result;
    }
    if (std::all_of(plan.numbers.begin(), plan.numbers.end(), [&used](int n) { return used.contains(n); }))
      return result;  // ListUsedUp
    const Arrival arrival = arrive();
    if (arrival == Arrival::Failed) return result;
    if (arrival == Arrival::Waiting) continue;
    told.reset();

    // The first number of the list neither this row's nor answered to on the line.
    int number = 0;
    for (const int candidate : plan.numbers) {
      if (used.contains(candidate)) continue;
      if (plan.link == Link::Processor && AddressAnswers(session, NetworkNumberByte(candidate))) {
        used.insert(candidate);
        result.skipped.push_back(candidate);
        if (callbacks.skipped) callbacks.skipped(candidate);
        continue;
      }
      number = candidate;
      break;
    }
    if (number == 0) return result;  // ListUsedUp: the rest is taken

    CommissionedRegister done;
    done.sequence = before + static_cast<int>(result.registers.size()) + 1;
    done.oldByte = factoryByte;
    done.number = number;
    session.commission = CommissionMark{done.sequence, plan.numbersText};
    const WriteResult written = WriteNetworkNumber(session, plan.link, number);
    session.commission.reset();
    if (written.refused == WriteRefusal::None) used.insert(number);  // something was sent
    if (!written.written()) {
      result.end = CommissionEnd::WriteFailed;
      result.write = written;
      result.number = number;
      return result;
    }
    result.write = written;  // its warnings, if any
    const std::uint8_t b = NetworkNumberByte(number);
    result.read = ReadNetworkNumber(session, plan.link);
    done.time = LocalTimeWithZone();
    done.verified = result.read.ok() && result.read.networkNumberByte == b;
    result.registers.push_back(done);
    if (callbacks.done) callbacks.done(done, static_cast<int>(plan.numbers.size()));
    if (!done.verified) {
      result.end = CommissionEnd::NotVerified;
      result.number = number;
      return result;
    }
    lastWritten = b;
  }
}

}  // namespace kkm::service
