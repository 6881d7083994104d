#include "tools/kkm-netnum-cli/SharedLine.h"

#include <CLI/CLI.hpp>
#include <optional>

#include "service/Messages.h"
#include "service/NetworkNumber.h"

namespace kkm::cli {

void AddRegisterOption(CLI::App& command, std::string& text) {
  command.add_option("--register", text,
                     "N (1..99): ККМ с сетевым номером N на общей линии, напрямую (связь с ЦП кассы); "
                     "без него — первая найденная ККМ");
}

std::string NameRegister(const std::string& text, service::Link link, service::Session& session) {
  if (text.empty()) return {};
  const std::optional<int> number = service::ParseNetworkNumber(text);
  if (!number) return "--register: " + std::string(service::kOutOfRangeText);
  if (link != service::Link::Processor) return "--register: только для связи с ЦП кассы (--link cpu)";
  session.namedAddress = service::NetworkNumberByte(*number);
  return {};
}

}  // namespace kkm::cli
