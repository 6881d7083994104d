#include "tools/kkm-sim/SimOptions.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <map>
#include <stdexcept>

#include "kkm/Version.h"

namespace kkm::sim::tool {

namespace {

constexpr int kMaxNibble = 15;

// A whole decimal or "0x" hexadecimal number within [low, high].
std::uint32_t ParseNumber(std::string_view text, std::uint32_t low, std::uint32_t high,
                          const std::string& what) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    throw std::invalid_argument("bad " + what + ": \"" + std::string(text) + "\"");
  return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const auto at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

std::vector<std::uint8_t> ParseBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (std::string_view part : Split(text, ',')) {
    if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) part.remove_prefix(2);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value, 16);
    if (part.empty() || error != std::errc() || end != part.data() + part.size() || value > 0xFF)
      throw std::invalid_argument("bad byte list: \"" + std::string(text) + "\"");
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return bytes;
}

const std::map<std::string, RegisterFault, std::less<>>& FaultKinds() {
  static const std::map<std::string, RegisterFault, std::less<>> kinds{
      {"silence", RegisterFault::Silent},         {"busy", RegisterFault::Busy},
      {"wrong-echo", RegisterFault::WrongEcho},   {"wrong-ack", RegisterFault::WrongAck},
      {"no-reply", RegisterFault::NoReply},       {"bad-checksum", RegisterFault::BadReplyChecksum},
      {"short-reply", RegisterFault::ShortReply}, {"stray-bytes", RegisterFault::StrayBytes},
  };
  return kinds;
}

}  // namespace

void ParseVersion(const std::string& text, std::uint8_t& d5, std::uint8_t& d6) {
  const auto parts = Split(text, '.');
  if (parts.size() < 3 || parts.size() > 4) throw std::invalid_argument("bad version: \"" + text + "\"");
  std::uint32_t nibbles[4] = {};
  const std::size_t skipped = 4 - parts.size();
  for (std::size_t i = 0; i < parts.size(); ++i)
    nibbles[skipped + i] = ParseNumber(parts[i], 0, kMaxNibble, "version part");
  d5 = static_cast<std::uint8_t>(nibbles[0] << 4 | nibbles[1]);
  d6 = static_cast<std::uint8_t>(nibbles[2] << 4 | nibbles[3]);
}

FaultRule ParseFault(const std::string& text) {
  // 1. EXCHANGE and KIND[=VALUE].
  const auto colon = text.find(':');
  if (colon == std::string::npos) throw std::invalid_argument("bad fault \"" + text + "\": EXCHANGE:KIND");
  const std::string_view exchange = std::string_view(text).substr(0, colon);
  std::string_view kind = std::string_view(text).substr(colon + 1);
  std::string_view value;
  if (const auto equals = kind.find('='); equals != std::string_view::npos) {
    value = kind.substr(equals + 1);
    kind = kind.substr(0, equals);
  }

  // 2. Which exchanges.
  FaultRule rule;
  if (exchange == "all") {
    rule.times = 0;
  } else if (exchange.starts_with("cmd")) {
    const auto parts = Split(exchange.substr(3), '#');
    if (parts.size() > 2)
      throw std::invalid_argument("bad fault exchange: \"" + std::string(exchange) + "\"");
    rule.command = static_cast<std::uint8_t>(ParseNumber(parts[0], 0, 0xFF, "command"));
    rule.occurrence = parts.size() == 2 ? ParseNumber(parts[1], 0, UINT32_MAX, "occurrence") : 1;
    rule.times = rule.occurrence == 0 ? 0 : 1;
  } else {
    rule.exchange = ParseNumber(exchange, 1, UINT32_MAX, "exchange number");
  }

  // 3. What goes wrong, and its value.
  const auto found = FaultKinds().find(kind);
  if (found == FaultKinds().end())
    throw std::invalid_argument("unknown fault kind: \"" + std::string(kind) + "\"");
  rule.fault = found->second;
  if (!value.empty()) {
    if (rule.fault == RegisterFault::Busy)
      rule.count = ParseNumber(value, 0, UINT32_MAX, "busy count");
    else if (rule.fault == RegisterFault::WrongEcho || rule.fault == RegisterFault::WrongAck ||
             rule.fault == RegisterFault::StrayBytes)
      rule.bytes = ParseBytes(value);
    else
      throw std::invalid_argument("fault \"" + std::string(kind) + "\" takes no value");
  }
  return rule;
}

