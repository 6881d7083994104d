#include "serial/PortMap.h"

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "files/CarefulFile.h"
#include "files/Folders.h"
#include "files/SmallFile.h"

namespace kkm::serial {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The lines of `text` without their line ends; a last line without one counts.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

// The port a line maps, when it is a mapping line at all (comments and
// blanks are not), whether or not the rest of it is usable.
std::string_view MappedPort(std::string_view line) {
  const std::string_view content = Trimmed(line.substr(0, line.find('#')));
  const std::size_t equals = content.find('=');
  return equals == std::string_view::npos ? std::string_view() : Trimmed(content.substr(0, equals));
}

// A map is a few lines; anything larger is not one.
constexpr std::size_t kMaxMapBytes = 64 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The map file's text; a missing file is an empty map. Only a small regular
// file is read, and nothing that could block (a FIFO in its place): anything
// else gives its failure and no map.
PortMapFile ReadMapFile(const std::string& path) {
  files::SmallFile file = files::ReadSmallFile(path, kMaxMapBytes, files::Links::Follow);
  if (!file.status) return {{}, file.status};
  return {std::move(file.text), {}};
}

// The text without a byte-order mark at its start.
std::string_view WithoutMark(std::string_view text) {
  return text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? text.substr(kByteOrderMark.size()) : text;
}

// The COM name `word` was meant for, read leniently ("com1", "COM01"); empty
// when it names none.
std::string MeantPort(std::string_view word) {
  if (word.size() < 4) return {};
  std::string upper;
  for (const char c : word) upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  if (upper.compare(0, 3, "COM") != 0) return {};
  const std::size_t digits = upper.find_first_not_of('0', 3);
  if (digits == std::string::npos) return {};
  const std::string name = "COM" + upper.substr(digits);
  return ComPortNumber(name) ? name : std::string();
}

// "<path>:<line>: " (no line for the whole file; "строка <line>: " without a path).
std::string Where(const std::string& path, int line) {
  if (path.empty()) return line > 0 ? "строка " + std::to_string(line) + ": " : "";
  return path + (line > 0 ? ":" + std::to_string(line) : "") + ": ";
}

}  // namespace

std::optional<int> ComPortNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || name.substr(0, 3) != "COM" || name[3] == '0') return std::nullopt;
  int number = 0;
  for (const char c : name.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number > kMaxComPortNumber) return std::nullopt;
  return number;
}

std::optional<std::string> PortMap::deviceFor(std::string_view port) const {
  for (const PortMapEntry& entry : entries)
    if (entry.port == port) return entry.device;
  return std::nullopt;
}

std::string PortMap::problemFor(std::string_view port) const {
  if (deviceFor(port)) return {};
  for (const PortMapProblem& problem : problems) {
    if (problem.line == 0 || problem.port == port) return Where(path, problem.line) + problem.text;
    if (problem.port.empty())
      return Where(path, problem.line) + problem.text + "; какой порт она назначала, неизвестно";
  }
  return {};
}

PortMap ParsePortMap(std::string_view text) {
  PortMap map;
  int number = 0;
  for (const std::string_view line : Lines(WithoutMark(text))) {
    ++number;
    const std::string_view content = Trimmed(line.substr(0, line.find('#')));
    if (content.empty()) continue;
    const std::size_t equals = content.find('=');
    // The port the line was meant for: the word before '=', or the first word.
    const std::string meant = MeantPort(Trimmed(equals != std::string_view::npos
                                                    ? content.substr(0, equals)
                                                    : content.substr(0, content.find_first_of(" \t:"))));
    const auto problem = [&](std::string what) { map.problems.push_back({number, std::move(what), meant}); };
    if (equals == std::string_view::npos) {
      problem("строка не понята (нужно COMn = УСТРОЙСТВО), пропущена");
      continue;
    }
    const std::string port(Trimmed(content.substr(0, equals)));
    const std::string device(Trimmed(content.substr(equals + 1)));
    if (!ComPortNumber(port)) {
      problem("«" + port + "» не имя порта COM1..COM255, строка пропущена");
    } else if (device.empty()) {
      problem("для " + port + " не указано устройство, строка пропущена");
    } else if (!DeviceNameUsable(device)) {
      problem("«" + device + "» не путь к устройству (нужен путь от /), строка пропущена");
    } else if (map.deviceFor(port)) {
      int first = 0;
      for (const PortMapEntry& entry : map.entries)
        if (entry.port == port) first = entry.line;
      problem(port + " уже назначен в строке " + std::to_string(first) + ", строка пропущена");
    } else {
      map.entries.push_back({number, port, device});
    }
  }
  return map;
}

