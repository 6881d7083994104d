#include "sim/pty/RealTime.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

namespace kkm::sim {

namespace {
// Low among real-time priorities: above every ordinary process, below the
// kernel's own real-time threads.
constexpr int kServePriority = 10;
}  // namespace

RealTimeGrant RequestRealTime(bool lockMemory) {
  RealTimeGrant grant;
  int policy = SCHED_OTHER;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &policy, &param);
  if (policy == SCHED_FIFO || policy == SCHED_RR) {
    grant.scheduling = true;
  } else {
    param.sched_priority = kServePriority;
    const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    grant.scheduling = error == 0;
    if (!grant.scheduling)
      grant.notes.push_back(std::string("real-time scheduling refused (") + std::strerror(error) +
                            "): hand-overs may run late while the machine is busy");
  }
  if (grant.scheduling) {
    pthread_getschedparam(pthread_self(), &policy, &param);
    grant.notes.push_back(std::string("real-time scheduling: ") +
                          (policy == SCHED_FIFO ? "SCHED_FIFO" : "SCHED_RR") + " priority " +
                          std::to_string(param.sched_priority));
  }
  if (!lockMemory) return grant;
  // On fault: a sanitizer's huge reserved shadow is locked only where used.
  grant.memoryLocked = mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0;
  grant.notes.push_back(grant.memoryLocked ? std::string("memory locked")
                                           : std::string("memory not locked (") + std::strerror(errno) + ")");
  return grant;
}

}  // namespace kkm::sim
