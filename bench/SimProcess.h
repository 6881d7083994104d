#pragma once
// The simulator program kkm-sim as a child process of a benchmark: started
// with a link (the register's processor link, or the KIA board wired to the
// register), network number 1 (firmware 1.0.5, the simulator's default
// timing) and a receive FIFO of UartFifoTrigger() bytes in the PC's UART, it
// serves the register on a pseudo-terminal and prints the slave's
// path, which this class reads and exports as KKM_COM1, so that COM1 of the
// native platform is the simulated register. The destructor stops the child
// with SIGTERM and reaps it. Throws std::runtime_error when the program cannot
// be started or prints no path within kStartTimeoutMs.

#include <cstdint>
#include <memory>
#include <string>

#include "service/Session.h"
#include "tests/support/SimChild.h"

namespace kkm::bench {

// The 16550's usual receive trigger level, kkm-sim's default.
inline constexpr unsigned kUartFifoTrigger = 14;
// The trigger level the benchmarks model: $KKM_BENCH_UART_FIFO when set (0:
// no FIFO, every byte handed over at once), else kUartFifoTrigger.
unsigned UartFifoTrigger();

class SimProcess {
 public:
  static constexpr int kStartTimeoutMs = 5000;

  explicit SimProcess(service::Link link);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& slavePath() const { return slavePath_; }

  // The kkm-sim binary: $KKM_SIM when set, else the one built beside the bench.
  static std::string ProgramPath();

 private:
  std::unique_ptr<test::SimChild> child_;
  std::string slavePath_;
};

}  // namespace kkm::bench
