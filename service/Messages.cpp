#include "service/Messages.h"

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

}  // namespace kkm::service
