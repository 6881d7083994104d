// What opening a port costs as the machine around the tool holds more
// descriptors. Child processes hold about 1,000, 10,000 and 50,000 extra
// descriptors (duplicates of a pipe's end, as the sockets and pipes that most
// descriptors are); at each size the look for other
// holders of a free pseudo-terminal is timed three ways, alternately:
//   before   stat of every descriptor's target (fstatat through /proc/<pid>/fd)
//   after    the link of every descriptor read (readlinkat), one thread
//   after×2  the same split between two threads
//   listing  only the fd folders listed, no descriptor looked at: the part of
//            any look through /proc that no way of comparing can save
// and the whole OpenPosixPort (which looks the "after" way) once more. The
// cost per descriptor is the rise over the machine's own descriptors divided
// by the extra ones. Two tables: real time (what the operator waits) and the
// CPU time of this process (what the look costs, whatever else the machine
// runs; two threads add up). The children are ended before the program returns.
//
//   open_cost_bench [ROUNDS]      (default 15 per size and way; median shown)

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "serial/PortHolders.h"
#include "serial/PosixPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// The look as it was: every descriptor's target stat'ed (it follows the link
// to the file, wherever that lives).
std::size_t StatHolders(dev_t device) {
  std::size_t holders = 0;
  const std::string self = std::to_string(getpid());
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  while (const dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    const int fdDir = open(("/proc/" + pid + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0) continue;
    DIR* fds = fdopendir(fdDir);
    if (fds == nullptr) {
      close(fdDir);
      continue;
    }
    while (const dirent* fdEntry = readdir(fds)) {
      if (fdEntry->d_name[0] == '.') continue;
      struct stat st {};
      if (fstatat(fdDir, fdEntry->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) {
        ++holders;
        break;
      }
    }
    closedir(fds);
  }
  closedir(proc);
  return holders;
}

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

double CpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
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

  struct Way {
    const char* label;
    std::function<void()> run;
  };
  const std::vector<Way> ways = {
      {"before (stat)", [&] { StatHolders(st.st_rdev); }},
      {"after (readlink)", [&] { kkm::serial::HoldersNamed(names, st.st_rdev, 1, 1); }},
      {"after, 2 threads", [&] { kkm::serial::HoldersNamed(names, st.st_rdev, 1, 2); }},
      {"listing only", [&] { DescriptorsOnTheMachine(); }},
      {"OpenPosixPort", [&] { kkm::serial::OpenPosixPort(path); }},
  };

  std::printf("rounds per size and way: %d (median shown); %s\n", rounds,
              geteuid() == 0 ? "as root: every process is seen" : "not root: only own processes are seen");
  // Per size: the descriptors seen, and per way the real and the CPU times.
  struct Row {
    std::size_t extra;
    std::size_t descriptors;
    std::vector<double> real, cpu;
  };
  std::vector<Row> rows;
  for (const std::size_t extra :
       {std::size_t{0}, std::size_t{1000}, std::size_t{10000}, std::size_t{50000}}) {
    const Holders holders(extra);
    std::vector<std::vector<double>> real(ways.size()), cpu(ways.size());
    for (int round = 0; round < rounds; ++round)
      for (std::size_t w = 0; w < ways.size(); ++w) {
        const auto start = Clock::now();
        const double cpuStart = CpuMs();
        ways[w].run();
        cpu[w].push_back(CpuMs() - cpuStart);
        real[w].push_back(Ms(Clock::now() - start));
      }
    Row row{extra, DescriptorsOnTheMachine(), {}, {}};
    for (std::size_t w = 0; w < ways.size(); ++w) {
      row.real.push_back(Median(real[w]));
      row.cpu.push_back(Median(cpu[w]));
    }
    rows.push_back(row);
  }
  for (const bool realTime : {true, false}) {
    std::printf("\n%s\n%-8s %-12s", realTime ? "real time" : "CPU time of this process", "extra",
                "descriptors");
    for (const Way& way : ways) std::printf(" %21s", way.label);
    std::printf("\n");
    for (const Row& row : rows) {
      std::printf("%-8zu %-12zu", row.extra, row.descriptors);
      for (std::size_t w = 0; w < ways.size(); ++w) {
        const double ms = realTime ? row.real[w] : row.cpu[w];
        const double base = realTime ? rows.front().real[w] : rows.front().cpu[w];
        if (row.extra == 0)
          std::printf(" %9.3f ms           ", ms);
        else
          std::printf(" %9.3f ms %5.2f us/fd", ms, (ms - base) * 1000.0 / static_cast<double>(row.extra));
      }
      std::printf("\n");
    }
  }
  std::printf("(medians; at each extra size the total, then the rise per extra descriptor)\n");
  close(master);
  return 0;
}
