// kkm-netnum-cli in-process on the virtual line: for every outcome the exit
// status, standard output and standard error, as text and as JSON.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "service/WriteRecord.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/CableCutter.h"
#include "tests/support/Facts.h"
#include "tests/support/RegisterPlaces.h"
#include "tests/support/StateHome.h"
#include "tools/kkm-netnum-cli/CliTool.h"
#include "tools/kkm-netnum-cli/SharedLine.h"

namespace kkm::cli {
namespace {

using sim::RegisterFault;

// A device name the port map takes and no machine has. On Windows an argument
// starting with / is an option, and a port name that is no COM name gets no
// /dev path suggested.
#ifdef _WIN32
constexpr const char* kAbsentDevice = "KKM-ABSENT";
constexpr const char* kDevicePathExample = "";
#else
constexpr const char* kAbsentDevice = "/dev/kkm-absent";
constexpr const char* kDevicePathExample = ", например /dev/ttyUSB0";
#endif

// What is on COM1's line; NoDevice: KKM_COM1 is set empty, on the machine's own ports.
// CutAtF0: register 1, and the cable pulled when the host sends 0xF0.
enum class Device { Register, Kia, Nothing, OldFirmware, TwoRegistersSharingFive, Shared, NoDevice, CutAtF0 };

struct Fault {
  std::uint8_t command = 0;  // 0: none
  std::uint32_t occurrence = 1;
};

struct CliCase {
  const char* name;
  std::vector<std::string> args;
  Device device;
  Fault fault;
  int exitCode;
  std::string out;   // text mode
  std::string err;   // both modes
  std::string json;  // with --json appended; empty: the same output as text mode
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

namespace text = test::text;
// A message line on standard error.
std::string Said(const char* message) { return std::string(message) + "\n"; }

// JSON of a read or write outcome, from the texts the table gives ("null"
// for none): the number as a number beside its two digits, the line address
// ("0xFE") and the exchange as integers, no reason yet, no warnings.
std::string Json(const char* outcome, const char* number, const char* address, const char* firmware,
                 const char* failedExchange) {
  const auto given = [](const char* v) { return std::string(v) != "null"; };
  const auto orNull = [&](const char* v, auto convert) {
    return given(v) ? convert(v) : nlohmann::ordered_json();
  };
  const auto integer = [](int base) {
    return [base](const char* v) { return nlohmann::ordered_json(std::stoi(v, nullptr, base)); };
  };
  const auto text = [](const char* v) { return nlohmann::ordered_json(v); };
  return nlohmann::ordered_json{{"outcome", outcome},
                                {"number", orNull(number, integer(10))},
                                {"number_text", orNull(number, text)},
                                {"address", orNull(address, integer(16))},
                                {"firmware", orNull(firmware, text)},
                                {"failed_exchange", orNull(failedExchange, integer(10))},
                                {"reason", nullptr},
                                {"warnings", nlohmann::ordered_json::array()}}
      .dump();
}

const std::string kNoCpu = "Не удается установить последовательный интерфейс с ККМ\n";
// The partly-written message after the exchange number: reads only, or the
// non-volatile writes.
const std::string kPartly = kNoCpu + "Запись прервана на обмене ";
const std::string kReadsOnly =
    " из 6: сетевой номер записан только в оперативную память ККМ, энергонезависимая память не изменена. "
    "Восстановите связь и повторите запись.\n";
const std::string kNonVolatile =
    " из 6: сетевой номер и контрольная сумма в энергонезависимой памяти ККМ могут не совпадать. Не "
    "выключайте ККМ: восстановите связь и завершите запись: kkm-netnum-cli finish --port COM1 --link cpu\n";
const std::string kOutOfRange = "Сетевой номер должен быть числом от 1 до 99.\n";
const std::string kUsageJson =
    R"({"outcome": "usage", "reason": {"code": "usage", "text": "Сетевой номер должен быть числом от 1 до 99."}})";

const std::vector<std::string> kRead{"read", "--port", "COM1"};
std::vector<std::string> Write(const char* number) { return {"write", number, "--port", "COM1"}; }

const CliCase kCases[] = {
    // Reads.
    {"ReadCpu",
     kRead,
     Device::Register,
     {},
     kExitDone,
     "01\n",
     "",
     Json("done", "01", "0xFE", "1.0.5", "null")},
    {"ReadKia",
     {"read", "--port", "COM1", "--link", "kia"},
     Device::Kia,
     {},
     kExitDone,
     "01\n",
     "",
     Json("done", "01", "null", "null", "null")},
    {"ReadMissingPort",
     {"read", "--port", "COM2"},
     Device::Register,
     {},
     kExitPortUnavailable,
     "",
     Said(text::kPortUnavailable) + "Устройство COM2\n",
     Json("port_unavailable", "null", "null", "null", "null")},
#ifndef _WIN32
    {"ReadNoDevice",
     kRead,
     Device::NoDevice,
     {},
     kExitPortUnavailable,
     "",
     Said(text::kPortUnavailable) + "COM1 — устройство не определено: проверьте KKM_COM1 и карту портов "
                                    "(kkm-netnum-cli ports)\n",
     Json("port_unavailable", "null", "null", "null", "null")},
#endif
    {"ReadLowerCaseCom",
     {"read", "--port", "com1"},
     Device::Register,
     {},
     kExitDone,
     "01\n",
     "",
     Json("done", "01", "0xFE", "1.0.5", "null")},
    {"ReadNoRegister",
     kRead,
     Device::Nothing,
     {},
     kExitNoContact,
     "",
     Said(text::kNoRegister),
     Json("no_register", "null", "null", "null", "null")},
    {"ReadNoKia",
     {"read", "--port", "COM1", "--link", "kia"},
     Device::Nothing,
     {},
     kExitNoContact,
     "",
     Said(text::kNoKia),
     Json("no_kia", "null", "null", "null", "null")},
    {"ReadWrongFirmware",
     kRead,
     Device::OldFirmware,
     {},
     kExitWrongFirmware,
     "",
     Said(text::kOldFirmware),
     Json("wrong_firmware", "null", "0xFE", "1.0.4", "null")},
    {"ReadFails",
     kRead,
     Device::Register,
     {0x06, 1},
     kExitNoContact,
     "",
     kNoCpu,
     Json("read_failed", "null", "0xFE", "1.0.5", "null")},
    // Writes: done, then stopped at each of the six exchanges.
    {"Write",
     Write("45"),
     Device::Register,
     {},
     kExitDone,
     "45\n",
     "",
     Json("done", "45", "0xBA", "1.0.5", "null")},
    {"WriteWithLeadingZero",
     Write("007"),
     Device::Register,
     {},
     kExitDone,
     "07\n",
     "",
     Json("done", "07", "0xF8", "1.0.5", "null")},
    {"WriteStopsAt1",
     Write("45"),
     Device::Register,
     {0x05, 1},
     kExitNoContact,
     "",
     kNoCpu,
     Json("write_failed", "null", "0xFE", "1.0.5", "1")},
    {"WriteStopsAt2",
     Write("45"),
     Device::Register,
     {0x16, 1},
     kExitPartlyWritten,
     "",
     kPartly + "2" + kReadsOnly,
     Json("partly_written", "null", "0xFE", "1.0.5", "2")},
    {"WriteStopsAt3",
     Write("45"),
     Device::Register,
     {0x16, 2},
     kExitPartlyWritten,
     "",
     kPartly + "3" + kReadsOnly,
     Json("partly_written", "null", "0xFE", "1.0.5", "3")},
    {"WriteStopsAt4",
     Write("45"),
     Device::Register,
     {0x17, 1},
     kExitPartlyWritten,
     "",
     kPartly + "4" + kNonVolatile,
     Json("partly_written", "null", "0xFE", "1.0.5", "4")},
    {"WriteStopsAt5",
     Write("45"),
     Device::Register,
     {0x17, 2},
     kExitPartlyWritten,
     "",
     kPartly + "5" + kNonVolatile,
     Json("partly_written", "null", "0xFE", "1.0.5", "5")},
    {"WriteStopsAt6",
     Write("45"),
     Device::Register,
     {0x05, 2},
     kExitNoContact,
     "",
     kNoCpu,
     Json("write_failed", "null", "0xFE", "1.0.5", "6")},
    // Numbers that are not 1..99 in decimal: nothing is sent.
    {"WriteZero", Write("0"), Device::Register, {}, kExitUsage, "", kOutOfRange, kUsageJson},
    {"WriteHundred", Write("100"), Device::Register, {}, kExitUsage, "", kOutOfRange, kUsageJson},
    {"WriteHex", Write("0x10"), Device::Register, {}, kExitUsage, "", kOutOfRange, kUsageJson},
    {"WriteSigned", Write("+5"), Device::Register, {}, kExitUsage, "", kOutOfRange, kUsageJson},
    // One register of several on the line: one that is not there.
    {"ReadNamedAbsent",
     {"read", "--port", "COM1", "--register", "9"},
     Device::Shared,
     {},
     kExitNoContact,
     "",
     Said(text::kNoRegister),
     Json("no_register", "null", "null", "null", "null")},
    // Scans.
    {"Scan",
     {"scan", "--port", "COM1"},
     Device::TwoRegistersSharingFive,
     {},
     kExitConflict,
     "01  0xFE  1.0.5\n--  0xFA  конфликт: несколько ККМ отвечают на этот адрес\n",
     "",
     R"({"outcome": "conflict", "registers": [{"number": 1, "number_text": "01", "address": 254,
         "firmware": "1.0.5"}], "conflicts": [{"number": 5, "number_text": "05", "address": 250}],
         "reason": null})"},
    {"ScanCut",
     {"scan", "--port", "COM1"},
     Device::CutAtF0,
     {},
     kExitNoContact,
     "01  0xFE  ?\n",
     "Поиск ККМ на линии прерван: список неполный\n",
     R"({"outcome": "scan_failed", "registers": [{"number": 1, "number_text": "01", "address": 254,
         "firmware": null}], "conflicts": [], "reason": null})"},
    {"ScanNobody",
     {"scan", "--port", "COM1"},
     Device::Nothing,
     {},
     kExitNoContact,
     "",
     Said(text::kNoRegister),
     R"({"outcome": "no_register", "registers": [], "conflicts": [], "reason": null})"},
    {"ScanMissingPort",
     {"scan", "--port", "COM3"},
     Device::Register,
     {},
     kExitPortUnavailable,
     "",
     Said(text::kPortUnavailable) + "Устройство COM3\n",
     R"({"outcome": "port_unavailable", "registers": [], "conflicts": [], "reason": null})"},
};

