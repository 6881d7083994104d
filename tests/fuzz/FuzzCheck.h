#pragma once
// Invariant checks of the fuzz targets: a violated one prints what failed and
// where, then traps, so that libFuzzer keeps the input as a crash and the
// corpus runner fails.

#include <cstdio>

namespace kkm::fuzz {

[[noreturn]] inline void Violation(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant violated: %s\n", file, line, what);
  std::fflush(stderr);
  __builtin_trap();
}

}  // namespace kkm::fuzz

#define KKM_FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::kkm::fuzz::Violation(#condition, __FILE__, __LINE__))
