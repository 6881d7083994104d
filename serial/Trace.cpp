#include "serial/Trace.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string_view>

#include "files/CarefulFile.h"
#include "kkm/Version.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#endif

namespace kkm::serial {

namespace {

constexpr std::uint64_t kNsPerMs = 1'000'000;
constexpr std::string_view kTraceOption = "--trace";

}  // namespace

const char* ParityWord(Parity parity) {
  switch (parity) {
    case Parity::Mark:
      return "mark";
    case Parity::Space:
      return "space";
    case Parity::Odd:
      return "odd";
    case Parity::Even:
      return "even";
    case Parity::None:
      break;
  }
  return "none";
}

namespace {

#if defined(_WIN32)
// A name Windows gives to a device in every folder (CON, NUL, COM1.txt...),
// or a device's own path ("\\.\COM12").
bool WindowsDeviceName(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0) return true;
  std::string stem = path.substr(path.find_last_of("\\/:") + 1);
  stem = stem.substr(0, stem.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (stem == name) return true;
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}
#endif

// A terminal or another device in place of a trace file: a serial port (the
// register's own, even) would carry the trace's text as bytes on the line.
// Looked at before anything opens it, as opening a port may already change
// its lines.
bool NamesADevice(const std::string& path) {
#if defined(_WIN32)
  return WindowsDeviceName(path);
#else
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode));
#endif
}

std::string PlatformDescription() {
#if defined(_WIN32)
  return "Windows";
#else
  utsname name{};
  if (uname(&name) != 0) return "POSIX";
  return std::string(name.sysname) + " " + name.release + " " + name.machine;
#endif
}

// "2026-12-07 11:30:00.123456 +0000": the local time of day `agoNs` before
// now, with its offset from UTC.
std::string TimeOfDay(std::uint64_t agoNs) {
  const auto now = std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now() -
                                                                           std::chrono::nanoseconds(agoNs));
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto us = now.time_since_epoch().count() % 1'000'000;
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char date[32];
  char zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);
  char text[64];
  std::snprintf(text, sizeof text, "%s.%06d %s", date, static_cast<int>(us), zone);
  return text;
}

}  // namespace

std::uint64_t SteadyNowNs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::string FormatMs(std::uint64_t ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(ns / kNsPerMs),
                static_cast<unsigned long long>(ns % kNsPerMs / 1000));
  return text;
}

std::string FormatTraceTime(std::uint64_t ns) {
  const std::string ms = FormatMs(ns);
  constexpr std::size_t kWidth = 14;  // ten digits, the point, three decimals
  return ms.size() < kWidth ? std::string(kWidth - ms.size(), ' ') + ms : ms;
}

std::string FormatByteEvent(bool fromHost, std::uint8_t byte, Parity parity) {
  char text[32];
  if (fromHost)
    std::snprintf(text, sizeof text, "host>dev %02X %s", byte, ParityWord(parity));
  else
    std::snprintf(text, sizeof text, "dev>host %02X", byte);
  return text;
}

const char* ProgramVersion() { return kVersion; }

std::vector<std::string> TraceHeader(const std::string& program, const std::string& port,
                                     const std::string& devicePath, std::uint64_t sinceOriginNs) {
  return {"# " + program + " " + ProgramVersion() + " exchange trace", "# platform: " + PlatformDescription(),
          "# port: " + port + " = " + devicePath, "# time of day: " + TimeOfDay(sinceOriginNs)};
}

TraceSink::TraceSink(std::FILE* file, bool owned, std::string program, TraceNowNs now)
    : file_(file), owned_(owned), program_(std::move(program)), now_(std::move(now)), originNs_(now_()) {}

TraceSink::~TraceSink() {
  if (owned_) std::fclose(file_);
}

TraceSink::Opening TraceSink::Open(const std::string& path, std::string program, TraceNowNs now) {
  if (path == "-")
    return {std::make_unique<TraceSink>(stderr, false, std::move(program), std::move(now)), {}};
  // Never blocks: a FIFO without a reader is refused instead of waited on; a
  // FIFO with one is written like a file.
  files::AppendRules rules;
  rules.regularOnly = false;
  rules.devicesToo = true;  // a device is refused before, where it must be (OpenTraceOrWarn)
  rules.followLinks = true;
  rules.mode = 0644;
  const files::AppendFile opened = files::OpenToAppend(path, rules);
  if (!opened.status) return {nullptr, opened.status};
  auto sink = std::make_unique<TraceSink>(opened.file, true, std::move(program), std::move(now));
  sink->path_ = path;
  return {std::move(sink), {}};
}

void TraceSink::beginSection(const std::vector<std::string>& header) {
  if (dropped_) return;
  for (const std::string& line : header) std::fprintf(file_, "%s\n", line.c_str());
  originNs_ = now_();
  flush();
}

std::uint64_t TraceSink::elapsedNs() const { return now_() - originNs_; }

void TraceSink::event(const std::string& text) { eventAt(elapsedNs(), text); }

void TraceSink::eventAt(std::uint64_t atNs, const std::string& text) {
  if (dropped_) return;
  if (std::fprintf(file_, "%s %s\n", FormatTraceTime(atNs).c_str(), text.c_str()) < 0) drop();
}

void TraceSink::flush() {
  if (!dropped_ && (std::fflush(file_) != 0 || std::ferror(file_) != 0)) drop();
}

void TraceSink::drop() {
  const int error = errno;
  dropped_ = true;
  std::fprintf(stderr, "%s: запись трассы в %s прервана, работа идёт без неё: %s\n", program_.c_str(),
               path_.c_str(), std::strerror(error));
  std::fflush(stderr);
}

std::string TakeTracePath(int& argc, char** argv, const char* environmentValue) {
  std::string path = environmentValue != nullptr ? environmentValue : "";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == kTraceOption && i + 1 < argc) {
      path = argv[++i];
    } else if (arg.size() > kTraceOption.size() && arg.substr(0, kTraceOption.size() + 1) == "--trace=") {
      path = std::string(arg.substr(kTraceOption.size() + 1));
    } else {
      argv[kept++] = argv[i];
    }
  }
  for (int i = kept; i < argc; ++i) argv[i] = nullptr;
  argc = kept;
  return path;
}

std::unique_ptr<TraceSink> OpenTraceOrWarn(const std::string& path, std::FILE* errors,
                                           const std::string& program) {
  if (path.empty()) return nullptr;
  TraceSink::Opening opened =
      path != "-" && NamesADevice(path)
          ? TraceSink::Opening{nullptr, files::FileError(files::FileFailure::NotRegular, path)}
          : TraceSink::Open(path, program);
  if (!opened.sink) {
    std::fprintf(errors, "%s: трасса не будет записана, работа идёт без неё: %s\n", program.c_str(),
                 opened.status.failure().text().c_str());
    return nullptr;
  }
  return std::move(opened.sink);
}

}  // namespace kkm::serial
