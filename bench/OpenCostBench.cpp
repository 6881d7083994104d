// What opening a port costs as the machine around the tool holds more
// descriptors, against what any look through /proc pays and against fuser.
// Child processes hold about 1,000, 10,000 and 50,000 extra descriptors
// (duplicates of a pipe's end, as the sockets and pipes that most descriptors
// are); at each size four ways of finding the holders of a free
// pseudo-terminal are timed, alternately:
//   look     the tool's look for other holders, as the open makes it
//            (serial/PortHolders.h: every descriptor's link read)
//   listing  only the fd folders listed, no descriptor looked at: the part of
//            any look through /proc that no way of comparing can save (the floor)
//   fuser    `fuser -s` on the device, the system's own answer to the same
//            question, started as a child (the peer; its start included)
//   open     the whole OpenPosixPort, the look included
// The cost per descriptor is the rise over the machine's own descriptors
// divided by the extra ones. Two tables: real time (what the operator waits)
// and CPU time (this process's and its finished children's: what the look
// costs, whatever else the machine runs). The children are ended before the
// program returns.
//
//   open_cost_bench [ROUNDS]      (default 15 per size and way; median shown)

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "serial/PortHolders.h"
#include "serial/PosixPort.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Children that each hold up to `perChild` descriptors until killed.
class Holders {
 public:
  explicit Holders(std::size_t total) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const std::size_t perChild =
        std::max<std::size_t>(limit.rlim_max > 1100 ? limit.rlim_max - 100 : 1000, 1000);
    for (std::size_t left = total; left > 0;) {
      const std::size_t count = std::min(left, perChild);
      left -= count;
      int ready[2];
      if (pipe(ready) != 0) break;
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        rlimit own = limit;
        own.rlim_cur = own.rlim_max;
        setrlimit(RLIMIT_NOFILE, &own);
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) _exit(1);
        for (std::size_t i = 2; i < count; ++i)
          if (dup(pipeEnds[0]) < 0) break;
        [[maybe_unused]] const ssize_t n = write(ready[1], "x", 1);
        for (;;) pause();
      }
      close(ready[1]);
      char c = 0;
      [[maybe_unused]] const ssize_t n = read(ready[0], &c, 1);
      close(ready[0]);
      if (pid > 0) children_.push_back(pid);
    }
  }
  ~Holders() {
    for (pid_t pid : children_) kill(pid, SIGKILL);
    for (pid_t pid : children_) waitpid(pid, nullptr, 0);
  }
  Holders(const Holders&) = delete;
  Holders& operator=(const Holders&) = delete;

 private:
  std::vector<pid_t> children_;
};

// Every process's descriptors that this process can see.
std::size_t DescriptorsOnTheMachine() {
  std::size_t count = 0;
  DIR* proc = opendir("/proc");
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    DIR* fds = opendir(("/proc/" + std::string(entry->d_name) + "/fd").c_str());
    if (fds == nullptr) continue;
    while (const dirent* fd = readdir(fds)) count += fd->d_name[0] != '.';
    closedir(fds);
  }
  closedir(proc);
  return count;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// CPU time of this process and of its children that have ended and been waited for.
double CpuMs() {
  timespec own{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &own);
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  const auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
  };
  return static_cast<double>(own.tv_sec) * 1e3 + static_cast<double>(own.tv_nsec) / 1e6 +
         ms(children.ru_utime) + ms(children.ru_stime);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// `fuser -s path`, silent, to its end; false when it cannot be started.