// The failure reason each failing case reports, after the first line of its
// message and in its JSON; cases not listed report none.
const std::map<std::string, std::string> kReasons = {
    {"ReadMissingPort", "port-unavailable: COM-порт недоступен"},
    {"ScanCut", "port-vanished: COM-порт пропал (адаптер отключён или кабель вынут)"},
    {"ScanMissingPort", "port-unavailable: COM-порт недоступен"},
    {"ReadNoDevice",
     "port-name-unusable: COM-порт недоступен: переменная KKM_COM1 задана пустой (укажите "
     "устройство или уберите её)"},
    {"ReadNamedAbsent", "no-echo: эхо адресного байта F6 не пришло за 40 мс"},
    {"ReadNoRegister", "no-register: ни один адрес 00..FF не получил эха: ККМ не ответила на поиск"},
    {"ReadNoKia", "no-kia-answer: микроконтроллер КИА не ответил за 50 мс"},
    {"ReadWrongFirmware", "wrong-firmware: версия ПО ККМ 104 не поддерживается (нужна 105)"},
    {"ReadFails", "no-ack: подтверждение A3 не пришло за 700 мс"},
    {"WriteStopsAt1", "no-ack: подтверждение E9 не пришло за 700 мс"},
    {"WriteStopsAt2", "no-ack: подтверждение 9D не пришло за 200 мс"},
    {"WriteStopsAt3", "no-ack: подтверждение 9F не пришло за 200 мс"},
    {"WriteStopsAt4", "no-ack: подтверждение E3 не пришло за 200 мс"},
    {"WriteStopsAt5", "no-ack: подтверждение E1 не пришло за 200 мс"},
    {"WriteStopsAt6", "no-ack: подтверждение 29 не пришло за 700 мс"},
};

