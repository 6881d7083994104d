#include "tests/support/RigLateness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/pty/PtyServer.h"
#include "tests/support/SimChild.h"

namespace kkm::test {
namespace {

struct Tally {
  std::uint64_t handOvers = 0;
  std::uint64_t late = 0;
  double worstMs = 0;
};
Tally running;

class RigLatenessListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    running = {};
    sim::ResetProcessHandOverLateness();
  }
  void OnTestEnd(const ::testing::TestInfo& info) override {
    const sim::HandOverLateness here = sim::ProcessHandOverLateness();
    NoteRigLateness(here.handOvers, here.late, static_cast<double>(here.worst) / sim::kNsPerMs);
    if (running.handOvers == 0) return;
    std::printf("[ rig      ] %llu hand-overs, %llu late, worst %.3f ms late\n",
                static_cast<unsigned long long>(running.handOvers),
                static_cast<unsigned long long>(running.late), running.worstMs);
    if (!info.result()->Failed()) return;
    const std::string name = std::string(info.test_suite_name()) + "." + info.name();
    (running.late > 0 ? rigFailures_ : toolFailures_).push_back(name);
  }
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    if (rigFailures_.empty() || !toolFailures_.empty()) return;
    std::printf("\nThe rig ran late (hand-overs to the host more than %.1f ms late) in every failed test:\n",
                static_cast<double>(sim::kLateHandOverNs) / sim::kNsPerMs);
    for (const std::string& name : rigFailures_) std::printf("  %s\n", name.c_str());
    std::printf("These failures are the rig's, not the tool's.\n");
    std::fflush(stdout);
    std::_Exit(kRigLateExitCode);
  }

  std::vector<std::string> rigFailures_;
  std::vector<std::string> toolFailures_;
};

// Installed before main() runs, in every binary that starts simulators.
[[maybe_unused]] const bool installed = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new RigLatenessListener);
  SimChild::observeLateness(NoteRigLateness);
  return true;
}();

}  // namespace

void NoteRigLateness(std::uint64_t handOvers, std::uint64_t late, double worstMs) {
  running.handOvers += handOvers;
  running.late += late;
  running.worstMs = std::max(running.worstMs, worstMs);
}

}  // namespace kkm::test
