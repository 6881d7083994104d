#pragma once
// Millisecond tick counter: unsigned 32 bits, wrapping. Wait loops call
// letTimePass() or letTimePassUntil() between polls so that time moves on
// without burning a core (the real clock sleeps; a virtual clock advances
// simulated time).

#include <cstdint>

namespace kkm::serial {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t tickMs() = 0;
  // Lets a little time pass: up to the next tick at most.
  virtual void letTimePass() = 0;
  // Lets time pass towards the moment the counter reads `tick`, returning no
  // later than then (a wait whose end is known sleeps once; it may return
  // earlier, so callers test their condition again). The default lets one
  // step pass, as letTimePass() does.
  virtual void letTimePassUntil(std::uint32_t tick) {
    static_cast<void>(tick);
    letTimePass();
  }
};

// Milliseconds from `start` to `now`, correct across a wrap of the counter.
constexpr std::uint32_t ElapsedMs(std::uint32_t start, std::uint32_t now) { return now - start; }

}  // namespace kkm::serial
