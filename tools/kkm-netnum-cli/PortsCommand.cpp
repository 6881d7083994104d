#include "tools/kkm-netnum-cli/PortsCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>

#include "serial/PortList.h"
#include "serial/PortMap.h"
#include "tools/kkm-netnum-cli/Console.h"
#include "tools/kkm-netnum-cli/ExitStatus.h"
#include "tools/kkm-netnum-cli/Json.h"

namespace kkm::cli {

namespace {

// Empty or the value, for JSON: a detail that is not known is null.
json OrNull(const std::string& value) { return value.empty() ? json() : json(value); }

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// Where each COM name comes from, as a word for the text and one for JSON.
struct SourceWords {
  const char* text;
  const char* json;
};
SourceWords WordsFor(serial::PortSource source) {
  switch (source) {
    case serial::PortSource::Variable:
      return {"переменная KKM_", "variable"};
    case serial::PortSource::Map:
      return {"карта портов", "map"};
    case serial::PortSource::Unusable:  // leads to no device, so never listed with one
      return {"недоступен", "unusable"};
    case serial::PortSource::Default:
      break;
  }
  return {"по умолчанию", "default"};
}

// Always an array, of {"pid", "command"}: empty also where holders are not
// looked for ("holders_looked" tells).
json HoldersJson(const std::optional<std::vector<std::string>>& holders) {
  json list = json::array();
  for (const std::string& text : holders.value_or(std::vector<std::string>{})) {
    const Holder holder = ParseHolder(text);
    list.push_back({{"pid", holder.pid ? json(*holder.pid) : json()},
                    {"command", holder.command ? json(*holder.command) : json(text)}});
  }
  return list;
}

// Whether `port` leads to one of `devices` now.
bool Listed(const std::string& port, const std::vector<serial::SerialDevice>& devices) {
  for (const serial::SerialDevice& d : devices)
    if (std::find(d.comNames.begin(), d.comNames.end(), port) != d.comNames.end()) return true;
  return false;
}

json DeviceJson(const serial::SerialDevice& d, const serial::PortMap& map) {
  json com = json::array();
  for (const std::string& name : d.comNames)
    com.push_back({{"port", name}, {"from", WordsFor(serial::SourceOfPortName(name, map)).json}});
  json usb;
  if (!d.usbId.empty())
    usb = {{"id", d.usbId},
           {"maker", OrNull(d.maker)},
           {"product", OrNull(d.product)},
           {"serial", OrNull(d.serial)}};
  return {{"device", d.device},
          {"driver", OrNull(d.driver)},
          {"usb", usb},
          {"stable_name", OrNull(d.stableName)},
          {"com", com},
          {"holders", HoldersJson(d.holders)},
          {"holders_looked", d.holders.has_value()}};
}

void PrintDevice(const serial::SerialDevice& d, const serial::PortMap& map, std::ostream& out) {
  std::vector<std::string> com;
  for (const std::string& name : d.comNames) {
    const serial::PortSource source = serial::SourceOfPortName(name, map);
    const std::string word = WordsFor(source).text;
    com.push_back(name + " (" + (source == serial::PortSource::Variable ? word + name : word) + ")");
  }
  out << d.device << '\n';
  out << "  драйвер: " << (d.driver.empty() ? "?" : d.driver) << '\n';
  if (!d.usbId.empty()) {
    std::vector<std::string> usb{d.usbId};
    for (const std::string& detail : {d.maker, d.product})
      if (!detail.empty()) usb.push_back(detail);
    if (!d.serial.empty()) usb.push_back("серийный номер " + d.serial);
    out << "  USB: " << Joined(usb) << '\n';
  }
  if (!d.stableName.empty()) out << "  постоянное имя: " << d.stableName << '\n';
  out << "  COM: " << (com.empty() ? "нет" : Joined(com)) << '\n';
  if (d.holders) out << "  занят: " << (d.holders->empty() ? "нет" : Joined(*d.holders)) << '\n';
}

int List(const PortsOptions& options, std::ostream& out, std::ostream& err) {
  const std::vector<serial::SerialDevice> devices = serial::ListSerialDevices();
  const serial::PortMap map = serial::LoadPortMap();
  // Every line of the map too, with whether its device is here now: a mapped
  // adapter that is unplugged is listed nowhere else.
  if (options.json) {
    json list = json::array();
    for (const serial::SerialDevice& d : devices) list.push_back(DeviceJson(d, map));
    json entries = json::array();
    for (const serial::PortMapEntry& e : map.entries)
      entries.push_back({{"port", e.port}, {"device", e.device}, {"present", Listed(e.port, devices)}});
    out << JsonText(json{{"outcome", "done"},
                         {"ports", list},
                         {"map_file", OrNull(serial::PortMapPath())},
                         {"map", entries}})
        << '\n';
  } else {
    for (const serial::SerialDevice& d : devices) PrintDevice(d, map, out);
    if (!map.entries.empty()) out << "Карта портов (" << serial::PortMapPath() << "):\n";
    for (const serial::PortMapEntry& e : map.entries)
      out << "  " << e.port << " = " << e.device
          << (Listed(e.port, devices) ? "" : " (устройства сейчас нет)") << '\n';
  }
  if (devices.empty()) err << "Последовательных портов не найдено.\n";
  return kExitDone;
}

// The port and device to map, or a usage error's text.
std::string MappingProblem(const std::string& port, const std::string* device) {
  if (!serial::ComPortNumber(port)) return "Неверное имя порта: " + port + " (COM1..COM255)";
  if (device == nullptr) return {};
  if (!serial::DeviceNameUsable(*device) || device->find_first_of("#\r\n") != std::string::npos)
    return "Неверное устройство: " + *device + " (нужен путь к устройству, без # и переводов строки)";
  return {};
}

// A device mapped by a name that may go to another adapter next time, when a
// stable name leads to it: that one is suggested.
void SuggestStableName(const std::string& port, const std::string& device, std::ostream& err) {
  for (const serial::SerialDevice& d : serial::ListSerialDevices())
    if (d.device == device && !d.stableName.empty() && d.stableName != device)
      err << "Совет: имя " << device << " может достаться другому адаптеру; постоянное имя этого: "
          << "kkm-netnum-cli ports --map " << port << ' ' << d.stableName << '\n';
}

int EditMap(const PortsOptions& options, std::ostream& out, std::ostream& err) {
  const bool mapping = !options.map.empty();
  const std::string& port = mapping ? options.map[0] : options.unmap;
  const std::string* device = mapping ? &options.map[1] : nullptr;
  if (const std::string problem = MappingProblem(port, device); !problem.empty()) {
    err << UsageErrorText(problem);
    if (options.json) out << UsageJsonLine(problem);
    return kExitUsage;
  }
  const std::string path = serial::PortMapPath();
  // A map that could not be read or written: its message, and with --json
  // one object naming the file and why.
  const auto notSaved = [&](const std::string& text) {
    err << text << '\n';
    if (options.json)
      out << JsonText(json{{"outcome", "map_not_saved"},
                           {"file", OrNull(path)},
                           {"port", port},
                           {"device", device ? json(*device) : json()},
                           {"reason", {{"code", "map-not-saved"}, {"text", text}}}})
          << '\n';
    return kExitMapNotSaved;
  };
  const serial::PortMapFile map = serial::PortMapText();
  if (!map.status)
    return notSaved("Карта портов не изменена: карта портов не прочитана: " + map.status.failure().text());
  const std::string& before = map.text;
  const std::string after =
      mapping ? serial::MapPortInText(before, port, *device) : serial::UnmapPortInText(before, port);
  if (const serial::Status saved = serial::SavePortMap(after); !saved)
    return notSaved("Карта портов не сохранена: " + saved.failure().text());
  std::error_code error;
  if (mapping && device->front() == '/' && !std::filesystem::exists(*device, error))
    err << "Внимание: устройства " << *device << " сейчас нет; " << port
        << " заработает, когда оно появится.\n";
  else if (mapping)
    SuggestStableName(port, *device, err);
  if (options.json)
    out << JsonText(json{{"outcome", "done"},
                         {"file", path},
                         {"port", port},
                         {"device", device ? json(*device) : json()}})
        << '\n';
  else
    out << (mapping ? port + " = " + *device : port + ": назначение снято") << " (" << path << ")\n";
  return kExitDone;
}

}  // namespace

CLI::App* AddPortsCommand(CLI::App& app, PortsOptions& options) {
  CLI::App* ports = app.add_subcommand(
      "ports",
      "перечислить последовательные устройства (драйвер, USB, постоянное имя, COM-имя, кем занято) и карту "
      "портов; изменить карту портов");
  CLI::Option* map =
      ports->add_option("--map", options.map, "COMn DEVICE: назначить COMn устройство DEVICE в карте портов")
          ->expected(2);
  ports->add_option("--unmap", options.unmap, "COMn: снять назначение COMn в карте портов")->excludes(map);
  ports->add_flag("--json", options.json, "вывести один объект JSON вместо текста");
  return ports;
}

int RunPorts(const PortsOptions& options, std::ostream& out, std::ostream& err) {
  if (options.map.empty() && options.unmap.empty()) return List(options, out, err);
  return EditMap(options, out, err);
}

}  // namespace kkm::cli
