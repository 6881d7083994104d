#include "service/SessionFailure.h"

#include <array>
#include <string_view>

#include "service/NumberText.h"

namespace kkm::service {
namespace {

using serial::FormatText;

constexpr std::array<const char*, kSessionFailureCount> kNames{
    "wrong-firmware",  "no-kia-answer", "no-contact-after-cut", "record-pending",
    "record-unusable", "state-file",    "not-finishable",       "number-taken",
};
static_assert(std::string_view(kNames[static_cast<int>(SessionFailure::NumberTaken)]) == "number-taken");

std::string SessionText(const serial::Failure& f) {
  switch (static_cast<SessionFailure>(f.code)) {
    case SessionFailure::WrongFirmware:
      return FormatText("версия ПО ККМ %d не поддерживается (нужна %d)", f.got, f.expected);
    case SessionFailure::NoKiaAnswer:
      return FormatText("микроконтроллер КИА не ответил за %d мс", f.waitedMs);
    case SessionFailure::NoContactAfterCut:
      return FormatText("%d попытки связи после прерванной записи не удались", f.attempts) +
             (f.cause ? " (последняя: " + DescribeFailure(*f.cause) + ")" : std::string()) +
             ", повторите подключение";
    case SessionFailure::RecordPending:
      return "прерванная запись сетевого номера " + NetworkNumberText(static_cast<std::uint8_t>(f.got)) +
             " через " + f.detail + " не завершена";
    case SessionFailure::RecordUnusable:
      return f.detail.empty() ? "сведения о прерванной записи повреждены" : f.detail;
    case SessionFailure::StateFile: {
      std::string text = "ошибка файлов состояния";
      if (!f.detail.empty()) text += ": " + f.detail;
      if (f.cause) text += ": " + f.cause->text();
      return text;
    }
    case SessionFailure::NotFinishable:
      return "прерванную запись нельзя завершить: память ККМ изменилась после неё";
    case SessionFailure::NumberTaken:
      return FormatText("на адрес 0x%02X (сетевой номер ", f.expected) +
             NetworkNumberText(static_cast<std::uint8_t>(f.expected)) + ") отвечает другое устройство";
  }
  return "неизвестная причина";
}

constexpr serial::FailureDomain kDomain{kNames, SessionText};

}  // namespace

const serial::FailureDomain& FailureDomainOf(SessionFailure) { return kDomain; }

serial::Failure StateFileFailure(const serial::Failure& cause, std::string what) {
  return serial::Wrap(serial::About(SessionFailure::StateFile, std::move(what)), cause);
}

serial::Failure PendingRecordFailure(std::uint8_t newByte, std::string portName) {
  serial::Failure failure = serial::About(SessionFailure::RecordPending, std::move(portName));
  failure.got = newByte;
  return failure;
}

}  // namespace kkm::service