std::string ReasonOf(const CliCase& c) {
  const auto found = kReasons.find(c.name);
  return found == kReasons.end() ? "" : found->second;
}

// What the case writes on standard error once its reason is known.
std::string ErrWithReason(const CliCase& c) {
  const std::string reason = ReasonOf(c);
  if (reason.empty()) return c.err;
  const std::size_t lineEnd = c.err.find('\n');
  return c.err.substr(0, lineEnd) + ": " + reason + c.err.substr(lineEnd);
}

// The case's JSON with its reason filled in: {"code", "text"} or null.
nlohmann::json JsonWithReason(const CliCase& c) {
  nlohmann::json json = nlohmann::json::parse(c.json);
  const std::string reason = ReasonOf(c);
  if (const std::size_t colon = reason.find(": "); colon != std::string::npos)
    json["reason"] = {{"code", reason.substr(0, colon)}, {"text", reason.substr(colon + 2)}};
  return json;
}

// The tool in-process with `args` after its name; both streams collected.
// The documented types of a read, write or finish object's fields.
void ExpectDocumentedShape(const nlohmann::json& j) {
  using V = nlohmann::json::value_t;
  if (j["outcome"] == "usage") {  // the same for every command: what is wrong
    EXPECT_EQ(j.size(), 2u) << j.dump();
    EXPECT_TRUE(j["reason"]["code"] == "usage" && j["reason"]["text"].is_string()) << j.dump();
    return;
  }
  const auto is = [&j](const char* key, std::initializer_list<V> types) {
    EXPECT_TRUE(j.contains(key) && std::find(types.begin(), types.end(), j[key].type()) != types.end())
        << key << " in " << j.dump();
  };
  is("outcome", {V::string});
  is("number", {V::number_unsigned, V::null});
  is("number_text", {V::string, V::null});
  is("address", {V::number_unsigned, V::null});
  is("firmware", {V::string, V::null});
  is("failed_exchange", {V::number_unsigned, V::null});
  is("reason", {V::object, V::null});
  if (j["reason"].is_object()) {
    EXPECT_TRUE(j["reason"]["code"].is_string() && j["reason"]["text"].is_string()) << j.dump();
  }
  is("warnings", {V::array});
}

