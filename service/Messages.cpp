#include "service/Messages.h"

#include <cstdio>

#include "service/NumberText.h"

namespace kkm::service {

std::string ConnectOutcomeText(ConnectOutcome outcome) {
  switch (outcome) {
    case ConnectOutcome::Connected:
      return {};
    case ConnectOutcome::PortUnavailable:
      return kPortUnavailableText;
    case ConnectOutcome::NoRegister:
      return kNoRegisterText;
    case ConnectOutcome::WrongFirmware:
      return kWrongFirmwareText;
    case ConnectOutcome::NoKia:
      return kNoKiaText;
  }
  return {};
}

std::string LinkWord(Link link) { return link == Link::Processor ? "ККМ" : "микроконтроллером КИА"; }

std::string NoInterfaceText(Link link) {
  return "Не удается установить последовательный интерфейс с " + LinkWord(link);
}

std::string FinishQuestionText(const std::string& number) {
  return "Запись сетевого номера " + number + " в ККМ была прервана. Завершить её?";
}

std::string MemoryChangedText(const std::string& number) {
  return "Память ККМ изменилась после прерванной записи сетевого номера " + number +
         ". Завершить её автоматически нельзя.";
}

std::string NeitherWrittenText(const std::string& number) {
  return "Прерванная запись сетевого номера " + number + " не завершена, новый сетевой номер не записан.";
}

std::string NumberTakenText(int number) {
  return "Сетевой номер " + NetworkNumberText(NetworkNumberByte(number)) +
         " уже занят другой ККМ на этой линии; запись не выполнена.";
}

std::string OtherRegisterText(const std::string& number, std::uint8_t registerAddress) {
  char address[5];
  std::snprintf(address, sizeof address, "%02X", 0xFF - registerAddress);
  return "Прерванная запись сетевого номера " + number + " относится к другой ККМ (сетевой номер " + address +
         "); сведения о ней сохранены.";
}

}  // namespace kkm::service
