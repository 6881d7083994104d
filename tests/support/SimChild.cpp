#include "tests/support/SimChild.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kkm::test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReapPoll = std::chrono::milliseconds(5);
constexpr int kDevicePriority = 10;  // SCHED_FIFO, low among real-time priorities

// The exit code of a child that ended normally, -1 otherwise.
int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

SimChild::SimChild(const std::string& program, std::vector<std::string> args, Start start) {
  // 1. The command line.
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // 2. Its stdout on a pipe that only the child writes to; its stderr into a
  //    file when asked.
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (!start.stderrPath.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, start.stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);

  // 3. Real-time scheduling where asked and granted, else the usual one.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  const sched_param priority{kDevicePriority};
  posix_spawnattr_setschedpolicy(&attributes, SCHED_FIFO);
  posix_spawnattr_setschedparam(&attributes, &priority);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSCHEDULER);
  if (!(start.realTime &&
        posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ) == 0) &&
      posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    pid_ = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  stdout_ = out[0];
}

SimChild::~SimChild() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stdout_ >= 0) close(stdout_);
}

std::string SimChild::slavePath(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return {};
  const auto deadline = Clock::now() + timeout;
  std::string line;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return {};
    pollfd ready{stdout_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    char c = 0;
    if (read(stdout_, &c, 1) != 1) return {};  // the child ended without a line
    if (c == '\n') return line;
    line.push_back(c);
  }
}

void SimChild::signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

int SimChild::wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exited_ = true;
      return ExitCode(status);
    }
    std::this_thread::sleep_for(kReapPoll);
  }
  return -1;
}

int SimChild::stop(std::chrono::milliseconds timeout) {
  signal(SIGTERM);
  return wait(timeout);
}

namespace {
std::vector<std::string> WithRecording(std::vector<std::string> args, const std::string& tracePath,
                                       const std::string& dumpPath) {
  for (const std::string& extra : {std::string("--trace"), tracePath, std::string("--dump-memory"), dumpPath})
    args.push_back(extra);
  return args;
}
}  // namespace

RecordedSim::RecordedSim(const std::string& program, std::vector<std::string> args, std::string tracePath,
                         std::string dumpPath)
    : SimChild(program, WithRecording(std::move(args), tracePath, dumpPath),
               Start{.realTime = true, .stderrPath = {}}),
      tracePath_(std::move(tracePath)),
      dumpPath_(std::move(dumpPath)) {}

std::vector<TraceLine> ReadTrace(const std::string& path) {
  std::ifstream in(path);
  std::vector<TraceLine> lines;
  for (std::string text; std::getline(in, text);) {
    if (text.starts_with("#")) continue;  // the header
    std::istringstream fields(text);
    TraceLine line;
    std::string direction;
    unsigned byte = 0x100;
    fields >> line.endMs >> direction >> std::hex >> byte;
    if (direction == "host>dev") fields >> line.parity;
    if (!fields || (direction != "host>dev" && direction != "dev>host") || byte > 0xFF) {
      lines.push_back({0, false, 0, "unreadable: " + text});
      break;
    }
    line.fromHost = direction == "host>dev";
    line.byte = static_cast<std::uint8_t>(byte);
    lines.push_back(line);
  }
  return lines;
}

std::map<std::uint16_t, std::uint8_t> ReadMemoryDump(const std::string& path) {
  std::ifstream in(path);
  std::map<std::uint16_t, std::uint8_t> cells;
  for (std::string text; std::getline(in, text);) {
    unsigned address = 0;
    unsigned byte = 0;
    if (std::sscanf(text.c_str(), "0x%4x=%2x", &address, &byte) == 2 && address <= 0xFFFF && byte <= 0xFF)
      cells[static_cast<std::uint16_t>(address)] = static_cast<std::uint8_t>(byte);
  }
  return cells;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kkm::test