int RunTool(serial::Platform& platform, std::vector<std::string> args, std::string& out, std::string& err,
            bool terminal = false) {
  const bool shaped = std::find(args.begin(), args.end(), "--json") != args.end() &&
                      (args[0] == "read" || args[0] == "write" || args[0] == "finish");
  args.insert(args.begin(), "kkm-netnum-cli");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream outStream, errStream;
  const int code =
      RunCli(static_cast<int>(argv.size()), argv.data(), platform, outStream, errStream, terminal);
  out = outStream.str();
  err = errStream.str();
  if (shaped) ExpectDocumentedShape(nlohmann::json::parse(out));
  return code;
}

class CliTest : public ::testing::TestWithParam<CliCase> {
 protected:
  void SetUp() override {
    const CliCase& c = GetParam();
    platform_.addPort("COM1", line_);
    switch (c.device) {
      case Device::Nothing:
      case Device::NoDevice:
        break;
      case Device::Register:
        line_.attach(register_);
        break;
      case Device::OldFirmware:
        register_.setFirmwareVersion(0x01, 0x04);
        line_.attach(register_);
        break;
      case Device::Kia:
        line_.attach(board_);
        break;
      case Device::TwoRegistersSharingFive:
        line_.attach(register_);
        line_.attach(five_);
        line_.attach(anotherFive_);
        break;
      case Device::CutAtF0:
        line_.attach(register_);
        line_.attach(cutter_);
        break;
      case Device::Shared:  // registers 1, 5 and 17
        line_.attach(register_);
        line_.attach(five_);
        line_.attach(seventeen_);
        break;
    }
    if (c.fault.command != 0)
      register_.faultOnCommand(c.fault.command, RegisterFault::Silent, c.fault.occurrence);
  }

  int run(const std::vector<std::string>& args, std::string& out, std::string& err) {
#ifndef _WIN32
    if (GetParam().device == Device::NoDevice) {
      setenv("KKM_COM1", "", 1);
      const int code = RunTool(*serial::MakeNativePlatform(), args, out, err);
      unsetenv("KKM_COM1");
      return code;
    }
#endif
    return RunTool(platform_, args, out, err);
  }
  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  sim::CashRegister register_{1};
  sim::CashRegister five_{5};
  sim::CashRegister anotherFive_{5};
  sim::CashRegister seventeen_{17};
  sim::kia::KiaBoard board_{register_.dataMemory(), register_.nonVolatile()};
  test::CableCutter cutter_{line_, 0xF0};
};

TEST_P(CliTest, ExitStatusAndOutputAsTextAndAsJson) {
  const CliCase& c = GetParam();
  std::string out, err;
  EXPECT_EQ(run(c.args, out, err), c.exitCode);
  EXPECT_EQ(out, c.out);
  EXPECT_EQ(err, ErrWithReason(c));
  if (c.exitCode == kExitUsage) {
    EXPECT_TRUE(line_.traceOf(sim::Direction::HostToDevice).empty()) << "nothing is sent for a bad number";
  }
}

