#include "serial/Failure.h"

#include <array>
#include <cstring>
#include <string_view>

namespace kkm::serial {

namespace {

thread_local Failure lastFailure;

constexpr std::array<const char*, kLineFailureCount> kNames{
    "port-unavailable", "no-such-device",  "permission-denied",  "port-in-use",
    "not-a-terminal",   "parity-dropped",  "port-vanished",      "no-ack",
    "wrong-ack",        "reply-too-short", "port-name-unusable",
};
static_assert(std::string_view(kNames[static_cast<int>(LineFailure::PortNameUnusable)]) ==
              "port-name-unusable");

std::string LineText(const Failure& f) {
  switch (static_cast<LineFailure>(f.code)) {
    case LineFailure::PortUnavailable:
      return f.osError != 0 ? "COM-порт недоступен: " + std::string(std::strerror(f.osError))
                            : "COM-порт недоступен";
    case LineFailure::NoSuchDevice:
      return "COM-порт недоступен: такого устройства нет";
    case LineFailure::PermissionDenied:
      return "COM-порт недоступен: нет прав доступа (добавьте пользователя в группу dialout: "
             "sudo adduser $USER dialout, затем войдите в систему заново)";
    case LineFailure::PortInUse:
      return f.detail.empty() ? "COM-порт недоступен: занят другой программой"
                              : "COM-порт недоступен: занят другой программой (процесс " + f.detail + ")";
    case LineFailure::NotATerminal:
      return "COM-порт недоступен: это не последовательный порт (не терминальное устройство)";
    case LineFailure::ParityDropped:
      return "адаптер не держит чётность MARK/SPACE: адресный байт уходит без девятого бита";
    case LineFailure::PortVanished:
      return "COM-порт пропал (адаптер отключён или кабель вынут)";
    case LineFailure::NoAcknowledgement:
      return f.expected < 0 ? FormatText("подтверждение не пришло за %d мс", f.waitedMs)
                            : FormatText("подтверждение %02X не пришло за %d мс", f.expected, f.waitedMs);
    case LineFailure::WrongAcknowledgement:
      return FormatText("вместо подтверждения %02X пришёл байт %02X", f.expected, f.got);
    case LineFailure::ReplyTooShort:
      return FormatText("ответ неполный: за %d мс пришло %d байт из %d", f.waitedMs, f.got, f.expected);
    case LineFailure::PortNameUnusable:
      return "COM-порт недоступен: " +
             (f.detail.empty() ? std::string("имя не ведёт ни к какому устройству") : f.detail);
  }
  return "неизвестная причина";
}

// A lost parity leaves the frame unheard: no acknowledgement, no reply. The
// port's own failures, and those of opening it, are nothing to put down to it.
PortBlame LinePortBlame(const Failure& f) {
  switch (static_cast<LineFailure>(f.code)) {
    case LineFailure::NoAcknowledgement:
    case LineFailure::ReplyTooShort:
      return PortBlame::Unheard;
    case LineFailure::WrongAcknowledgement:
      return PortBlame::Vanished;
    default:
      return PortBlame::None;
  }
}

constexpr FailureDomain kDomain{kNames, LineText, LinePortBlame};

}  // namespace

const FailureDomain& FailureDomainOf(LineFailure) { return kDomain; }

const Failure& LastFailure() { return lastFailure; }
void ClearFailure() { lastFailure = Failure{}; }
bool Fail(const Failure& failure) {
  lastFailure = failure;
  return false;
}

}  // namespace kkm::serial