std::string PortMapPath() {
  const std::string folder = files::ProgramFolder(files::UserFolder::Config);
  return folder.empty() ? std::string() : (fs::path(folder) / "ports.conf").string();
}

PortMapFile PortMapText() {
  const std::string path = PortMapPath();
  return path.empty() ? PortMapFile() : ReadMapFile(path);
}

PortMap LoadPortMap() {
  const std::string path = PortMapPath();
  if (path.empty()) return {};
  const PortMapFile file = ReadMapFile(path);
  PortMap map = ParsePortMap(file.text);
  map.path = path;
  if (!file.status)
    map.problems.push_back({0, "карта портов не прочитана: " + file.status.failure().text(), {}});
  return map;
}

std::vector<std::string> ProblemLines(const PortMap& map) {
  std::vector<std::string> lines;
  for (const PortMapProblem& problem : map.problems)
    lines.push_back(Where(map.path, problem.line) + problem.text);
  return lines;
}

std::string MapPortInText(std::string_view text, const std::string& port, const std::string& device) {
  const std::string mapping = port + " = " + device;
  // A byte-order mark stays where it was, for the editor that wrote it.
  std::string result(text.substr(0, text.size() - WithoutMark(text).size()));
  bool placed = false;
  for (const std::string_view line : Lines(WithoutMark(text))) {
    if (MappedPort(line) == port) {
      if (placed) continue;
      result += mapping + "\n";
      placed = true;
    } else {
      result.append(line) += "\n";
    }
  }
  if (!placed) result += mapping + "\n";
  return result;
}

std::string UnmapPortInText(std::string_view text, const std::string& port) {
  std::string result(text.substr(0, text.size() - WithoutMark(text).size()));
  for (const std::string_view line : Lines(WithoutMark(text)))
    if (MappedPort(line) != port) result.append(line) += "\n";
  return result;
}

Status SavePortMap(const std::string& text) {
  const std::string path = PortMapPath();
  if (path.empty()) return files::FileError(files::FileFailure::NoFolder, {});
  // A new file beside the old one, then renamed over it: a reader never sees
  // half a file.
  if (Status folder = files::PrepareFolder(fs::path(path).parent_path().string(), files::FolderUse::Shared);
      !folder)
    return folder;
  return files::ReplaceWhole(path, text, 0644);
}

bool DeviceNameUsable(std::string_view device) {
#ifdef _WIN32
  return !device.empty();
#else
  return !device.empty() && device.front() == '/';
#endif
}

namespace {

// KKM_COMn: nothing when it is not set at all.
std::optional<std::string> PortVariable(const std::string& name) {
  const char* value = std::getenv(("KKM_" + name).c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

PortSource SourceOfPortName(const std::string& name, const PortMap& map) {
  if (!ComPortNumber(name)) return PortSource::Default;
  if (const std::optional<std::string> variable = PortVariable(name))
    return variable->empty() ? PortSource::Unusable : PortSource::Variable;
  if (map.deviceFor(name)) return PortSource::Map;
  return map.problemFor(name).empty() ? PortSource::Default : PortSource::Unusable;
}

ResolvedPort ResolvePort(const std::string& name, const PortMap& map) {
  const std::optional<int> number = ComPortNumber(name);
  if (!number) return {name, {}};
  switch (SourceOfPortName(name, map)) {
    case PortSource::Variable:
      return {*PortVariable(name), {}};
    case PortSource::Map:
      return {*map.deviceFor(name), {}};
    case PortSource::Unusable:
      if (PortVariable(name))
        return {{}, "переменная KKM_" + name + " задана пустой (укажите устройство или уберите её)"};
      return {{}, map.problemFor(name)};
    case PortSource::Default:
      break;
  }
#ifdef _WIN32
  return {name, {}};
#else
  return {"/dev/ttyS" + std::to_string(*number - 1), {}};
#endif
}

ResolvedPort ResolvePort(const std::string& name) {
  // The map is read only for the names it can hold.
  if (!ComPortNumber(name)) return {name, {}};
  return ResolvePort(name, LoadPortMap());
}

std::string ResolvePortName(const std::string& name, const PortMap& map) {
  return ResolvePort(name, map).device;
}

std::string ResolvePortName(const std::string& name) { return ResolvePort(name).device; }

}  // namespace kkm::serial