BusFault ParseBusFault(const std::string& text) {
  static const std::map<std::string, BusFault, std::less<>> kinds{{"data-low", BusFault::DataLow},
                                                                  {"clock-low", BusFault::ClockLow},
                                                                  {"no-eeprom-51", BusFault::NoReadDevice},
                                                                  {"no-eeprom-53", BusFault::NoWriteDevice}};
  const auto found = kinds.find(text);
  if (found == kinds.end()) throw std::invalid_argument("unknown bus fault: \"" + text + "\"");
  return found->second;
}

namespace {

// The option values read into the options after parsing, as they were given.
struct Words {
  std::string link = service::LinkName(Link::Processor);
  std::string firmware = "1.0.5";
  std::vector<std::string> faults;
  std::vector<std::string> busFaults;
};

// The device's options, its run's and its dumps'.
void AddDeviceOptions(CLI::App& app, SimOptions& options, Words& words) {
  app.add_option("--link", words.link, "cpu: связь с процессором ККМ; kia: плата КИА, подключённая к ККМ")
      ->check(CLI::IsMember({service::LinkName(Link::Processor), service::LinkName(Link::Kia)}))
      ->capture_default_str();
  app.add_option("--number", options.number, "сетевой номер 1..99")
      ->check(CLI::Range(1, 99))
      ->capture_default_str();
  app.add_option("--firmware", words.firmware, "версия ПО A.B.C[.D], каждое число 0..15 (полубайты D5 и D6)")
      ->capture_default_str();
  app.set_version_flag("--version", std::string("kkm-sim ") + kVersion, "показать версию и выйти");
  app.add_option("--busy", options.busy, "ответы «занято» 0x65 перед каждым эхом (связь с процессором)");
  app.add_option(
      "--fault", words.faults,
      "EXCHANGE:KIND[=VALUE], можно повторять (связь с процессором). EXCHANGE: N, all, cmd0xHH[#N];\n"
      "KIND: silence, busy[=N], wrong-echo[=HH], wrong-ack[=HH], no-reply, bad-checksum,\n"
      "short-reply, stray-bytes[=HH,HH...]");
  app.add_option("--bus-fault", words.busFaults,
                 "data-low, clock-low, no-eeprom-51, no-eeprom-53, можно повторять (связь с КИА)");
  app.add_option("--trace", options.tracePath,
                 "каждый байт строкой \"<ms> host>dev|dev>host <hex> <parity>\" в FILE, или - — в stderr");
  app.add_option(
      "--link-path", options.linkPath,
      "символическая ссылка на подчинённую сторону, удаляется при выходе (висячая заменяется, иное — "
      "отказ)");
  app.add_option(
      "--dump-memory", options.dumpMemoryPath,
      "при выходе: строки 0xAAAA=HH для памяти данных 0x1140, 0x020F и энергонезависимой 0x073E, 0x0740 "
      "(с --registers: первой ККМ; остальных — в FILE.2, FILE.3, ...)");
  app.add_option("--dump-data", options.dumpDataPath, "при выходе: память данных, 64 КБ, двоичный файл");
  app.add_option("--dump-nonvolatile", options.dumpNonVolatilePath,
                 "при выходе: энергонезависимая память, 8 КБ, двоичный файл");
  app.add_option("--uart-fifo", options.uartFifo,
                 "приёмный FIFO UART компьютера: байты приходят в порт пачками по столько, или после 4 "
                 "символьных интервалов тишины (0: по одному)")
      ->capture_default_str();
  app.add_flag("--exit-on-close", options.exitOnClose,
               "завершиться, когда компьютер закроет открытый им порт");
}

// Several registers on one line, and a row of fresh ones; the option of the
// several, whose presence the checks look at.
CLI::Option* AddLineOptions(CLI::App& app, SimOptions& options) {
  CLI::Option* registers =
      app.add_option(
             "--registers", options.registers,
             "N[,N...], можно повторять: по ККМ на каждый сетевой номер 1..99 на связи с процессором, "
             "вместо --number (один номер дважды: две ККМ, искажающие эхо друг друга)")
          ->delimiter(',')
          ->check(CLI::Range(1, 99));
  app.add_option("--fresh-row", options.freshRow,
                 "K: K factory-fresh registers at --number, one after another: the next comes a moment after "
                 "the last one is renumbered")
      ->check(CLI::Range(1, 99));
  app.add_option("--row-delay", options.rowDelayMs, "MS: that moment (--fresh-row)")->capture_default_str();
  app.add_flag(
      "--row-unplug", options.rowPointToPoint,
      "point-to-point (--fresh-row): the renumbered register goes before the next comes (always with "
      "--link kia)");
  app.add_option("--row-two-at-once", options.rowTwoAtOnceMs,
                 "MS: the row's first two come together; the second is taken away after MS ms and comes back "
                 "in its turn (--fresh-row, processor link)");
  return registers;
}

// The words parsed into the options, and the options checked against each
// other; a mismatch throws CLI::ValidationError, a bad word std::invalid_argument.
void Complete(const CLI::App& app, const CLI::Option& registers, const Words& words, SimOptions& options) {
  options.link = service::ParseLink(words.link).value_or(Link::Processor);
  ParseVersion(words.firmware, options.versionD5, options.versionD6);
  for (const std::string& fault : words.faults) options.faults.push_back(ParseFault(fault));
  for (const std::string& fault : words.busFaults) options.busFaults.push_back(ParseBusFault(fault));
  if (options.link == Link::Kia && (options.busy != 0 || !options.faults.empty()))
    throw CLI::ValidationError("--busy and --fault", "apply to the processor link (--link cpu) only");
  if (options.link == Link::Processor && !options.busFaults.empty())
    throw CLI::ValidationError("--bus-fault", "applies to the KIA link (--link kia) only");
  if (registers.count() != 0 && options.link == Link::Kia)
    throw CLI::ValidationError("--registers", "applies to the processor link (--link cpu) only");
  if (options.freshRow == 0 &&
      (app.count("--row-delay") + app.count("--row-unplug") + app.count("--row-two-at-once")) != 0)
    throw CLI::ValidationError("--row-delay, --row-unplug and --row-two-at-once", "need --fresh-row");
  if (options.link == Link::Kia && options.rowTwoAtOnceMs != 0)
    throw CLI::ValidationError("--row-two-at-once", "applies to the processor link (--link cpu) only");
  if (options.link == Link::Kia) options.rowPointToPoint = true;
  if (registers.count() != 0 && app.count("--number") != 0 && options.freshRow == 0)
    throw CLI::ValidationError("--registers", "replaces --number; give one of them");
}

}  // namespace

int ParseCommandLine(int argc, char** argv, SimOptions& options) {
  CLI::App app{
      "Моделирует ККМ на псевдотерминале в реальном времени и выводит путь, который нужно указать\n"
      "в KKM_COM1. Завершается по SIGINT или SIGTERM."};
  // Help in Russian, as the tools' messages are; usage lines and option names stay.
  app.get_formatter()->label("Excludes", "Исключает");
  app.get_formatter()->label("Needs", "Требует");
  app.option_defaults()->group("Параметры");
  app.set_help_flag("-h,--help", "показать эту справку и выйти");
  Words words;
  AddDeviceOptions(app, options, words);
  const CLI::Option* registers = AddLineOptions(app, options);
  try {
    app.parse(argc, argv);
    Complete(app, *registers, words, options);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  } catch (const std::invalid_argument& error) {
    return app.exit(CLI::ValidationError(error.what()));
  }
  return -1;
}

}  // namespace kkm::sim::tool
