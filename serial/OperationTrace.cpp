#include "serial/OperationTrace.h"

namespace kkm::serial {

namespace {

// The port's own `trouble` standing for `symptom`: it shows the symptom's
// details and keeps the symptom as its cause.
Failure Blamed(LineFailure trouble, const Failure& symptom) {
  return Wrap(TimedOut(trouble, symptom.waitedMs, symptom.expected, symptom.got), symptom);
}

// `symptom` as it stands, or put down to the port's own trouble: a port gone
// away whenever that explains the symptom, an adapter that dropped MARK/SPACE
// when the symptom is bytes the other end never heard.
Failure BlamePort(const PortHandle& port, Failure symptom) {
  const PortBlame blame =
      symptom.domain->portBlame != nullptr ? symptom.domain->portBlame(symptom) : PortBlame::None;
  if (blame == PortBlame::None) return symptom;
  if (port.vanished()) return Blamed(LineFailure::PortVanished, symptom);
  if (blame == PortBlame::Unheard && port.parityDropped()) return Blamed(LineFailure::ParityDropped, symptom);
  return symptom;
}

}  // namespace

Status OperationTrace::end(Status status) {
  if (!status.ok()) status = BlamePort(port_, status.failure());
  if (sink_ != nullptr) failure_ = status.failure();
  return status;
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
