#include "service/WriteRecord.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include "serial/OperationTrace.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kkm::service {

namespace {

namespace fs = std::filesystem;

constexpr const char* kVersionLine = "version=1";
constexpr const char* kEndLine = "end";
constexpr std::size_t kMaxRecordSize = 4096;
constexpr std::array<const char*, 8> kKeys = {"port", "device",     "link",         "address",
                                              "new",  "number_old", "checksum_old", "checksum_new"};

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

// A file name from the port's name: letters, digits, '-' and '_' stay, any
// other byte becomes %XX, so different names never share a file.
std::string EncodedName(const std::string& portName) {
  std::string name;
  for (const char c : portName) {
    const auto u = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      name += c;
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", u);
      name += escape;
    }
  }
  return name;
}

std::string SystemError(const std::string& what, const std::string& path, int error) {
  return what + " " + path + ": " + std::strerror(error);
}

// Writes `text` to `path` and flushes it to the disk.
bool WriteFlushed(const std::string& path, const std::string& text, std::string& reason) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    reason = SystemError("cannot create", path, errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
#ifdef _WIN32
  ok = ok && _commit(_fileno(file)) == 0;
#else
  ok = ok && ::fsync(fileno(file)) == 0;
#endif
  const int error = errno;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) reason = SystemError("cannot write", path, error);
  return ok;
}

// The folder's entry for a renamed file reaches the disk too.
void FlushFolder([[maybe_unused]] const std::string& folder) {
#ifndef _WIN32
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
#endif
}

}  // namespace

std::string FormatRecord(const WriteRecord& r) {
  std::ostringstream text;
  text << kVersionLine << '\n'
       << "port=" << r.portName << '\n'
       << "device=" << r.devicePath << '\n'
       << "link=" << LinkName(r.link) << '\n'
       << "address=" << HexByte(r.registerAddress) << '\n'
       << "new=" << HexByte(r.newByte) << '\n'
       << "number_old=" << HexByte(r.numberOld) << '\n'
       << "checksum_old=" << HexByte(r.checksumOld) << '\n'
       << "checksum_new=" << HexByte(r.checksumNew) << '\n'
       << kEndLine << '\n';
  return text.str();
}

bool ParseRecord(const std::string& text, WriteRecord& record, std::string& reason) {
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kVersionLine) {
    reason = "not a write record of a known version";
    return false;
  }
  std::map<std::string, std::string> values;
  bool ended = false;
  while (std::getline(lines, line)) {
    if (ended) {
      reason = "text after the end line";
      return false;
    }
    if (line == kEndLine) {
      ended = true;
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string key = line.substr(0, equals);
    if (equals == std::string::npos || std::find(kKeys.begin(), kKeys.end(), key) == kKeys.end()) {
      reason = "unknown line \"" + line + "\"";
      return false;
    }
    if (!values.emplace(key, line.substr(equals + 1)).second) {
      reason = "key " + key + " repeated";
      return false;
    }
  }
  // A torn file lacks its end line.
  if (!ended) {
    reason = "incomplete (no end line)";
    return false;
  }
  for (const char* key : kKeys)
    if (!values.count(key)) {
      reason = std::string("key ") + key + " missing";
      return false;
    }
  WriteRecord parsed;
  parsed.portName = values["port"];
  parsed.devicePath = values["device"];
  if (parsed.portName.empty()) {
    reason = "empty port";
    return false;
  }
  if (values["link"] == "cpu" || values["link"] == "kia") {
    parsed.link = values["link"] == "cpu" ? Link::Processor : Link::Kia;
  } else {
    reason = "link \"" + values["link"] + "\" is neither cpu nor kia";
    return false;
  }
  const std::pair<const char*, std::uint8_t*> bytes[] = {{"address", &parsed.registerAddress},
                                                         {"new", &parsed.newByte},
                                                         {"number_old", &parsed.numberOld},
                                                         {"checksum_old", &parsed.checksumOld},
                                                         {"checksum_new", &parsed.checksumNew}};
  for (const auto& [key, byte] : bytes)
    if (!ParseHexByte(values[key], *byte)) {
      reason = std::string("key ") + key + " is no byte 0xHH";
      return false;
    }
  if (static_cast<std::uint8_t>(parsed.checksumOld - parsed.numberOld + parsed.newByte) !=
      parsed.checksumNew) {
    reason = "checksum_new does not follow from the other bytes";
    return false;
  }
  record = parsed;
  return true;
}

