#include "service/WriteRecord.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "serial/Failure.h"
#include "service/SessionFailure.h"
#include "service/StateFiles.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kkm::service {

namespace {

namespace fs = std::filesystem;

constexpr const char* kVersion1Line = "version=1";
constexpr const char* kVersionLine = "version=2";
constexpr const char* kEndLine = "end";
constexpr std::size_t kMaxRecordSize = 4096;
constexpr std::array<const char*, 5> kKeys = {"port", "device", "link", "address", "new"};
// Present together once the write has read them; a version 1 record always has them.
constexpr std::array<const char*, 3> kOldKeys = {"number_old", "checksum_old", "checksum_new"};

std::string HexByte(std::uint8_t byte) {
  char text[5];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

bool ParseHexByte(const std::string& text, std::uint8_t& byte) {
  if (text.size() != 4 || text[0] != '0' || text[1] != 'x') return false;
  unsigned value = 0;
  for (std::size_t i = 2; i < 4; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  byte = static_cast<std::uint8_t>(value);
  return true;
}

// A file name from a device or port name: letters, digits, '-' and '_' stay,
// any other byte becomes %XX, so different names never share a file.
std::string EncodedName(const std::string& name) {
  std::string encoded;
  for (const char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      encoded += c;
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
      encoded += escape;
    }
  }
  return encoded;
}

std::string RecordName(const std::string& name, Link link) {
  return "write-" + EncodedName(name) + "-" + LinkName(link) + ".txt";
}

std::string LockName(const std::string& device) { return "lock-" + EncodedName(device) + ".lock"; }

#ifndef _WIN32
// The name a character device keeps for as long as it is there: the adapter's
// /dev/serial/by-id link, else its node under /dev; `resolved` itself when it
// is no character device or has neither.
std::string StableName(const std::string& resolved) {
  struct stat device {};
  if (::stat(resolved.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return resolved;
  const auto sameDevice = [&device](const fs::path& path, bool follow) {
    struct stat st {};
    const int result = follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return result == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device.st_rdev;
  };
  std::error_code error;
  for (fs::directory_iterator it("/dev/serial/by-id", error), end; !error && it != end; it.increment(error))
    if (sameDevice(it->path(), true)) return it->path().string();
  if (resolved.rfind("/dev/", 0) == 0) return resolved;
  for (const char* folder : {"/dev", "/dev/pts"})
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
      if (sameDevice(it->path(), false)) return it->path().string();
  return resolved;
}
#endif

// A record that cannot be used, and why.
serial::Failure Refuse(std::string why) {
  return serial::About(SessionFailure::RecordUnusable, std::move(why));
}

}  // namespace

std::string FormatRecord(const WriteRecord& r) {
  std::ostringstream text;
  text << kVersionLine << '\n'
       << "port=" << r.portName << '\n'
       << "device=" << r.device << '\n'
       << "link=" << LinkName(r.link) << '\n'
       << "address=" << HexByte(r.registerAddress) << '\n'
       << "new=" << HexByte(r.newByte) << '\n';
  if (r.oldKnown)
    text << "number_old=" << HexByte(r.numberOld) << '\n'
         << "checksum_old=" << HexByte(r.checksumOld) << '\n'
         << "checksum_new=" << HexByte(r.checksumNew()) << '\n';
  text << kEndLine << '\n';
  return text.str();
}

serial::Status ParseRecord(const std::string& text, WriteRecord& record) {
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  const bool version1 = line == kVersion1Line;
  if (!version1 && line != kVersionLine) return Refuse("это не сведения о записи известной версии");
  std::map<std::string, std::string> values;
  bool ended = false;
  while (std::getline(lines, line)) {
    if (ended) return Refuse("текст после последней строки");
    if (line == kEndLine) {
      ended = true;
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string key = line.substr(0, equals);
    if (equals == std::string::npos || (std::find(kKeys.begin(), kKeys.end(), key) == kKeys.end() &&
                                        std::find(kOldKeys.begin(), kOldKeys.end(), key) == kOldKeys.end()))
      return Refuse("непонятная строка «" + line + "»");
    if (!values.emplace(key, line.substr(equals + 1)).second) return Refuse("строка «" + key + "» повторена");
  }
  // A torn file lacks its end line.
  if (!ended) return Refuse("неполные (нет последней строки)");
  for (const char* key : kKeys)
    if (!values.count(key)) return Refuse(std::string("нет строки «") + key + "»");
  const auto oldKeys =
      std::count_if(kOldKeys.begin(), kOldKeys.end(), [&](const char* k) { return values.count(k) != 0; });
  if ((version1 && oldKeys != 3) || (oldKeys != 0 && oldKeys != 3))
    return Refuse("старый номер и контрольная сумма записаны не полностью");
  WriteRecord parsed;
  parsed.portName = values["port"];
  parsed.device = values["device"];
  if (parsed.portName.empty()) return Refuse("порт не указан");
  if (parsed.device.empty()) {
    if (!version1) return Refuse("устройство не указано");
    // The earlier format could leave the device empty; its record is named
    // after the port, which then stands for the device, and written out again
    // it names that device.
    parsed.device = parsed.portName;
  }
  const std::optional<Link> link = ParseLink(values["link"]);
  if (!link) return Refuse("неизвестная связь «" + values["link"] + "»");
  parsed.link = *link;
  parsed.oldKnown = oldKeys == 3;
  std::uint8_t checksumNew = 0;
  const std::pair<const char*, std::uint8_t*> bytes[] = {{"address", &parsed.registerAddress},
                                                         {"new", &parsed.newByte},
                                                         {"number_old", &parsed.numberOld},
                                                         {"checksum_old", &parsed.checksumOld},
                                                         {"checksum_new", &checksumNew}};
  for (const auto& [key, byte] : bytes)
    if (values.count(key) && !ParseHexByte(values[key], *byte))
      return Refuse(std::string("в строке «") + key + "» не байт");
  if (parsed.oldKnown && parsed.checksumNew() != checksumNew)
    return Refuse("новая контрольная сумма не следует из остальных байтов");
  record = parsed;
  return {};
}

std::string DeviceOf(const serial::Platform& platform, const std::string& portName) {
  return DeviceKey(platform.devicePath(portName));
}

std::string DeviceKey(const std::string& devicePath) {
  std::string device = devicePath;
#ifdef _WIN32
  // "\\.\COM7" and "com7" name one port.
  if (device.rfind("\\\\.\\", 0) == 0) device.erase(0, 4);
  std::transform(device.begin(), device.end(), device.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
#else
  // A link (a stable by-id name, a mapping's target) leads to the device
  // itself. A name that is no path (a simulated port) stands for itself.
  std::error_code error;
  const fs::path resolved = device.rfind('/', 0) == 0 ? fs::weakly_canonical(device, error) : fs::path();
  if (!error && !resolved.empty()) device = StableName(resolved.string());
#endif
  return device;
}

serial::Status HoldDevice(Session& session, const std::string& portName) {
  return HoldResolvedDevice(session, session.platform.devicePath(portName));
}

serial::Status HoldResolvedDevice(Session& session, const std::string& devicePath) {
  const std::string device = DeviceKey(devicePath);
  if (session.deviceLock.held() && session.deviceKey == device) return {};
  session.deviceLock = StateLock();
  session.deviceKey = device;
  // A name that leads nowhere has no records; opening it says why.
  if (device.empty()) return {};
  LockAttempt attempt = TakeStateLock(LockName(device), session.program, 0);
  if (attempt.outcome == LockOutcome::Held)
    return serial::About(serial::LineFailure::PortInUse, attempt.holder);
  session.deviceLock = std::move(attempt.lock);
  return {};
}

std::string RecordPath(const std::string& device, Link link) { return StatePath(RecordName(device, link)); }

serial::Status SaveRecord(const WriteRecord& record) {
  if (record.portName.find('\n') != std::string::npos || record.device.find('\n') != std::string::npos)
    return Refuse("имя порта содержит перевод строки");
  return ReplaceStateFile(RecordName(record.device, record.link), FormatRecord(record));
}

LoadedRecord LoadRecord(const std::string& device, Link link, const std::string& portName) {
  LoadedRecord loaded;
  bool legacy = false;
  StateFile read = ReadStateFile(RecordName(device, link), kMaxRecordSize);
  if (!read.found && portName != device) {
    legacy = true;
    read = ReadStateFile(RecordName(portName, link), kMaxRecordSize);
  }
  if (!read.found) return loaded;
  // Under the port's name only a record of the earlier format counts: a current
  // one there belongs to the device of that name.
  if (legacy && read.status && read.text.rfind(kVersion1Line, 0) != 0) return loaded;
  const std::string path = RecordPath(legacy ? portName : device, link);
  std::string why;
  if (!read.status) {
    why = read.status.failure().text();
  } else if (serial::Status parsed = ParseRecord(read.text, loaded.record); !parsed) {
    why = parsed.failure().detail;
  } else {
    const WriteRecord& r = loaded.record;
    // A record names its own device and link; one of the earlier format its port.
    if (r.link != link || (legacy ? r.portName != portName : r.device != device))
      why = "они относятся к другому устройству или связи";
    else if (legacy)
      loaded.record.device = device;
  }
  if (!why.empty()) {
    loaded.status = RecordStatus::Unusable;
    loaded.failure = Refuse("сведения о прерванной записи " + path + " непригодны: " + why);
    return loaded;
  }
  loaded.status = RecordStatus::Found;
  return loaded;
}

std::string DeviceKeyOf(const Session& session) {
  return session.deviceKey.empty() ? DeviceOf(session.platform, session.portName) : session.deviceKey;
}

LoadedRecord LoadRecord(const Session& session, Link link) {
  const std::string device = DeviceKeyOf(session);
  LoadedRecord loaded = LoadRecord(device, link, session.portName);
  if (loaded.status != RecordStatus::None) return loaded;
  // A record kept under another name of this device (the kernel name an
  // adapter had before, a path that led here): this name takes it over.
  for (WriteRecord& record : AllRecords(link)) {
    const std::string recorded = DeviceOf(session.platform, record.device);
    if (record.device == device || recorded != device) continue;
    if (!TakeOverRecord(session, record)) continue;
    return {RecordStatus::Found, record, {}};
  }
  return loaded;
}

std::vector<WriteRecord> AllRecords(Link link) {
  std::vector<WriteRecord> records;
  for (const std::string& name : StateFileNames("write-", std::string("-") + LinkName(link) + ".txt")) {
    const StateFile read = ReadStateFile(name, kMaxRecordSize);
    WriteRecord record;
    if (read.found && read.status && ParseRecord(read.text, record) && record.link == link &&
        !record.device.empty() && name == RecordName(record.device, link))
      records.push_back(record);
  }
  return records;
}

serial::Status TakeOverRecord(const Session& session, WriteRecord& record) {
  const WriteRecord before = record;
  record.portName = session.portName;
  record.device = DeviceKeyOf(session);
  if (record.device == before.device) return {};
  if (serial::Status saved = SaveRecord(record); !saved) {
    record = before;
    return saved;
  }
  static_cast<void>(RemoveRecord(before));
  return {};
}

serial::Status RemoveRecord(const WriteRecord& record) {
  if (serial::Status removed = RemoveStateFile(RecordName(record.device, record.link)); !removed)
    return removed;
  // A record of the earlier format, under the port's name.
  if (record.portName == record.device) return {};
  const std::string legacy = RecordName(record.portName, record.link);
  const StateFile read = ReadStateFile(legacy, kMaxRecordSize);
  if (!read.found || !read.status || read.text.rfind(kVersion1Line, 0) != 0) return {};
  return RemoveStateFile(legacy);
}

}  // namespace kkm::service
