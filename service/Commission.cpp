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

namespace {

// One commissioning run: the row's state between the steps.
class RowRun {
 public:
  RowRun(Session& session, const CommissionPlan& plan, const CommissionCallbacks& callbacks)
      : session_(session),
        plan_(plan),
        callbacks_(callbacks),
        factoryByte_(NetworkNumberByte(plan.factoryNumber)) {}

  // 1. The port's device held, and no cut write on it in the way; false ends the run.
  bool start() {
    if (serial::Status opened = OpenSessionPort(session_, plan_.portName); !opened) {
      result_.end = CommissionEnd::NoPort;
      result_.connect = {ConnectOutcome::PortUnavailable, opened.failure()};
      return false;
    }
    if (const WriteResult bar = WriteOnTopOf(LoadRecord(session_, plan_.link));
        bar.refused != WriteRefusal::None) {
      result_.end = CommissionEnd::WriteFailed;
      result_.write = bar;
      return false;
    }
    const std::vector<int> fromHistory = NumbersUsedByRow(plan_, session_.deviceKey);
    used_.insert(fromHistory.begin(), fromHistory.end());
    before_ = static_cast<int>(used_.size());
    return true;
  }

  // 3. One register a turn, until the list is used up or a stop.
  CommissionResult run() {
    while (true) {
      if (callbacks_.stopRequested && callbacks_.stopRequested()) {
        result_.end = CommissionEnd::Stopped;
        return result_;
      }
      if (std::all_of(plan_.numbers.begin(), plan_.numbers.end(),
                      [this](int n) { return used_.contains(n); }))
        return result_;  // ListUsedUp
      const Arrival arrival = arrive();
      if (arrival == Arrival::Failed) return result_;
      if (arrival == Arrival::Waiting) continue;
      told_.reset();
      const int number = nextNumber();
      if (number == 0) return result_;  // ListUsedUp: the rest is taken
      if (!renumber(number)) return result_;
    }
  }

  CommissionResult result() const { return result_; }

 private:
  // 2. Waiting for a fresh register: tells the reason once, then probes at a quiet rate.
  Arrival wait(WaitReason reason) {
    if (told_ != reason && callbacks_.waiting) callbacks_.waiting(reason);
    told_ = reason;
    serial::PauseMs(session_.port.clock(), kProbeIntervalMs);
    return Arrival::Waiting;
  }

  Arrival connectFailed(const ConnectResult& connected) {
    result_.connect = connected;
    result_.end = connected.outcome == ConnectOutcome::WrongFirmware ? CommissionEnd::WrongFirmware
                                                                     : CommissionEnd::NoPort;
    return Arrival::Failed;
  }

  Arrival arrive() {
    if (plan_.link == Link::Processor) {
      serial::SetAddressParity(session_.port, true);
      const reg::AddressAnswer answer = reg::ProbeAddress(session_.port, factoryByte_, kSecondVoiceMs);
      if (answer.kind == reg::AddressAnswer::Kind::Garbled) return wait(WaitReason::Several);
      if (answer.kind != reg::AddressAnswer::Kind::Echo) return wait(WaitReason::NoRegister);
      session_.namedAddress = factoryByte_;
    }
    const ConnectResult connected = Connect(session_, plan_.portName, plan_.link);
    if (connected.outcome == ConnectOutcome::NoRegister || connected.outcome == ConnectOutcome::NoKia)
      return wait(WaitReason::NoRegister);
    if (!connected.connected()) return connectFailed(connected);
    if (plan_.link == Link::Processor) return Arrival::Fresh;
    // The KIA link reaches whatever register is plugged in: only a fresh one is renumbered.
    const ReadResult now = ReadNetworkNumber(session_, plan_.link);
    if (!now.ok()) return wait(WaitReason::NoRegister);
    if (now.networkNumberByte == factoryByte_) return Arrival::Fresh;
    return wait(now.networkNumberByte == lastWritten_ ? WaitReason::Renumbered : WaitReason::NotFresh);
  }

  // The first number of the list neither this row's nor answered to on the line; 0: none.
  int nextNumber() {
    for (const int candidate : plan_.numbers) {
      if (used_.contains(candidate)) continue;
      if (plan_.link == Link::Processor && AddressAnswers(session_, NetworkNumberByte(candidate))) {
        used_.insert(candidate);
        result_.skipped.push_back(candidate);
        if (callbacks_.skipped) callbacks_.skipped(candidate);
        continue;
      }
      return candidate;
    }
    return 0;
  }

  // Writes `number` to the fresh register and reads it back; false ends the run.
  bool renumber(int number) {
    CommissionedRegister done;
    done.sequence = before_ + static_cast<int>(result_.registers.size()) + 1;
    done.oldByte = factoryByte_;
    done.number = number;
    session_.commission = CommissionMark{done.sequence, plan_.numbersText};
    const WriteResult written = WriteNetworkNumber(session_, plan_.link, number);
    session_.commission.reset();
    if (written.refused == WriteRefusal::None) used_.insert(number);  // something was sent
    result_.write = written;                                          // its warnings, if any
    if (!written.written()) {
      result_.end = CommissionEnd::WriteFailed;
      result_.number = number;
      return false;
    }
    const std::uint8_t b = NetworkNumberByte(number);
    result_.read = ReadNetworkNumber(session_, plan_.link);
    done.time = LocalTimeWithZone();
    done.verified = result_.read.ok() && result_.read.networkNumberByte == b;
    result_.registers.push_back(done);
    if (callbacks_.done) callbacks_.done(done, static_cast<int>(plan_.numbers.size()));
    if (!done.verified) {
      result_.end = CommissionEnd::NotVerified;
      result_.number = number;
      return false;
    }
    lastWritten_ = b;
    return true;
  }

  Session& session_;
  const CommissionPlan& plan_;
  const CommissionCallbacks& callbacks_;
  const std::uint8_t factoryByte_;
  CommissionResult result_;
  std::set<int> used_;
  int before_ = 0;
  std::optional<WaitReason> told_;
  std::optional<std::uint8_t> lastWritten_;
};

}  // namespace

CommissionResult Commission(Session& session, const CommissionPlan& plan,
                            const CommissionCallbacks& callbacks) {
  RowRun row(session, plan, callbacks);
  if (!row.start()) return row.result();
  return row.run();
}

}  // namespace kkm::service
