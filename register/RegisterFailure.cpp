#include "register/RegisterFailure.h"

#include <array>
#include <string_view>

namespace kkm::reg {
namespace {

using serial::FormatText;

constexpr std::array<const char*, kRegisterFailureCount> kNames{
    "no-echo",        "wrong-echo",      "busy-too-long", "reply-checksum",
    "reply-too-long", "request-refused", "no-register",
};
static_assert(std::string_view(kNames[static_cast<int>(RegisterFailure::NoRegisterFound)]) == "no-register");

std::string RegisterText(const serial::Failure& f) {
  switch (static_cast<RegisterFailure>(f.code)) {
    case RegisterFailure::NoEcho:
      return FormatText("эхо адресного байта %02X не пришло за %d мс", f.expected, f.waitedMs);
    case RegisterFailure::WrongEcho:
      return FormatText("на адресный байт %02X пришёл чужой ответ %02X", f.expected, f.got);
    case RegisterFailure::BusyTooLong:
      return FormatText("ККМ отвечала «занята» (65) дольше %d мс", f.waitedMs);
    case RegisterFailure::ReplyChecksum:
      return FormatText("неверная контрольная сумма ответа (сумма %02X вместо FF)", f.got);
    case RegisterFailure::ReplyTooLong:
      return FormatText("ответ длиннее буфера: %d байт данных при буфере в %d", f.got, f.expected);
    case RegisterFailure::RequestRefused:
      return "запрос отклонён до обмена: недопустимый адрес или число байт";
    case RegisterFailure::NoRegisterFound:
      return "ни один адрес 00..FF не получил эха: ККМ не ответила на поиск";
  }
  return "неизвестная причина";
}

// A lost parity leaves the address byte unheard: no echo, a wrong one, a scan
// without answer. A request refused before the port was touched is the
// caller's.
serial::PortBlame RegisterPortBlame(const serial::Failure& f) {
  switch (static_cast<RegisterFailure>(f.code)) {
    case RegisterFailure::NoEcho:
    case RegisterFailure::WrongEcho:
    case RegisterFailure::NoRegisterFound:
      return serial::PortBlame::Unheard;
    case RegisterFailure::RequestRefused:
      return serial::PortBlame::None;
    default:
      return serial::PortBlame::Vanished;
  }
}

constexpr serial::FailureDomain kDomain{kNames, RegisterText, RegisterPortBlame};

}  // namespace

const serial::FailureDomain& FailureDomainOf(RegisterFailure) { return kDomain; }

}  // namespace kkm::reg
