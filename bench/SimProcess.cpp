#include "bench/SimProcess.h"

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace kkm::bench {

std::string SimProcess::ProgramPath() {
  if (const char* path = std::getenv("KKM_SIM"); path != nullptr && *path != '\0') return path;
  return KKM_SIM_PATH;
}

unsigned UartFifoTrigger() {
  const char* level = std::getenv("KKM_BENCH_UART_FIFO");
  return level != nullptr && *level != '\0' ? static_cast<unsigned>(std::stoul(level)) : kUartFifoTrigger;
}

SimProcess::SimProcess(service::Link link) {
  // 1. kkm-sim --link cpu|kia --number 1 --uart-fifo 14.
  const std::string program = ProgramPath();
  child_ = std::make_unique<test::SimChild>(
      program, std::vector<std::string>{"--link", service::LinkName(link), "--number", "1", "--uart-fifo",
                                        std::to_string(UartFifoTrigger())});
  if (!child_->started()) throw std::runtime_error("kkm-sim: cannot start " + program);

  // 2. The slave's path, and COM1 pointed at it.
  slavePath_ = child_->slavePath(std::chrono::milliseconds(kStartTimeoutMs));
  if (slavePath_.empty()) {
    child_->stop();
    throw std::runtime_error("kkm-sim: printed no slave path");
  }
  setenv("KKM_COM1", slavePath_.c_str(), 1);
}

SimProcess::~SimProcess() {
  unsetenv("KKM_COM1");
  child_->stop();
}

}  // namespace kkm::bench