std::string StateFolder() {
#ifdef _WIN32
  const char* base = std::getenv("LOCALAPPDATA");
  if (base == nullptr || *base == '\0') return {};
  return (fs::path(base) / "kkm-netnum").string();
#else
  // Relative paths in XDG_STATE_HOME are ignored, as the base directory rules ask.
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
    return (fs::path(state) / "kkm-netnum").string();
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  return (fs::path(home) / ".local" / "state" / "kkm-netnum").string();
#endif
}

std::string RecordPath(const std::string& portName, Link link) {
  const std::string folder = StateFolder();
  if (folder.empty()) return {};
  return (fs::path(folder) / ("write-" + EncodedName(portName) + "-" + LinkName(link) + ".txt")).string();
}

bool SaveRecord(const WriteRecord& record, std::string& reason) {
  const std::string path = RecordPath(record.portName, record.link);
  if (path.empty()) {
    reason = "no state folder (neither XDG_STATE_HOME nor HOME is set)";
    return false;
  }
  if (record.portName.find('\n') != std::string::npos || record.devicePath.find('\n') != std::string::npos) {
    reason = "the port's name holds a line break";
    return false;
  }
  const fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    reason = "cannot create " + folder.string() + ": " + error.message();
    return false;
  }
  const std::string temporary = path + ".tmp";
  if (!WriteFlushed(temporary, FormatRecord(record), reason)) {
    fs::remove(temporary, error);
    return false;
  }
  fs::rename(temporary, path, error);
  if (error) {
    reason = "cannot rename " + temporary + " to " + path + ": " + error.message();
    fs::remove(temporary, error);
    return false;
  }
  FlushFolder(folder.string());
  return true;
}

LoadedRecord LoadRecord(const std::string& portName, Link link) {
  LoadedRecord loaded;
  const std::string path = RecordPath(portName, link);
  if (path.empty()) return loaded;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    if (errno != ENOENT) {
      loaded.status = RecordStatus::Unusable;
      loaded.reason = SystemError("cannot read", path, errno);
    }
    return loaded;
  }
  std::string text(kMaxRecordSize + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  const bool readError = std::ferror(file) != 0;
  std::fclose(file);
  std::string why;
  if (readError) {
    why = "read error";
  } else if (text.size() > kMaxRecordSize) {
    why = "too large";
  } else if (ParseRecord(text, loaded.record, why) &&
             (loaded.record.portName != portName || loaded.record.link != link)) {
    why = "it names another port or link";
  }
  if (!why.empty()) {
    loaded.status = RecordStatus::Unusable;
    loaded.reason = "the write record " + path + " is unusable: " + why;
    return loaded;
  }
  loaded.status = RecordStatus::Found;
  return loaded;
}

bool RemoveRecord(const std::string& portName, Link link, std::string& reason) {
  const std::string path = RecordPath(portName, link);
  if (path.empty()) return true;
  std::error_code error;
  fs::remove(path, error);
  if (error) {
    reason = "cannot remove " + path + ": " + error.message();
    return false;
  }
  FlushFolder(fs::path(path).parent_path().string());
  return true;
}

void ReportRecordFailure(serial::PortHandle& port, const std::string& reason) {
  std::cerr << "kkm-netnum: " << reason << std::endl;
  serial::TraceNote(port, reason);
}

}  // namespace kkm::service
