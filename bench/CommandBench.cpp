// Exchange overhead of the operator's two long procedures, the connection
// procedure and the write command, over kkm-sim on a pseudo-terminal with the
// real POSIX back end, against their floors (Floor.h). The write command runs
// with a view that holds the number 1 (the number the simulated register
// already has) and message boxes that return at once; the register is
// connected once, untimed, before the write command's runs.

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>

#include "bench/Overhead.h"
#include "ui/AppState.h"
#include "ui/ConnectionProcedure.h"
#include "ui/MessageBoxes.h"
#include "ui/NetworkNumberCommands.h"

namespace kkm::bench {
namespace {

constexpr std::uint8_t kComPort = 1;

ui::Link LinkOf(SimLink link) { return link == SimLink::Cpu ? ui::Link::Processor : ui::Link::Kia; }

// Boxes close as soon as they open; the last icon tells how the command ended.
class ClosingBoxes : public ui::MessageBoxes {
 public:
  void show(const QString&, const QString&, Icon icon) override { lastIcon_ = icon; }
  Icon lastIcon() const { return lastIcon_; }

 private:
  Icon lastIcon_ = Icon::Error;
};

// The main window as the write command sees it: a link, a number field
// holding "1", a status strip.
class FixedView : public ui::NetworkNumberView {
 public:
  explicit FixedView(ui::Link link) : link_(link) {}
  ui::Link selectedLink() const override { return link_; }
  QString numberText() const override { return QStringLiteral("1"); }
  void setNumberText(const QString&) override {}
  void setStatusText(const QString& text) override { status_ = text; }
  void ButtonEnabled() override {}
  void ButtonDisabled() override {}
  const QString& status() const { return status_; }
  void clearStatus() { status_.clear(); }

 private:
  ui::Link link_;
  QString status_;
};

// The state, boxes and view of one run of the tool.
struct Session {
  Session(serial::Platform& platform, ui::Link link) : state(platform), view(link) {}
  ui::AppState state;
  ClosingBoxes boxes;
  FixedView view;
};

OperationFactory Connection(SimLink link) {
  return [link](serial::Platform& platform) {
    auto session = std::make_shared<Session>(platform, LinkOf(link));
    return Operation{[session, link] {
      return ui::RunConnectionProcedure(session->state, session->boxes, kComPort, LinkOf(link));
    }};
  };
}

OperationFactory WriteCommand(SimLink link) {
  return [link](serial::Platform& platform) {
    auto session = std::make_shared<Session>(platform, LinkOf(link));
    if (!ui::RunConnectionProcedure(session->state, session->boxes, kComPort, LinkOf(link)))
      throw std::runtime_error("the register does not connect");
    return Operation{[session] {
      session->view.clearStatus();
      ui::WriteNetworkNumber(session->state, session->boxes, session->view);
      return session->boxes.lastIcon() == ui::MessageBoxes::Icon::Information &&
             session->view.status() == QStringLiteral("Запись завершена");
    }};
  };
}

void BM_Command(benchmark::State& state, SimLink link, const OperationFactory& make) {
  MeasureAgainstFloor(state, link, make);
}

BENCHMARK_CAPTURE(BM_Command, ConnectionProcedure_Cpu, SimLink::Cpu, Connection(SimLink::Cpu))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(BM_Command, ConnectionProcedure_Kia, SimLink::Kia, Connection(SimLink::Kia))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);
BENCHMARK_CAPTURE(BM_Command, WriteNetworkNumber_Cpu, SimLink::Cpu, WriteCommand(SimLink::Cpu))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK_CAPTURE(BM_Command, WriteNetworkNumber_Kia, SimLink::Kia, WriteCommand(SimLink::Kia))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace kkm::bench
