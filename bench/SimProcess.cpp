#include "bench/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace kkm::bench {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("kkm-sim: " + what + (errno != 0 ? ": " + std::string(std::strerror(errno)) : ""));
}

// Reads the child's first line, waiting at most `timeoutMs` in all.
std::string ReadFirstLine(int fd, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string line;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) return {};
    if (c == '\n') return line;
    line.push_back(c);
  }
}

}  // namespace

std::string SimProcess::ProgramPath() {
  if (const char* path = std::getenv("KKM_SIM"); path != nullptr && *path != '\0') return path;
  return KKM_SIM_PATH;
}

unsigned UartFifoTrigger() {
  const char* level = std::getenv("KKM_BENCH_UART_FIFO");
  return level != nullptr && *level != '\0' ? static_cast<unsigned>(std::stoul(level)) : kUartFifoTrigger;
}

SimProcess::SimProcess(SimLink link) {
  // 1. A pipe for the child's stdout; the read end stays here.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) Fail("pipe");
  output_ = pipeFds[0];

  // 2. The child: kkm-sim --link cpu|kia --number 1 --uart-fifo N, stdout
  //    into the pipe.
  const std::string program = ProgramPath();
  std::vector<std::string> args{program, "--link",      link == SimLink::Cpu ? "cpu" : "kia", "--number",
                                "1",     "--uart-fifo", std::to_string(UartFifoTrigger())};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    errno = spawned;
    pid_ = -1;
    ::close(output_);
    Fail("cannot start " + program);
  }

  // 3. The slave's path, and COM1 pointed at it.
  slavePath_ = ReadFirstLine(output_, kStartTimeoutMs);
  if (slavePath_.empty()) {
    stop();
    errno = 0;
    Fail("printed no slave path");
  }
  setenv("KKM_COM1", slavePath_.c_str(), 1);
}

SimProcess::~SimProcess() {
  unsetenv("KKM_COM1");
  stop();
}

void SimProcess::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  if (output_ >= 0) ::close(output_);
  output_ = -1;
}

}  // namespace kkm::bench
