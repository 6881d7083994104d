// startup_probe: how long a program takes from its start to its first window
// on the screen, and its peak memory by then.
//
//   startup_probe [--settle-ms N] [--timeout-ms N] -- PROGRAM [ARGS...]
//
// Watches the X server of $DISPLAY for top-level windows being mapped (it
// selects SubstructureNotify on the root window; without a window manager, as
// under Xvfb, top-level windows are the root's children), starts PROGRAM, and
// takes the moment the first window whose _NET_WM_PID is PROGRAM's process
// id is mapped: that is when the toolkit has shown it (its first paint follows
// in the same turn of the event loop). The time counts from just before the
// process is spawned, so it includes exec and dynamic linking. After
// --settle-ms more (default 1000) it reads the peak resident set (VmHWM) from
// /proc, stops PROGRAM with SIGTERM and prints one line:
//   shown_ms=<ms> peak_rss_kib=<KiB>
// Exit status 0 on success, 1 when no window came within --timeout-ms
// (default 30000) or the program ended first, 2 on a usage error.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

double NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

// The process id a window's owner put into _NET_WM_PID, if any.
std::optional<pid_t> WindowPid(Display* display, Window window) {
  const Atom netWmPid = XInternAtom(display, "_NET_WM_PID", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::optional<pid_t> pid;
  if (XGetWindowProperty(display, window, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                         &data) == Success &&
      data != nullptr && format == 32 && items == 1)
    pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
  if (data != nullptr) XFree(data);
  return pid;
}

// The peak resident set of `pid` in KiB (VmHWM), or -1.
long PeakRssKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

bool ChildEnded(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

// Waits for the first window of `pid` to be mapped; its time, or nothing.
std::optional<double> WaitForWindow(Display* display, pid_t pid, double deadlineMs) {
  pollfd p{ConnectionNumber(display), POLLIN, 0};
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type != MapNotify) continue;
      const double at = NowMs();
      if (WindowPid(display, event.xmap.window) == pid) return at;
    }
    const double left = deadlineMs - NowMs();
    if (left <= 0 || ChildEnded(pid)) return std::nullopt;
    // Short slices, so that a program that ends early is noticed.
    poll(&p, 1, static_cast<int>(std::min(left, 50.0)) + 1);
  }
}

int Usage() {
  std::fprintf(stderr, "usage: startup_probe [--settle-ms N] [--timeout-ms N] -- PROGRAM [ARGS...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // 1. Options and the program to start.
  int settleMs = 1000;
  int timeoutMs = 30000;
  int first = 1;
  for (; first < argc && std::strcmp(argv[first], "--") != 0; ++first) {
    if (first + 1 >= argc) return Usage();
    if (std::strcmp(argv[first], "--settle-ms") == 0)
      settleMs = std::atoi(argv[++first]);
    else if (std::strcmp(argv[first], "--timeout-ms") == 0)
      timeoutMs = std::atoi(argv[++first]);
    else
      return Usage();
  }
  if (first + 1 >= argc) return Usage();
  char** program = argv + first + 1;

  // 2. Watch the root window's children being mapped, before the start.
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "startup_probe: cannot open the display\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);

  // 3. Start the program and wait for its first window.
  const double start = NowMs();
  pid_t pid = -1;
  if (posix_spawnp(&pid, program[0], nullptr, nullptr, program, environ) != 0) {
    std::fprintf(stderr, "startup_probe: cannot start %s\n", program[0]);
    return 1;
  }
  const std::optional<double> shown = WaitForWindow(display, pid, start + timeoutMs);

  // 4. Let it settle, read its peak memory, stop it.
  long peak = -1;
  if (shown) {
    usleep(static_cast<useconds_t>(settleMs) * 1000);
    peak = PeakRssKib(pid);
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  XCloseDisplay(display);
  if (!shown) {
    std::fprintf(stderr, "startup_probe: no window of %s within %d ms\n", program[0], timeoutMs);
    return 1;
  }
  std::printf("shown_ms=%.1f peak_rss_kib=%ld\n", *shown - start, peak);
  return 0;
}
