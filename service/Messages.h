#pragma once
// The operator's texts for the outcomes, in UTF-8, shared by the windows and
// the command-line tool so both say the same thing for the same outcome.

#include <cstdint>
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

// The title of the write's boxes, and the texts of finishing an interrupted
// write; `number` is two digits ("45").
inline constexpr const char* kWriteTitleText = "Запись сетевого номера";
std::string FinishQuestionText(const std::string& number);
std::string MemoryChangedText(const std::string& number);
inline constexpr const char* kUnusableRecordText =
    "Сведения о прерванной записи сетевого номера повреждены и не будут использованы";
inline constexpr const char* kDiscardQuestionText = "Удалить сведения о прерванной записи?";
// A write that did not start because its record could not be saved.
inline constexpr const char* kNoRecordText =
    "Сетевой номер не записан: не удается сохранить сведения о записи, без них прерванную запись "
    "нельзя было бы завершить";
// "Нет" to the finish question before a new write: neither is done.
std::string NeitherWrittenText(const std::string& number);
// A write refused because another register answers to `number` (1..99).
std::string NumberTakenText(int number);
// A record of another register on the same port and link: kept, not acted on.
std::string OtherRegisterText(const std::string& number, std::uint8_t registerAddress);

}  // namespace kkm::service
