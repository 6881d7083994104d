#include "tools/kkm-netnum-cli/CliOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <ostream>
#include <tuple>
#include <utility>

#include "kkm/Version.h"
#include "serial/PortMap.h"
#include "tools/kkm-netnum-cli/Console.h"
#include "tools/kkm-netnum-cli/Render.h"
#include "tools/kkm-netnum-cli/SharedLine.h"

namespace kkm::cli {

namespace {

using service::Link;

// --port, --json and --trace; with `withLink` --link and --register too.
void AddCommonOptions(CLI::App& command, CliOptions& options, std::string& link, bool withLink) {
  command.add_option("--port", options.port, "COM1..COM255 или путь к устройству")->required();
  if (withLink) AddLinkOption(command, link);
  if (withLink) AddRegisterOption(command, options.registerText);
  command.add_flag("--json", options.asJson, "вывести один объект JSON вместо текста");
  command.add_option("--trace", options.tracePath,
                     "дописывать протокол каждого обмена в FILE (- — в стандартный поток ошибок); "
                     "то же делает KKM_TRACE=FILE");
}

// Every command with its options, under one Russian heading, with its help
// options among its own.
void AddCommands(CLI::App& app, CliOptions& options, std::string& link) {
  CLI::App* read = app.add_subcommand("read", "вывести сетевой номер, две цифры");
  AddCommonOptions(*read, options, link, true);
  CLI::App* write = app.add_subcommand("write", "записать сетевой номер NUMBER (1..99, десятичный)");
  write->add_option("NUMBER", options.numberText, "1..99, десятичный")->required();
  AddCommonOptions(*write, options, link, true);
  CLI::App* finish =
      app.add_subcommand("finish", "завершить прерванную запись на этом порту и связи, не спрашивая");
  AddCommonOptions(*finish, options, link, true);
  finish->add_flag("--discard", options.discard, "удалить сведения о прерванной записи вместо её завершения");
  CLI::App* scan = app.add_subcommand("scan", "перечислить все ККМ на линии: номер, адрес, версия ПО");
  AddCommonOptions(*scan, options, link, false);
  CLI::App* history =
      app.add_subcommand("history", "журнал обслуживания: каждая запись и завершение, новые последними");
  history->add_flag("--json", options.asJson, "вывести один объект JSON, записи журнала в его \"entries\"");
  AddPortsCommand(app, options.ports);
  AddCommissionCommand(app, options.commission);
  for (CLI::App* command : app.get_subcommands({})) {
    command->group("Команды");
    for (const char* help : {"--help", "--help-all"})
      if (CLI::Option* option = command->get_option_no_throw(help)) option->group("Параметры");
  }
}

Command ParsedCommand(const CLI::App& app) {
  const std::pair<const char*, Command> commands[] = {{"read", Command::Read},
                                                      {"write", Command::Write},
                                                      {"finish", Command::Finish},
                                                      {"scan", Command::Scan},
                                                      {"history", Command::History},
                                                      {"ports", Command::Ports},
                                                      {"commission", Command::Commission}};
  for (const auto& [name, command] : commands)
    if (app.got_subcommand(name)) return command;
  return Command::Read;  // one command is required; the parser has refused a line without
}

// One spelling rule on every system: a port is COM1..COM255, in any case
// ("com1" is COM1, as Windows itself reads it), or a device path (with a / or
// a \). `port` is written back in the form the rest of the tool uses; false
// for anything else, a usage error.
bool NormalizePortName(std::string& port) {
  if (port.find_first_of("/\\") != std::string::npos) return true;
  std::string com = port;
  for (std::size_t i = 0; i < std::min<std::size_t>(3, com.size()); ++i)
    com[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(com[i])));
  if (!serial::ComPortNumber(com)) return false;
  port = com;
  return true;
}

// The usage error of a port name that is neither a COM name nor a path, with
// the path meant when it looks like a device's own name ("ttyUSB0"); Windows
// has no /dev to suggest.
std::string BadPortNameText(const std::string& port) {
#ifdef _WIN32
  const bool suggestDevice = false;
#else
  std::string lower = port;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool suggestDevice = lower.rfind("com", 0) != 0 && !port.empty();
#endif
  return "неверное имя порта " + port + " (COM1..COM255 или путь к устройству" +
         (suggestDevice ? ", например /dev/" + port : "") + ")";
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out,
                                    std::ostream& err) {
  CLI::App app{"Читает, записывает и перечисляет сетевые номера ККМ ТИМ-31Ц через последовательный порт.",
               kProgram};
  RussianHelp(app);
  app.set_version_flag("--version", std::string("kkm-netnum-cli ") + kVersion, "показать версию и выйти");
  app.set_help_all_flag("--help-all", "показать справку всех команд с их параметрами");
  app.require_subcommand(1);
  // Usage errors in Russian, as every other message; subcommands inherit it.
  app.failure_message([](const CLI::App*, const CLI::Error& e) { return UsageErrorText(e); });
  std::string link = service::LinkName(Link::Processor);
  AddCommands(app, options, link);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    // --json anywhere asks for the object, even on a line that did not parse.
    const bool wantsJson =
        std::any_of(argv + 1, argv + argc, [](const char* a) { return std::string(a) == "--json"; });
    return UsageError(UsageProblem(e), wantsJson, out, err);
  }
  options.command = ParsedCommand(app);
  options.link = service::ParseLink(link).value_or(Link::Processor);
  if (options.command == Command::History || options.command == Command::Ports) return std::nullopt;
  if (options.command == Command::Commission)
    std::tie(options.port, options.tracePath) =
        std::pair(options.commission.port, options.commission.tracePath);
  if (!NormalizePortName(options.port))
    return UsageError(BadPortNameText(options.port), options.asJson, out, err);
  // commission opens the port by its own options: the name as the tool uses it.
  if (options.command == Command::Commission) options.commission.port = options.port;
  return std::nullopt;
}

}  // namespace kkm::cli
