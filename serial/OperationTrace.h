#pragma once
// The frame of every link operation: at its end, when the port is traced, one
// summary line goes to the trace: "= <name> <arguments>: ok [<result>] in
// <ms> ms" or "= <name> <arguments>: failed <reason> in <ms> ms". Nothing is
// formatted when the port is not traced.
//
// Operations end with `return operation.end(status)`. A failure they report
// goes through Blame first: a port that has vanished, or (for a symptom of
// lost parity) one whose adapter dropped MARK/SPACE, is then reported instead
// of the symptom it caused (a missing echo, a missing acknowledgement).

#include <cstdint>
#include <cstdio>
#include <string>

#include "serial/Failure.h"
#include "serial/PortHandle.h"
#include "serial/Trace.h"

namespace kkm::serial {

// `symptom` as it stands, or the port's own failure that caused it, with the
// symptom's details: PortVanished whenever the port has gone away,
// ParityDropped when the adapter dropped MARK/SPACE and the symptom is one a
// lost parity explains: a missing acknowledgement, a short reply, or what the
// caller's layer says (`parityMayCause`).
Failure Blame(const PortHandle& port, Failure symptom, bool parityMayCause);

// One line "! <note>" in the trace, when the port is traced; flushed at once.
void TraceNote(PortHandle& port, const std::string& note);

// One line "! <what> failed: <name>: <text>" in the trace, when the port is traced.
void TraceFailure(PortHandle& port, const std::string& what, const Failure& failure);

class OperationTrace {
 public:
  template <typename... Args>
  OperationTrace(PortHandle& port, const char* name, const char* format, Args... args)
      : sink_(port.traceSink()) {
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

  // The operation's outcome, for the summary line; returned as it is.
  Status end(Status status) {
    if (sink_ != nullptr) failure_ = status.failure();
    return status;
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
  Failure failure_;
};

}  // namespace kkm::serial