TEST_P(CliTest, JsonIsOneObjectOnStandardOutput) {
  const CliCase& c = GetParam();
  std::vector<std::string> args = c.args;
  args.push_back("--json");
  std::string out, err;
  EXPECT_EQ(run(args, out, err), c.exitCode);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  EXPECT_EQ(nlohmann::json::parse(out), JsonWithReason(c)) << out;
  EXPECT_EQ(err, ErrWithReason(c));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, CliTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The command line itself: help and version succeed, anything malformed is a
// usage error before any port is touched.
TEST(CliUsage, HelpVersionAndMalformedCommandLines) {
  sim::VirtualLine line;
  sim::VirtualPlatform platform(line);
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string outStart;
    std::string problem = "";  // of a usage error, as its first line names it
  };
  const Row rows[] = {
      {{"--help"}, kExitDone, "Читает, записывает и перечисляет"},
      {{"write", "--help"}, kExitDone, "записать сетевой номер"},
      {{"--version"}, kExitDone, "kkm-netnum-cli "},
      {{}, kExitUsage, ""},
      {{"read"}, kExitUsage, "", "не указан параметр --port"},
      {{"read", "--port", "COM1", "--link", "usb"}, kExitUsage, "", "недопустимое значение параметра --link"},
      {{"write", "--port", "COM1"}, kExitUsage, ""},
      {{"scan", "--port", "COM1", "--link", "kia"}, kExitUsage, "", "лишние аргументы: --link kia"},
      {{"erase", "--port", "COM1"}, kExitUsage, ""},
      {{"read", "--port", "COM0"},
       kExitUsage,
       "",
       "неверное имя порта COM0 (COM1..COM255 или путь к устройству)"},
      {{"read", "--port", "COM256"}, kExitUsage, ""},
      {{"read", "--port", "ttyUSB0"},
       kExitUsage,
       "",
       std::string("неверное имя порта ttyUSB0 (COM1..COM255 или путь к устройству") + kDevicePathExample +
           ")"},
      {{"read", "--port", "COM007"}, kExitUsage, ""},
      {{"read", "--port", "COM1", "--register", "100"}, kExitUsage, ""},
      {{"read", "--port", "COM1", "--register", "5", "--link", "kia"}, kExitUsage, ""},
      {{"ports", "--map", "COM0", "/dev/ttyUSB0"}, kExitUsage, ""},
      {{"ports", "--map", "COM1", "/dev/ttyUSB0#1"}, kExitUsage, ""},
  };
  for (const Row& row : rows) {
    std::string out, err;
    EXPECT_EQ(RunTool(platform, row.args, out, err), row.exitCode) << ::testing::PrintToString(row.args);
    EXPECT_EQ(out.rfind(row.outStart, 0), 0u) << out;
    if (row.exitCode != kExitUsage) continue;
    const std::string said = err.substr(0, err.find('\n')), usage = "Ошибка в командной строке: ";
    EXPECT_EQ(said.substr(0, usage.size()), usage) << err;
    if (!row.problem.empty()) {
      EXPECT_EQ(said.substr(usage.size()), row.problem);
    }
    // With --json anywhere: one object saying the same.
    std::vector<std::string> args = row.args;
    args.push_back("--json");
    EXPECT_EQ(RunTool(platform, args, out, err), kExitUsage);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    const nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["outcome"], "usage");
    EXPECT_EQ(j["reason"]["code"], "usage");
    EXPECT_EQ(j["reason"]["text"], said.substr(usage.size()));
  }
  EXPECT_EQ(platform.openCount(), 0);
}

// The port map's objects keep the documented key order: a map edit's, and
// each map line in the listing.
TEST(CliPorts, JsonKeysComeInTheDocumentedOrder) {
  sim::VirtualLine line;
  sim::VirtualPlatform platform(line);
  std::string out, err;
  const std::string device = kAbsentDevice;
  ASSERT_EQ(RunTool(platform, {"ports", "--map", "COM5", device, "--json"}, out, err), kExitDone) << err;
  EXPECT_EQ(out.rfind("{\"outcome\":\"done\",\"file\":", 0), 0u) << out;
  EXPECT_NE(out.find("\"port\":\"COM5\",\"device\":\"" + device + "\"}"), std::string::npos) << out;
  ASSERT_EQ(RunTool(platform, {"ports", "--json"}, out, err), kExitDone);
  EXPECT_EQ(out.rfind("{\"outcome\":\"done\",\"ports\":", 0), 0u) << out;
  EXPECT_NE(out.find("{\"port\":\"COM5\",\"device\":\"" + device + "\",\"present\":false}"),
            std::string::npos)
      << out;
}

