#pragma once
// The frame of every link operation: on entry the thread's last failure is
// cleared; at the end, when the port is traced, one summary line goes to the
// trace: "= <name> <arguments>: ok [<result>] in <ms> ms" or
// "= <name> <arguments>: failed <reason> in <ms> ms". Nothing is formatted
// when the port is not traced.
//
// Operations end a failure with `return FailOn(port, {...})`: a port that has
// vanished, or one whose adapter dropped MARK/SPACE, is then reported instead
// of the symptom it caused (a missing echo, a missing acknowledgement).

#include <cstdint>
#include <cstdio>
#include <string>

#include "serial/Failure.h"
#include "serial/PortHandle.h"
#include "serial/Trace.h"

namespace kkm::serial {

bool FailOn(PortHandle& port, Failure failure);

// One line "! <note>" in the trace, when the port is traced; flushed at once.
void TraceNote(PortHandle& port, const std::string& note);

// One line "! <what> failed: <name>: <text>" for the last failure in the
// trace, when the port is traced.
void TraceFailure(PortHandle& port, const std::string& what);

class OperationTrace {
 public:
  template <typename... Args>
  OperationTrace(PortHandle& port, const char* name, const char* format, Args... args)
      : sink_(port.traceSink()) {
    ClearFailure();
    if (sink_ == nullptr) return;
    startNs_ = sink_->elapsedNs();
    text_ = std::string("= ") + name + " " + Formatted(format, args...);
  }
  ~OperationTrace();
  OperationTrace(const OperationTrace&) = delete;
  OperationTrace& operator=(const OperationTrace&) = delete;

  // What a successful operation shows after "ok".
  template <typename... Args>
  void result(const char* format, Args... args) {
    if (sink_ != nullptr) result_ = Formatted(format, args...);
  }

 private:
  template <typename... Args>
  static std::string Formatted(const char* format, Args... args) {
    if constexpr (sizeof...(Args) == 0) {
      return format;  // nothing to fill in
    } else {
      char text[128];
      std::snprintf(text, sizeof text, format, args...);
      return text;
    }
  }

  TraceSink* sink_;
  std::uint64_t startNs_ = 0;
  std::string text_;
  std::string result_;
};

}  // namespace kkm::serial
