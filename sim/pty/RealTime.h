#pragma once
// What keeps the simulator's hand-overs on time while the machine is busy:
// real-time scheduling for the thread that serves the line, and its memory
// locked so that no page fault waits on the disk. Either may be refused (an
// unprivileged user, a container); the simulator then runs as before, and
// says so.

#include <string>
#include <vector>

namespace kkm::sim {

struct RealTimeGrant {
  bool scheduling = false;         // SCHED_FIFO or SCHED_RR in force
  bool memoryLocked = false;       // pages locked as they are touched
  std::vector<std::string> notes;  // one line each: what was granted or refused, and why
};

// Asks for SCHED_FIFO at a low real-time priority for the calling thread
// (kept when it already runs under a real-time policy) and, with
// `lockMemory`, locks the process's memory, present and future, as it is
// touched.
RealTimeGrant RequestRealTime(bool lockMemory);

}  // namespace kkm::sim