// commission reads a COM name in any case, as every other command does.
TEST(CliCommission, TakesAComNameInAnyCase) {
  sim::VirtualLine line;
  sim::VirtualPlatform platform(line);
  std::string out, err;
  EXPECT_EQ(RunTool(platform, {"commission", "--port", "com1", "--numbers", "2"}, out, err),
            kExitPortUnavailable);
  EXPECT_EQ(err.find("com1"), std::string::npos) << err;
}

// On a terminal a scan or a write shows each step it starts on standard
// error, in one line wiped at the end; --json output is the same as without.
TEST(CliProgress, EveryStepOnATerminalWipedAtTheEndNeverWithJson) {
  struct Row {
    std::vector<std::string> args;
    std::string step, out;
    std::size_t steps;
  };
  for (Row row : {Row{{"scan", "--port", "COM1"}, "\rПоиск ККМ на линии: адрес ", "01  0xFE  1.0.5\n", 256},
                  Row{Write("45"), "\rЗапись: обмен ", "45\n", 6}}) {
    sim::VirtualLine line;
    sim::VirtualPlatform platform(line);
    sim::CashRegister reg(1);
    platform.addPort("COM1", line);
    line.attach(reg);
    std::string out, err, plainOut, plainErr;
    ASSERT_EQ(RunTool(platform, row.args, out, err, true), kExitDone);
    EXPECT_EQ(out, row.out);
    std::size_t shown = 0;
    for (std::size_t at = err.find(row.step); at != std::string::npos; at = err.find(row.step, at + 1))
      ++shown;
    EXPECT_EQ(shown, row.steps);
    EXPECT_NE(err.find(row.step + std::to_string(row.steps) + " из " + std::to_string(row.steps)),
              std::string::npos);
    const std::size_t wipe = err.rfind('\r', err.size() - 2);
    EXPECT_EQ(err.find_first_not_of(' ', wipe + 1), err.size() - 1) << "ends in a line of spaces and \\r";
    row.args.push_back("--json");
    RunTool(platform, row.args, out, err, true);
    RunTool(platform, row.args, plainOut, plainErr);
    EXPECT_EQ(out, plainOut);
    EXPECT_EQ(err, plainErr);
  }
}

// A trace that cannot be written is reported under the command-line tool's own
// name (a full device on Linux, a path that does not exist on Windows), and the
// command goes on without it.
// One register, number 01, on COM1 of a virtual line.
struct OneRegister {
  OneRegister() {
    platform.addPort("COM1", line);
    line.attach(reg);
  }
  sim::VirtualLine line;
  sim::VirtualPlatform platform{line};
  sim::CashRegister reg{1};
};

TEST(CliTrace, AnUnwritableTraceIsNamedAfterTheTool) {
  OneRegister rig;
  auto& platform = rig.platform;
  std::string out, err;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunTool(platform, {"read", "--port", "COM1", "--trace", "/dev/full"}, out, err), kExitDone);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "01\n");
  EXPECT_EQ(said.rfind("kkm-netnum-cli: ", 0), 0u) << said;
  EXPECT_NE(said.find("/dev/full"), std::string::npos) << said;
}

}  // namespace
}  // namespace kkm::cli

