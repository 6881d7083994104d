#pragma once
// How late the rig handed bytes to the host in the real-time tests. Every
// simulator reports it: the servers of this process directly, kkm-sim
// children through SimChild. Each test that used the rig prints one line with
// its hand-overs, the late ones and the worst; a test that fails while the rig
// ran late (more than sim::kLateHandOverNs) is the rig's failure, not the
// tool's. A binary whose every failure is the rig's says so and ends with
// kRigLateExitCode, which CTest reports as a skip, not as a fault of the tool.

#include <cstdint>

namespace kkm::test {

inline constexpr int kRigLateExitCode = 77;

// Adds one simulator's figures to the running test's.
void NoteRigLateness(std::uint64_t handOvers, std::uint64_t late, double worstMs);

}  // namespace kkm::test
