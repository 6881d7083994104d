#pragma once
// Millisecond tick counter: unsigned 32 bits, wrapping. Wait loops call
// letTimePass() between polls so that time moves on without burning a core
// (the real clock sleeps briefly; a virtual clock advances simulated time).

#include <cstdint>

namespace kkm::serial {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t tickMs() = 0;
  virtual void letTimePass() = 0;
};

// Milliseconds from `start` to `now`, correct across a wrap of the counter.
constexpr std::uint32_t ElapsedMs(std::uint32_t start, std::uint32_t now) { return now - start; }

}  // namespace kkm::serial
