#include "serial/OperationTrace.h"

namespace kkm::serial {

bool FailOn(PortHandle& port, Failure failure) {
  const bool symptom = failure.code == FailureCode::NoEcho || failure.code == FailureCode::WrongEcho ||
                       failure.code == FailureCode::NoAcknowledgement ||
                       failure.code == FailureCode::NoRegisterFound ||
                       failure.code == FailureCode::ReplyTooShort;
  if (port.vanished()) {
    failure.code = FailureCode::PortVanished;
  } else if (symptom && port.parityDropped()) {
    failure.code = FailureCode::ParityDropped;
  }
  return Fail(failure);
}

void TraceNote(PortHandle& port, const std::string& note) {
  if (TraceSink* trace = port.traceSink()) {
    trace->event("! " + note);
    trace->flush();
  }
}

void TraceFailure(PortHandle& port, const std::string& what) {
  if (port.traceSink() != nullptr) TraceNote(port, what + " failed: " + DescribeFailure(LastFailure()));
}

OperationTrace::~OperationTrace() {
  if (sink_ == nullptr) return;
  const Failure& failure = LastFailure();
  const std::uint64_t ns = sink_->elapsedNs() - startNs_;
  if (failure.code == FailureCode::None)
    text_ += ": ok" + (result_.empty() ? "" : " " + result_);
  else
    text_ += ": failed " + DescribeFailure(failure);
  sink_->event(text_ + " in " + FormatMs(ns) + " ms");
  sink_->flush();
}

}  // namespace kkm::serial
