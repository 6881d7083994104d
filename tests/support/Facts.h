#pragma once
// What the tests know of the register and of the operator's texts, once for
// every test binary (no Qt here: the command-line tests use it too). The
// program keeps its own texts; these are an independent copy on purpose, so a
// changed text fails a test instead of changing silently in both places.

#include <cstdint>

namespace kkm::test {

// ---- The register's memory (firmware 1.0.5) --------------------------------

// Data memory: the working copy of the number, and the byte the register
// answers to on the line.
inline constexpr std::uint16_t kWorkingNumberAddress = 0x1140;
inline constexpr std::uint16_t kLineAddressAddress = 0x020F;
// Non-volatile memory: the stored number and the checksum over its block.
inline constexpr std::uint16_t kStoredNumberAddress = 0x073E;
inline constexpr std::uint16_t kStoredChecksumAddress = 0x0740;

// ---- The operator's texts (UTF-8) ------------------------------------------

namespace text {

inline constexpr char kCommandTitle[] = "Запись сетевого номера";
inline constexpr char kAppTitle[] = "Сетевой номер ККМ ТИМ-31Ц";
inline constexpr char kNoInterface[] = "Не удается установить последовательный интерфейс с ";
// After a command the status text has a Latin "c"; after the dialog a
// Cyrillic one (U+0441).
inline constexpr char kNoContactCommand[] = "Нет связи c ";
inline constexpr char kNoContactDialog[] = "Нет связи \u0441 ";
inline constexpr char kConnectedDialog[] = "Установлен интерфейс \u0441 ";
inline constexpr char kNoRegister[] = "Нет связи с ККМ";
inline constexpr char kNoKia[] = "Нет связи с микроконтроллером КИА";
inline constexpr char kOldFirmware[] = "В ККМ необходимо установить ПО версии не ниже 1.0.5";
inline constexpr char kReadDone[] = "Чтение завершено";
inline constexpr char kWriteDone[] = "Запись завершена";
inline constexpr char kWriteSucceeded[] = "Операция успешно завершена";
inline constexpr char kPortUnavailable[] = "Выбранный COM-порт недоступен";

}  // namespace text

}  // namespace kkm::test
