#pragma once
// What kkm-netnum-cli tells the person at the console beside its results: a
// usage error in Russian, the device a port name led to, and the progress of
// a long command on a terminal.

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace CLI {
class App;
class Error;
class Option;
}  // namespace CLI

namespace kkm::cli {

// Help in Russian, as every message is: option descriptions, group and label
// words. The usage lines and the option names stay as the parser writes them.
// Options added afterwards (subcommands included) go to the Russian group.
void RussianHelp(CLI::App& app);
// Adds --link cpu|kia to `command`, its word into `link`.
CLI::Option* AddLinkOption(CLI::App& command, std::string& link);

// The message of a command line the parser refused, in Russian: what is wrong
// (the option or arguments named as typed) and where help is, e.g.
//   Ошибка в командной строке: не указан параметр --port
//   Справка: kkm-netnum-cli --help
std::string UsageErrorText(const CLI::Error& error);
// The same for a `problem` found after parsing, worded in Russian.
std::string UsageErrorText(const std::string& problem);
// What the parser's error says, in Russian: the problem alone.
std::string UsageProblem(const CLI::Error& error);
// The one JSON object of a usage error, with its line break:
//   {"outcome":"usage","reason":{"code":"usage","text":"<problem>"}}
std::string UsageJsonLine(const std::string& problem);

// Which device a port that cannot be opened stood for: "COM2 — устройство
// /dev/ttyS1", "Устройство /dev/ttyUSB9"; for a COM name that leads nowhere
// (`devicePath` empty: its variable or the map is wrong), where to look; for a
// name that is neither COM1..COM255 nor a device path, what to give instead.
std::string DeviceTriedText(const std::string& portName, const std::string& devicePath);

// One line on a terminal's standard error, "<label>k из n", rewritten in
// place as a long command goes on. Whatever is printed afterwards through
// out() and err() wipes the line first, so results and messages start on a
// clean line; the line is wiped at the end in any case. Until a reporter is
// called nothing is drawn, and out() and err() pass everything through.
class ProgressLine {
 public:
  ProgressLine(std::ostream& out, std::ostream& err);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // The callback a session reports its steps to, drawing "<label>k из n".
  std::function<void(int step, int total)> reporter(std::string label);
  std::ostream& out();
  std::ostream& err();

 private:
  class Wiping;
  void draw(const std::string& text);
  void wipe();

  std::ostream& terminal_;
  std::size_t columns_ = 0;  // of the line on screen; 0: none
  std::unique_ptr<Wiping> outBuffer_, errBuffer_;
  std::unique_ptr<std::ostream> out_, err_;
};

}  // namespace kkm::cli
