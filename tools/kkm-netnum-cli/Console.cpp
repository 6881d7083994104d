#include "tools/kkm-netnum-cli/Console.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iterator>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <vector>

#include "serial/PortMap.h"
#include "service/Link.h"
#include "tools/kkm-netnum-cli/Json.h"

namespace kkm::cli {

namespace {

// `text` up to `marker`, or from after it (`after`); all of it when absent.
std::string Cut(const std::string& text, const std::string& marker, bool after = false) {
  const std::size_t at = text.find(marker);
  if (at == std::string::npos) return text;
  return after ? text.substr(at + marker.size()) : text.substr(0, at);
}

// The words of `text` in the opposite order: the parser lists unexpected
// arguments last first.
std::string Reversed(const std::string& text) {
  std::istringstream words(text);
  std::vector<std::string> list{std::istream_iterator<std::string>(words), {}};
  std::string reversed;
  for (auto word = list.rbegin(); word != list.rend(); ++word)
    reversed += (reversed.empty() ? "" : " ") + *word;
  return reversed;
}

}  // namespace

// The parser words its errors as "<name> is required", "<name>: <detail>",
// "... not expected: <arguments>".
std::string UsageProblem(const CLI::Error& error) {
  const std::string what = error.what();
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    const std::string missing = Cut(what, " is required");
    if (missing == "A subcommand") return "нужна одна команда: read, write, finish, scan, ports или history";
    return "не указан параметр " + missing;
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr)
    return "лишние аргументы: " + Reversed(Cut(what, ": ", true));
  if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr)
    return "недопустимое значение параметра " + Cut(what, ":");
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr)
    return what.find(':') == std::string::npos ? "неверное число значений параметра"
                                               : "не хватает значения параметра " + Cut(what, ":");
  return "команда не разобрана";
}

namespace {

// Screen columns of UTF-8 text: one per character.
std::size_t Columns(const std::string& text) {
  std::size_t columns = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
  return columns;
}

}  // namespace

void RussianHelp(CLI::App& app) {
  auto formatter = app.get_formatter();
  formatter->label("Positionals", "Аргументы");
  formatter->label("REQUIRED", "(обязательный)");
  formatter->label("Excludes", "Исключает");
  formatter->label("Needs", "Требует");
  app.option_defaults()->group("Параметры");
  app.set_help_flag("-h,--help", "показать эту справку и выйти");
}

CLI::Option* AddLinkOption(CLI::App& command, std::string& link) {
  return command.add_option("--link", link, "cpu: процессор ККМ; kia: микроконтроллер КИА")
      ->check(
          CLI::IsMember({service::LinkName(service::Link::Processor), service::LinkName(service::Link::Kia)}))
      ->capture_default_str();
}

std::string UsageErrorText(const CLI::Error& error) { return UsageErrorText(UsageProblem(error)); }

std::string UsageErrorText(const std::string& problem) {
  return "Ошибка в командной строке: " + problem + "\nСправка: kkm-netnum-cli --help\n";
}

std::string UsageJsonLine(const std::string& problem) {
  const json object = {{"outcome", "usage"}, {"reason", {{"code", "usage"}, {"text", problem}}}};
  return JsonText(object) + '\n';
}

std::string DeviceTriedText(const std::string& portName, const std::string& devicePath) {
  if (devicePath.empty() && serial::ComPortNumber(portName))
    return portName + " — устройство не определено: проверьте KKM_" + portName +
           " и карту портов (kkm-netnum-cli ports)";
  if (devicePath.empty()) {
    const std::string example = portName.find('/') == std::string::npos ? "/dev/" + portName : "/dev/ttyUSB0";
    return "«" + portName + "» — не COM1..COM255 и не путь к устройству; укажите полный путь, например " +
           example;
  }
  if (devicePath == portName) return "Устройство " + devicePath;
  return portName + " — устройство " + devicePath;
}

// Passes every character to `target`, wiping the progress line first.
class ProgressLine::Wiping : public std::streambuf {
 public:
  Wiping(ProgressLine& line, std::ostream& target) : line_(line), target_(target) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    line_.wipe();
    target_.put(traits_type::to_char_type(c));
    return target_ ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    line_.wipe();
    target_.write(s, n);
    return target_ ? n : 0;
  }
  int sync() override { return target_.flush() ? 0 : -1; }

 private:
  ProgressLine& line_;
  std::ostream& target_;
};

ProgressLine::ProgressLine(std::ostream& out, std::ostream& err)
    : terminal_(err),
      outBuffer_(std::make_unique<Wiping>(*this, out)),
      errBuffer_(std::make_unique<Wiping>(*this, err)),
      out_(std::make_unique<std::ostream>(outBuffer_.get())),
      err_(std::make_unique<std::ostream>(errBuffer_.get())) {}

ProgressLine::~ProgressLine() { wipe(); }

std::function<void(int, int)> ProgressLine::reporter(std::string label) {
  return [this, label = std::move(label)](int step, int total) {
    draw(label + std::to_string(step) + " из " + std::to_string(total));
  };
}

std::ostream& ProgressLine::out() { return *out_; }
std::ostream& ProgressLine::err() { return *err_; }

void ProgressLine::draw(const std::string& text) {
  // Spaces cover what a longer line before left on the screen.
  const std::size_t columns = Columns(text);
  terminal_ << '\r' << text << std::string(columns_ > columns ? columns_ - columns : 0, ' ') << std::flush;
  columns_ = std::max(columns_, columns);
}

void ProgressLine::wipe() {
  if (columns_ == 0) return;
  terminal_ << '\r' << std::string(columns_, ' ') << '\r' << std::flush;
  columns_ = 0;
}

}  // namespace kkm::cli