namespace kkm::cli {
namespace {

// A state folder that cannot hold the record refuses the write before
// anything is sent, the connection's bytes included.
TEST(CliWrite, AStateFolderThatCannotHoldTheRecordRefusesBeforeAnyByte) {
  OneRegister rig;
  const std::string file = test::StateHome() + "/a-file";
  std::ofstream(file) << "in the way";
  test::PointStateHomeAt(file);
  std::string out, err;
  const int status = RunTool(rig.platform, Write("45"), out, err);
  test::PointStateHomeAt(test::StateHome());
  EXPECT_EQ(status, kExitNoRecord) << err;
  EXPECT_NE(err.find("Энергонезависимая память ККМ не изменялась."), std::string::npos) << err;
  EXPECT_TRUE(rig.line.trace().empty()) << "nothing crossed the line";
}

// finish: after a write stopped at exchange 5, on the register as the
// interruption left it or changed since.
struct FinishCase {
  const char* name;
  void (*change)(sim::CashRegister&);  // after the interruption; nullptr: nothing
  int exitCode;
  std::string out;
  std::string err;
  bool recordKept;
  bool discard = false;  // finish --discard
};
void PrintTo(const FinishCase& c, std::ostream* os) { *os << c.name; }

const FinishCase kFinishCases[] = {
    {"Finishable", nullptr, kExitDone, "45\n", "", false},
    {"ChecksumChangedSince", [](sim::CashRegister& r) { r.nonVolatile()[0x0740] = 0x11; }, kExitMemoryChanged,
     "",
     "Память ККМ изменилась после прерванной записи сетевого номера 45. Завершить её автоматически нельзя.\n"
     "Удалить сведения о ней: kkm-netnum-cli finish --port COM1 --link cpu --discard\n",
     true},
    // The non-volatile memory as before the write: finishing is the whole write again.
    {"NumberPutBack", [](sim::CashRegister& r) { r.nonVolatile()[0x073E] = 0xFE; }, kExitDone, "45\n", "",
     false},
    // The port now leads to register 05: the record is not its own.
    {"AnotherRegister", [](sim::CashRegister& r) { r.dataMemory()[0x020F] = 0xFA; }, kExitOtherRegister, "",
     "Прерванная запись сетевого номера 45 относится к другой ККМ (сетевой номер 01); сведения о ней "
     "сохранены.\nЗавершить её на той ККМ: kkm-netnum-cli finish --port COM1 --link cpu --register 01\n",
     true},
    // A register fresh from the factory in its place: number 01 everywhere, the record is not its own.
    {"FreshRegisterInItsPlace",
     [](sim::CashRegister& r) { r.nonVolatile()[0x073E] = r.dataMemory()[sim::kWorkingNumberCell] = 0xFE; },
     kExitOtherRegister, "",
     "Прерванная запись сетевого номера 45 относится к другой ККМ (сетевой номер 01); сведения о ней "
     "сохранены.\n",
     true},
    // A record is discarded only where its write can no longer be finished.
    {"DiscardRefusedWhileFinishable", nullptr, kExitRecordKept, "",
     "Сведения о прерванной записи сетевого номера 45 не удалены: запись можно завершить "
     "(kkm-netnum-cli finish --port COM1 --link cpu)\n",
     true, true},
    {"DiscardedAfterChange", [](sim::CashRegister& r) { r.nonVolatile()[0x0740] = 0x11; }, kExitDone, "",
     "Сведения о прерванной записи сетевого номера 45 удалены.\n", false, true},
};

class CliFinish : public ::testing::TestWithParam<FinishCase> {
 protected:
  void SetUp() override {
    platform_.addPort("COM1", line_);
    line_.attach(register_);
  }
  bool recordKept() const {
    return service::LoadRecord("COM1", service::Link::Processor, "COM1").status ==
           service::RecordStatus::Found;
  }
  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  sim::CashRegister register_{1};
};

TEST_P(CliFinish, FinishesWithoutAskingOrSaysWhyNot) {
  const FinishCase& c = GetParam();
  const std::uint8_t checksumOld = register_.nonVolatile()[0x0740];
  std::string out, err;
  register_.faultOnCommand(0x17, RegisterFault::Silent, 2);
  ASSERT_EQ(RunTool(platform_, Write("45"), out, err), kExitPartlyWritten);
  register_.clearFaults();
  if (c.change != nullptr) c.change(register_);

  // read and write warn first, in one line, and go on.
  ASSERT_EQ(RunTool(platform_, kRead, out, err), kExitDone);
  EXPECT_EQ(err,
            "Внимание: запись сетевого номера 45 через COM1 была прервана; завершите её: kkm-netnum-cli "
            "finish --port COM1 --link cpu\n");
  // With --json the same is a warning carrying the pending number.
  ASSERT_EQ(RunTool(platform_, {"read", "--port", "COM1", "--json"}, out, err), kExitDone);
  const nlohmann::json pending = nlohmann::json::parse(out)["warnings"];
  ASSERT_EQ(pending.size(), 1u) << out;
  EXPECT_EQ(pending[0]["code"], "record-pending");
  EXPECT_EQ(pending[0]["number"], 45);
  EXPECT_EQ(pending[0]["number_text"], "45");

  // A new write does not start on top of it.
  const test::Places cut = test::PlacesOf(register_);
  EXPECT_EQ(RunTool(platform_, {"write", "17", "--port", "COM1", "--json"}, out, err), kExitRecordPending);
  EXPECT_EQ(test::PlacesOf(register_), cut);
  EXPECT_NE(err.find("kkm-netnum-cli finish --port COM1 --link cpu"), std::string::npos) << err;

  std::vector<std::string> finish{"finish", "--port", "COM1"};
  if (c.discard) finish.push_back("--discard");
  EXPECT_EQ(RunTool(platform_, finish, out, err), c.exitCode);
  EXPECT_EQ(out, c.out);
  EXPECT_EQ(err, c.err);
  EXPECT_EQ(recordKept(), c.recordKept);
  // The history: one object, the cut write then the finish or discard in
  // the commands' words, its numbers as numbers beside their digits.
  ASSERT_EQ(RunTool(platform_, {"history", "--json"}, out, err), kExitDone);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  const std::vector<nlohmann::json> entries = nlohmann::json::parse(out)["entries"];
  ASSERT_EQ(entries.size(), c.exitCode == kExitDone ? 2u : 1u) << out;
  EXPECT_EQ(entries[0]["failed_exchange"], 5);
  EXPECT_EQ(entries[0]["outcome"], "partly_written");
  EXPECT_EQ(entries[0]["new_number"], 45);
  EXPECT_EQ(entries[0]["new_number_text"], "45");
  EXPECT_EQ(entries[0]["old_number"], 1);
  for (const nlohmann::json& e : entries) {
    EXPECT_EQ(e["program"], "kkm-netnum-cli");
    EXPECT_EQ(e["port"], "COM1");
    EXPECT_TRUE(std::regex_match(e["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
  }
  if (c.exitCode == kExitDone) {
    EXPECT_EQ(entries.back()["outcome"], c.discard ? "discarded" : "done");
  }
  if (c.exitCode == kExitDone && !c.out.empty()) {
    EXPECT_EQ(register_.nonVolatile()[0x073E], 0xBA);
    EXPECT_EQ(register_.nonVolatile()[0x0740], static_cast<std::uint8_t>(checksumOld - 0xFE + 0xBA));
    EXPECT_EQ(register_.dataMemory()[0x020F], 0xBA);
    EXPECT_EQ(register_.dataMemory()[0x1140], 0xBA);
    EXPECT_TRUE(register_.nonVolatileChecksumHolds());
  }
  if (!c.recordKept) {
    ASSERT_EQ(RunTool(platform_, kRead, out, err), kExitDone);
    EXPECT_EQ(err, "") << "no warning once the record is gone";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CliFinish, ::testing::ValuesIn(kFinishCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliFinishRecord, NoRecordOrAnUnusableOneSendsNothing) {
  sim::VirtualLine line;
  sim::VirtualPlatform platform(line);
  sim::CashRegister reg(1);
  platform.addPort("COM1", line);
  line.attach(reg);
  std::string out, err;
  EXPECT_EQ(RunTool(platform, {"finish", "--port", "COM1", "--json"}, out, err), kExitDone);
  EXPECT_EQ(out, Json("no_record", "null", "null", "null", "null") + "\n");
  EXPECT_EQ(err, "Прерванной записи сетевого номера через COM1 нет.\n");

  const std::string path = service::RecordPath("COM1", service::Link::Kia);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "version=1\nport=COM1\nlink=kia\n";
  EXPECT_EQ(RunTool(platform, {"write", "45", "--port", "COM1", "--link", "kia"}, out, err),
            kExitRecordUnusable);
  EXPECT_EQ(RunTool(platform, {"finish", "--port", "COM1", "--link", "kia"}, out, err), kExitRecordUnusable);
  EXPECT_EQ(err.rfind("Сведения о прерванной записи сетевого номера повреждены и не будут использованы: "
                      "record-unusable: сведения о прерванной записи " +
                          path + " непригодны",
                      0),
            0u)
      << err;
  EXPECT_TRUE(line.traceOf(sim::Direction::HostToDevice).empty());
  EXPECT_TRUE(std::filesystem::exists(path)) << "kept for a look";
}

}  // namespace
}  // namespace kkm::cli
