#include "tools/kkm-netnum-cli/SharedLine.h"

#include <CLI/CLI.hpp>
#include <optional>

#include "service/Messages.h"
#include "service/NetworkNumber.h"
#include "service/Scan.h"

namespace kkm::cli {

void AddRegisterOption(CLI::App& command, std::string& text) {
  command.add_option("--register", text,
                     "N (1..99): the register with network number N on a shared line, addressed directly "
                     "(processor link); without it, the first register found");
}

std::string NameRegister(const std::string& text, service::Link link, service::Session& session) {
  if (text.empty()) return {};
  const std::optional<int> number = service::ParseNetworkNumber(text);
  if (!number) return "--register: " + std::string(service::kOutOfRangeText);
  if (link != service::Link::Processor) return "--register: только для связи с ЦП кассы (--link cpu)";
  session.namedAddress = service::NetworkNumberByte(*number);
  return {};
}

bool NumberTaken(service::Session& session, service::Link link, int number) {
  const std::uint8_t address = service::NetworkNumberByte(number);
  if (link != service::Link::Processor || address == session.registerAddress) return false;
  return service::AddressAnswers(session, address);
}

std::string NumberTakenText(int number) {
  return "Сетевой номер " + service::NetworkNumberText(service::NetworkNumberByte(number)) +
         " уже занят другой ККМ на этой линии; запись не выполнена.";
}

}  // namespace kkm::cli