bool Fuser(const std::string& path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = "fuser";
  std::string silent = "-s";
  std::string device = path;
  char* argv[] = {program.data(), silent.data(), device.data(), nullptr};
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, "fuser", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  // fuser exits with 1 when nobody holds the device: either way it has looked.
  return error == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

struct Way {
  const char* label;
  std::function<bool()> run;  // false: this way cannot be measured here
};

// One size of the machine: the descriptors seen, and per way the median real
// and CPU times (NaN for a way that could not run).
struct Row {
  std::size_t extra;
  std::size_t descriptors;
  std::vector<double> real, cpu;
};

Row MeasureSize(std::size_t extra, const std::vector<Way>& ways, int rounds) {
  const Holders holders(extra);
  std::vector<std::vector<double>> real(ways.size()), cpu(ways.size());
  std::vector<bool> failed(ways.size(), false);
  for (int round = 0; round < rounds; ++round)
    for (std::size_t w = 0; w < ways.size(); ++w) {
      const auto start = Clock::now();
      const double cpuStart = CpuMs();
      if (!ways[w].run()) failed[w] = true;
      cpu[w].push_back(CpuMs() - cpuStart);
      real[w].push_back(Ms(Clock::now() - start));
    }
  Row row{extra, DescriptorsOnTheMachine(), {}, {}};
  for (std::size_t w = 0; w < ways.size(); ++w) {
    row.real.push_back(failed[w] ? NAN : Median(real[w]));
    row.cpu.push_back(failed[w] ? NAN : Median(cpu[w]));
  }
  return row;
}

void PrintTable(const std::vector<Row>& rows, const std::vector<Way>& ways, bool realTime) {
  std::printf("\n%s\n%-8s %-12s", realTime ? "real time" : "CPU time (this process and fuser)", "extra",
              "descriptors");
  for (const Way& way : ways) std::printf(" %21s", way.label);
  std::printf("\n");
  for (const Row& row : rows) {
    std::printf("%-8zu %-12zu", row.extra, row.descriptors);
    for (std::size_t w = 0; w < ways.size(); ++w) {
      const double ms = realTime ? row.real[w] : row.cpu[w];
      const double base = realTime ? rows.front().real[w] : rows.front().cpu[w];
      if (std::isnan(ms))
        std::printf(" %21s", "n/a");
      else if (row.extra == 0)
        std::printf(" %9.3f ms           ", ms);
      else
        std::printf(" %9.3f ms %5.2f us/fd", ms, (ms - base) * 1000.0 / static_cast<double>(row.extra));
    }
    std::printf("\n");
  }
}

// The look set against the floor and the peer at the largest size.
void PrintRatios(const Row& row) {
  for (const bool realTime : {true, false}) {
    const std::vector<double>& ms = realTime ? row.real : row.cpu;
    std::printf("%s at %zu extra: look / listing %.2f, look / fuser %.2f\n", realTime ? "real" : "CPU",
                row.extra, ms[0] / ms[1], ms[0] / ms[2]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  int master = -1;
  int slave = -1;
  char name[128] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return 1;
  close(slave);  // a free port: every look walks the whole machine
  const std::string path = name;
  struct stat st {};
  stat(path.c_str(), &st);
  const std::vector<std::string> names = kkm::serial::DeviceNamesOf(path);
  const std::vector<Way> ways = {
      {"look", [&] { return kkm::serial::HoldersNamed(names, st.st_rdev, 1).empty(); }},
      {"listing", [] { return DescriptorsOnTheMachine() > 0; }},
      {"fuser", [&] { return Fuser(path); }},
      {"open", [&] { return kkm::serial::OpenPosixPort(path) != nullptr; }},
  };

  std::printf("rounds per size and way: %d (median shown); %s\n", rounds,
              geteuid() == 0 ? "as root: every process is seen" : "not root: only own processes are seen");
  std::vector<Row> rows;
  for (const std::size_t extra : {std::size_t{0}, std::size_t{1000}, std::size_t{10000}, std::size_t{50000}})
    rows.push_back(MeasureSize(extra, ways, rounds));
  PrintTable(rows, ways, true);
  PrintTable(rows, ways, false);
  std::printf("(medians; at each extra size the total, then the rise per extra descriptor)\n");
  PrintRatios(rows.back());
  close(master);
  return 0;
}
