#pragma once
// The exchange trace: plain UTF-8 text, one event per line, for a technician
// to read and grep. A trace section starts with header lines ("# ..."): the
// program and its version, the platform, the port and its device path, the
// time of day. Every other line starts with the time in milliseconds (three
// decimals) since the section began, then the event:
//
//   host>dev 04 space      a byte the host sent, with the parity it went with,
//                          timed when its stop bit left the line
//   dev>host 95            a byte from the device, timed when it was received
//   purge 0C, parity mark, wait ..., open, close, ...   port operations
//   = ReadRegisterByte FE 020F: ok BA in 12.345 ms      an operation's summary
//   = ...: failed no-echo: <reason> in 10.123 ms
//
// The simulator writes its byte lines in the same form, so both traces of one
// run line up side by side. Off unless asked for: with no trace there is no
// sink, no decorator and no file.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "serial/Failure.h"
#include "serial/SerialPort.h"

namespace kkm::serial {

// Nanoseconds on a steady clock; the trace's times are differences of it.
using TraceNowNs = std::function<std::uint64_t()>;
std::uint64_t SteadyNowNs();

// "12.345": nanoseconds as milliseconds with three decimals.
std::string FormatMs(std::uint64_t ns);
// The same right-aligned in ten places before the point, as lines start.
std::string FormatTraceTime(std::uint64_t ns);
// "none", "odd", "even", "mark", "space".
const char* ParityWord(Parity parity);
// "host>dev 04 space" or "dev>host 95" (a received byte's parity bit is not seen).
std::string FormatByteEvent(bool fromHost, std::uint8_t byte, Parity parity);
// The header lines of a section, each starting with "# ". The time of day,
// to the microsecond, is that of the section's time origin, `sinceOriginNs`
// before now, so that two traces of one run can be aligned by it.
std::vector<std::string> TraceHeader(const std::string& program, const std::string& port,
                                     const std::string& devicePath, std::uint64_t sinceOriginNs = 0);
// The version of the tool, as the build states it.
const char* ProgramVersion();

class TraceSink {
 public:
  // A sink writing to `file` (closed at the end when `owned`).
  // `program`: who reports a trace that stopped part-way.
  TraceSink(std::FILE* file, bool owned, std::string program, TraceNowNs now = SteadyNowNs);
  ~TraceSink();
  TraceSink(const TraceSink&) = delete;
  TraceSink& operator=(const TraceSink&) = delete;

  // Opens `path` for appending ("-": standard error), without blocking: a FIFO
  // that nobody reads, a folder or a file that cannot be written give no sink,
  // with the failure saying why. A trace that stops being writable part-way (a full
  // disk, a device that refuses writes) is reported once on standard error,
  // then dropped: the work goes on untraced.
  struct Opening;
  static Opening Open(const std::string& path, std::string program, TraceNowNs now = SteadyNowNs);

  // Starts a section: the header lines, and the time origin is now.
  void beginSection(const std::vector<std::string>& header);
  // Nanoseconds since the section began.
  std::uint64_t elapsedNs() const;
  // One event line timed now, or at `atNs` (since the section began).
  void event(const std::string& text);
  void eventAt(std::uint64_t atNs, const std::string& text);
  // Writes out what is buffered: after every operation, so a crash loses nothing.
  void flush();

 private:
  // A trace that could not be written: reported once, written no more.
  void drop();

  std::FILE* file_;
  bool owned_;
  std::string path_ = "-";
  std::string program_;  // who says that the trace stopped
  bool dropped_ = false;
  TraceNowNs now_;
  std::uint64_t originNs_;
};

// A trace opened, or why it could not be.
struct TraceSink::Opening {
  std::unique_ptr<TraceSink> sink;
  Status status;
};

// The trace path asked for: `--trace FILE` or `--trace=FILE` on the command
// line (taken out of argv, so the rest of the command line is parsed as
// before), else the environment variable's value; empty: no trace.
std::string TakeTracePath(int& argc, char** argv, const char* environmentValue);

// Opens the trace at `path` (nothing when empty). A path that cannot be
// written, or that names a terminal or another device (a serial port would
// carry the text on its line; "-" is standard error), gives one line on
// `errors`, named after `program`, and no trace: the tool runs on without. A
// trace that stops later says so under the same name.
std::unique_ptr<TraceSink> OpenTraceOrWarn(const std::string& path, std::FILE* errors,
                                           const std::string& program);

}  // namespace kkm::serial
