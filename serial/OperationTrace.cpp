#include "serial/OperationTrace.h"

namespace kkm::serial {

Failure Blame(const PortHandle& port, Failure symptom, bool parityMayCause) {
  if (port.vanished())
    return TimedOut(LineFailure::PortVanished, symptom.waitedMs, symptom.expected, symptom.got);
  parityMayCause =
      parityMayCause || symptom.is(LineFailure::NoAcknowledgement) || symptom.is(LineFailure::ReplyTooShort);
  if (parityMayCause && port.parityDropped())
    return TimedOut(LineFailure::ParityDropped, symptom.waitedMs, symptom.expected, symptom.got);
  return symptom;
}

void TraceNote(PortHandle& port, const std::string& note) {
  if (TraceSink* trace = port.traceSink()) {
    trace->event("! " + note);
    trace->flush();
  }
}

void TraceFailure(PortHandle& port, const std::string& what, const Failure& failure) {
  if (port.traceSink() != nullptr) TraceNote(port, what + " failed: " + DescribeFailure(failure));
}

OperationTrace::~OperationTrace() {
  if (sink_ == nullptr) return;
  const std::uint64_t ns = sink_->elapsedNs() - startNs_;
  if (!failure_.failed())
    text_ += ": ok" + (result_.empty() ? "" : " " + result_);
  else
    text_ += ": failed " + DescribeFailure(failure_);
  sink_->event(text_ + " in " + FormatMs(ns) + " ms");
  sink_->flush();
}

}  // namespace kkm::serial
