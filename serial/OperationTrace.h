#pragma once
// The frame of every link operation: at its end, when the port is traced, one
// summary line goes to the trace: "= <name> <arguments>: ok [<result>] in
// <ms> ms" or "= <name> <arguments>: failed <reason> in <ms> ms". Nothing is
// formatted when the port is not traced.
//
// Operations end with `return operation.end(status)`, which puts a failure
// down to the port's own trouble when that explains it: a port that has
// vanished, or (for bytes the other end never heard: a missing echo, a missing
// acknowledgement) one whose adapter dropped MARK/SPACE parity. The trouble is
// then reported, the symptom kept as its cause; what of a layer's failures the
// port can explain, the layer's FailureDomain says (portBlame).

#include <cstdint>
#include <cstdio>
#include <string>

#include "serial/Failure.h"
#include "serial/PortHandle.h"
#include "serial/Trace.h"

namespace kkm::serial {

// One line "! <note>" in the trace, when the port is traced; flushed at once.
void TraceNote(PortHandle& port, const std::string& note);

// One line "! <what> failed: <name>: <text>" in the trace, when the port is traced.
void TraceFailure(PortHandle& port, const std::string& what, const Failure& failure);

class OperationTrace {
 public:
  template <typename... Args>
  OperationTrace(PortHandle& port, const char* name, const char* format, Args... args)
      : port_(port), sink_(port.traceSink()) {
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

  // The operation's outcome, for the summary line; returned as it is, or
  // with a failure put down to the port's own trouble.
  Status end(Status status);

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

  const PortHandle& port_;
  TraceSink* sink_;
  std::uint64_t startNs_ = 0;
  std::string text_;
  std::string result_;
  Failure failure_;
};

}  // namespace kkm::serial
