#pragma once
// The operator's texts for the outcomes, in UTF-8, shared by the windows and
// the command-line tool so both say the same thing for the same outcome.

#include <string>

#include "service/Session.h"

namespace kkm::service {

inline constexpr const char* kPortUnavailableText = "Выбранный COM-порт недоступен";
inline constexpr const char* kNoRegisterText = "Нет связи с ККМ";
inline constexpr const char* kWrongFirmwareText = "В ККМ необходимо установить ПО версии не ниже 1.0.5";
inline constexpr const char* kNoKiaText = "Нет связи с микроконтроллером КИА";
inline constexpr const char* kOutOfRangeText = "Сетевой номер должен быть числом от 1 до 99.";
inline constexpr const char* kWriteSucceededText = "Операция успешно завершена";

// The text of a failed connection; empty for Connected.
std::string ConnectOutcomeText(ConnectOutcome outcome);
// "ККМ" or "микроконтроллером КИА": the device a command talks to.
std::string LinkWord(Link link);
// The text of a read or write exchange that failed: "Не удается установить
// последовательный интерфейс с " and the link word.
std::string NoInterfaceText(Link link);

}  // namespace kkm::service
