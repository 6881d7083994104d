#include "serial/Failure.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace kkm::serial {

namespace {

thread_local Failure lastFailure;

constexpr std::array<const char*, kFailureCodeCount> kFailureNames{
    "ok",
    "no-echo",
    "wrong-echo",
    "busy-too-long",
    "no-ack",
    "wrong-ack",
    "reply-too-short",
    "reply-checksum",
    "reply-too-long",
    "bus-error",
    "request-refused",
    "port-unavailable",
    "no-such-device",
    "permission-denied",
    "port-in-use",
    "not-a-terminal",
    "parity-dropped",
    "port-vanished",
    "no-register",
    "wrong-firmware",
    "no-kia-answer",
};
static_assert(std::string_view(kFailureNames[static_cast<int>(FailureCode::NoKiaAnswer)]) == "no-kia-answer");
static_assert(std::string_view(kFailureNames[static_cast<int>(FailureCode::PortVanished)]) ==
              "port-vanished");

// printf into a std::string (the texts are short).
template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

const Failure& LastFailure() { return lastFailure; }
void ClearFailure() { lastFailure = Failure{}; }
bool Fail(const Failure& failure) {
  lastFailure = failure;
  return false;
}

const char* FailureName(FailureCode code) { return kFailureNames.at(static_cast<std::size_t>(code)); }

std::string FailureText(const Failure& f) {
  switch (f.code) {
    case FailureCode::None:
      return "успешно";
    case FailureCode::NoEcho:
      return Format("эхо адресного байта %02X не пришло за %d мс", f.expected, f.waitedMs);
    case FailureCode::WrongEcho:
      return Format("на адресный байт %02X пришёл чужой ответ %02X", f.expected, f.got);
    case FailureCode::BusyTooLong:
      return Format("ККМ отвечала «занята» (65) дольше %d мс", f.waitedMs);
    case FailureCode::NoAcknowledgement:
      return f.expected < 0 ? Format("подтверждение не пришло за %d мс", f.waitedMs)
                            : Format("подтверждение %02X не пришло за %d мс", f.expected, f.waitedMs);
    case FailureCode::WrongAcknowledgement:
      return Format("вместо подтверждения %02X пришёл байт %02X", f.expected, f.got);
    case FailureCode::ReplyTooShort:
      return Format("ответ неполный: за %d мс пришло %d байт из %d", f.waitedMs, f.got, f.expected);
    case FailureCode::ReplyChecksum:
      return Format("неверная контрольная сумма ответа (сумма %02X вместо FF)", f.got);
    case FailureCode::ReplyTooLong:
      return Format("ответ длиннее буфера: %d байт данных при буфере в %d", f.got, f.expected);
    case FailureCode::BusError:
      return Format("КИА сообщил об ошибке шины EEPROM (код %02X)", f.got);
    case FailureCode::RequestRefused:
      return "запрос отклонён до обмена: недопустимый адрес или число байт";
    case FailureCode::PortUnavailable:
      return f.osError != 0 ? "COM-порт недоступен: " + std::string(std::strerror(f.osError))
                            : "COM-порт недоступен";
    case FailureCode::NoSuchDevice:
      return "COM-порт недоступен: такого устройства нет";
    case FailureCode::PermissionDenied:
      return "COM-порт недоступен: нет прав доступа (добавьте пользователя в группу dialout: "
             "sudo adduser $USER dialout, затем войдите в систему заново)";
    case FailureCode::PortInUse:
      return f.holders.empty() ? "COM-порт недоступен: занят другой программой"
                               : "COM-порт недоступен: занят другой программой (процесс " + f.holders + ")";
    case FailureCode::NotATerminal:
      return "COM-порт недоступен: это не последовательный порт (не терминальное устройство)";
    case FailureCode::ParityDropped:
      return "адаптер не держит чётность MARK/SPACE: адресный байт уходит без девятого бита";
    case FailureCode::PortVanished:
      return "COM-порт пропал (адаптер отключён или кабель вынут)";
    case FailureCode::NoRegisterFound:
      return "ни один адрес 00..FF не получил эха: ККМ не ответила на поиск";
    case FailureCode::WrongFirmware:
      return Format("версия ПО ККМ %d не поддерживается (нужна %d)", f.got, f.expected);
    case FailureCode::NoKiaAnswer:
      return Format("микроконтроллер КИА не ответил за %d мс", f.waitedMs);
  }
  return "неизвестная причина";
}

std::string DescribeFailure(const Failure& failure) {
  return std::string(FailureName(failure.code)) + ": " + FailureText(failure);
}

}  // namespace kkm::serial
