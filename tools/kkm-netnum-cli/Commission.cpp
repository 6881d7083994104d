#include "tools/kkm-netnum-cli/Commission.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "service/Commission.h"
#include "service/Messages.h"
#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "tools/kkm-netnum-cli/Console.h"
#include "tools/kkm-netnum-cli/ExitStatus.h"
#include "tools/kkm-netnum-cli/Json.h"
#include "tools/kkm-netnum-cli/SharedLine.h"

namespace kkm::cli {

namespace {

using service::Link;

volatile std::sig_atomic_t stopSignal = 0;
extern "C" void NoteStop(int) { stopSignal = 1; }

// SIGINT and SIGTERM only set a flag while the loop runs; the loop looks at it
// between registers, so a write under way is never cut by them.
class StopOnSignals {
 public:
  StopOnSignals() {
    stopSignal = 0;
    previousInt_ = std::signal(SIGINT, NoteStop);
    previousTerm_ = std::signal(SIGTERM, NoteStop);
  }
  ~StopOnSignals() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  void (*previousInt_)(int) = SIG_DFL;
  void (*previousTerm_)(int) = SIG_DFL;
};

std::string Two(std::uint8_t byte) { return service::NetworkNumberText(byte); }
std::string Two(int number) { return Two(service::NetworkNumberByte(number)); }

const char* ResultName(const service::CommissionedRegister& done) {
  return done.verified ? "verified" : "not_verified";
}
const char* ResultText(const service::CommissionedRegister& done) {
  return done.verified ? "записано и проверено" : "записано, но не подтверждено при чтении";
}

std::string WaitText(service::WaitReason reason, int factory) {
  switch (reason) {
    case service::WaitReason::NoRegister:
      return "Ожидание ККМ с сетевым номером " + Two(factory) + "...";
    case service::WaitReason::Several:
      return "Несколько ККМ отвечают на номер " + Two(factory) +
             ": подключайте их по одной. Запись не выполняется, пока на линии не останется одна.";
    case service::WaitReason::NotFresh:
      return "Подключённая ККМ не с сетевым номером " + Two(factory) + ": отключите её.";
    case service::WaitReason::Renumbered:
      return "ККМ перенумерована: отключите её и подключите следующую.";
  }
  return {};
}

std::string FinishCommand(const CommissionOptions& options) {
  return "kkm-netnum-cli finish --port " + options.port + " --link " + options.link;
}

// How the loop ended: the exit status, the JSON outcome and the message.
struct Ending {
  int exitCode = kExitDone;
  const char* outcome = "done";
  std::string message;
  serial::Failure failure;
};

Ending WriteEnding(const CommissionOptions& options, Link link, const service::CommissionResult& result) {
  const service::WriteResult& write = result.write;
  const std::string again = "\nЗатем продолжите: снова запустите commission с тем же --numbers.";
  switch (write.refused) {
    case service::WriteRefusal::RecordPending:
      return {
          kExitRecordPending, "record_pending",
          "Предыдущая запись сетевого номера через " + options.port +
              " была прервана; ввод в эксплуатацию не начат. Сначала завершите её: " + FinishCommand(options),
          write.failure};
    case service::WriteRefusal::RecordUnusable:
      return {kExitRecordUnusable, "record_unusable",
              std::string(service::kUnusableRecordText) + "\nУдалить их: " + FinishCommand(options) +
                  " --discard",
              write.failure};
    case service::WriteRefusal::NoRecord:
      return {kExitNoRecord, "no_record_possible", service::kNoRecordText, write.failure};
    case service::WriteRefusal::None:
      break;
  }
  std::string message = service::NoInterfaceText(link) + "\nЗапись номера " + Two(result.number) +
                        " прервана на обмене " + std::to_string(write.failedExchange) + " из " +
                        std::to_string(service::kWriteExchanges) + "; ввод в эксплуатацию остановлен. ";
  if (write.partlyWritten())
    return {kExitPartlyWritten, "partly_written",
            message + "Не выключайте ККМ: завершите запись: " + FinishCommand(options) + again,
            write.failure};
  return {kExitNoContact, "write_failed",
          message + "Восстановите связь и завершите запись: " + FinishCommand(options) + again,
          write.failure};
}

Ending EndingOf(const CommissionOptions& options, const service::Session& session, Link link,
                const service::CommissionResult& result) {
  switch (result.end) {
    case service::CommissionEnd::ListUsedUp:
      return {kExitDone, "done", "Все номера списка " + options.numbers + " использованы.", {}};
    case service::CommissionEnd::Stopped:
      return {kExitStopped, "stopped", "Ввод в эксплуатацию остановлен по сигналу.", {}};
    case service::CommissionEnd::NoPort:
      return {kExitPortUnavailable, "port_unavailable",
              service::ConnectOutcomeText(result.connect.outcome) + "\n" +
                  DeviceTriedText(options.port, session.devicePath),
              result.connect.failure};
    case service::CommissionEnd::WrongFirmware:
      return {kExitWrongFirmware, "wrong_firmware",
              service::ConnectOutcomeText(result.connect.outcome) + "\nВвод в эксплуатацию остановлен.",
              result.connect.failure};
    case service::CommissionEnd::WriteFailed:
      return WriteEnding(options, link, result);
    case service::CommissionEnd::NotVerified:
      return {kExitNoContact, "not_verified",
              "Номер " + Two(result.number) +
                  " записан, но чтение по новому адресу его не подтвердило; ввод в эксплуатацию остановлен.",
              result.read.failure};
  }
  return {};
}

json RegisterJson(const service::CommissionedRegister& done, int total) {
  return {{"event", "register"},
          {"sequence", done.sequence},
          {"total", total},
          {"old_number", Two(done.oldByte)},
          {"new_number", Two(done.number)},
          {"time", done.time},
          {"result", ResultName(done)}};
}

// What the loop tells as it goes: what it waits for and the numbers it
// passes over on `err`, each register done on `out`; a stop signal ends it.
service::CommissionCallbacks Callbacks(const CommissionOptions& options, std::ostream& out,
                                       std::ostream& err) {
  service::CommissionCallbacks callbacks;
  callbacks.waiting = [&options, &err](service::WaitReason reason) {
    err << WaitText(reason, options.factory) << std::endl;
  };
  callbacks.skipped = [&err](int number) {
    err << "Сетевой номер " << Two(number) << " уже занят другой ККМ на этой линии: пропущен." << std::endl;
  };
  callbacks.done = [&options, &out](const service::CommissionedRegister& done, int total) {
    if (options.asJson)
      out << JsonText(RegisterJson(done, total)) << std::endl;
    else
      out << "ККМ " << done.sequence << " из " << total << ": " << Two(done.oldByte) << " → "
          << Two(done.number) << ", " << ResultText(done) << std::endl;
  };
  callbacks.stopRequested = [] { return stopSignal != 0; };
  return callbacks;
}

// The end of the loop: its warnings and message on `err`, then the table of
// the registers done, or the summary object, on `out`.
void PrintEnding(const CommissionOptions& options, const service::CommissionResult& result,
                 const Ending& ending, int total, std::ostream& out, std::ostream& err) {
  for (const serial::Failure& warning : result.write.warnings)
    err << "kkm-netnum-cli: " << serial::DescribeFailure(warning) << '\n';
  if (!ending.message.empty()) {
    // The reason, when one is known, after the message's first line.
    std::string text = ending.message;
    if (ending.failure.failed())
      text.insert(std::min(text.find('\n'), text.size()), ": " + serial::DescribeFailure(ending.failure));
    err << text << '\n';
  }
  if (options.asJson) {
    json registers = json::array();
    for (const service::CommissionedRegister& done : result.registers)
      registers.push_back(RegisterJson(done, total));
    out << JsonText(
               json{{"event", "summary"},
                    {"outcome", ending.outcome},
                    {"numbers", options.numbers},
                    {"registers", registers},
                    {"skipped", result.skipped},
                    {"failed_number", result.number != 0 ? json(Two(result.number)) : json(nullptr)},
                    {"failed_exchange",
                     result.write.failedExchange != 0 ? json(result.write.failedExchange) : json(nullptr)},
                    {"reason", FailureJson(ending.failure)}})
        << '\n';
  } else if (!result.registers.empty()) {
    out << "\n№   было  стало  время                      итог\n";
    for (const service::CommissionedRegister& done : result.registers) {
      char position[8];
      std::snprintf(position, sizeof position, "%-3d", done.sequence);
      out << position << " " << Two(done.oldByte) << "    " << Two(done.number) << "     " << done.time
          << "  " << ResultText(done) << '\n';
    }
  }
  out.flush();
}

}  // namespace

CLI::App* AddCommissionCommand(CLI::App& app, CommissionOptions& options) {
  CLI::App* command =
      app.add_subcommand("commission", "пронумеровать ряд новых ККМ одну за другой номерами из списка");
  command->add_option("--port", options.port, "COM1..COM255 или путь к устройству")->required();
  command->add_option("--numbers", options.numbers, "LIST: номера 1..99 и диапазоны, например 2-12,15")
      ->required();
  command->add_option("--factory", options.factory, "N: сетевой номер, на который отвечают новые ККМ")
      ->check(CLI::Range(1, 99))
      ->capture_default_str();
  AddLinkOption(*command, options.link);
  command->add_flag("--json", options.asJson, "по объекту JSON на каждую ККМ и итоговый объект");
  command->add_option("--trace", options.tracePath,
                      "дописывать протокол каждого обмена в FILE (- — в стандартный поток ошибок); "
                      "то же делает KKM_TRACE=FILE");
  return command;
}

int RunCommission(const CommissionOptions& options, serial::Platform& platform, std::ostream& out,
                  std::ostream& err) {
  service::CommissionPlan plan;
  const std::optional<std::vector<int>> numbers = service::ParseNumberList(options.numbers);
  if (!numbers) {
    err << UsageErrorText(
        "--numbers: ожидается список номеров 1..99 и диапазонов без повторов, например 2-12,15");
    return kExitUsage;
  }
  plan.portName = options.port;
  plan.link = service::ParseLink(options.link).value_or(Link::Processor);
  plan.factoryNumber = options.factory;
  plan.numbers = *numbers;
  plan.numbersText = options.numbers;

  service::Session session(platform, kProgram);
  const service::CommissionCallbacks callbacks = Callbacks(options, out, err);
  service::CommissionResult result;
  {
    const StopOnSignals signals;
    result = service::Commission(session, plan, callbacks);
  }
  const Ending ending = EndingOf(options, session, plan.link, result);
  PrintEnding(options, result, ending, static_cast<int>(plan.numbers.size()), out, err);
  return ending.exitCode;
}

}  // namespace kkm::cli
