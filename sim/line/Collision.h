#pragma once
// Characters that overlap on the line collide. When two devices transmit at
// once, the receiver samples the wired-AND of both waveforms; the later
// transmitter lags by at least a bit, so its start bit lands on the earlier
// one's bit 0 and each of its bits on the earlier one's next bit. The host
// gets one garbled character in place of both, finished when the later one
// ends. Identical characters sent at the same moment garble as well (only
// 0x00 survives a collision with itself).

#include <algorithm>
#include <cstdint>

namespace kkm::sim {

constexpr std::uint8_t CollidedByte(std::uint8_t earlier, std::uint8_t later) {
  return static_cast<std::uint8_t>(earlier & (later << 1));
}
static_assert(CollidedByte(0xFE, 0xFE) == 0xFC);
static_assert(CollidedByte(0xFF, 0xFF) == 0xFE);

// Adds `item` (a character with byte, parity, start and end) to `queue`, kept
// ordered by end, merging it with every queued character it overlaps. Queued
// characters never overlap, so they are ordered by start too: the only one
// that can overlap is the first that ends after `item` starts, found by
// bisection (a long answer queues in linear time, not quadratic).
template <typename Queue, typename Item>
void QueueCharacter(Queue& queue, Item item) {
  // The usual case, a device sending after everything queued has ended:
  // nothing to merge, and its place is at the back.
  if (queue.empty() || queue.back().end <= item.start) {
    queue.push_back(item);
    return;
  }
  for (;;) {
    const auto overlap = std::upper_bound(queue.begin(), queue.end(), item.start,
                                          [](auto start, const Item& queued) { return start < queued.end; });
    if (overlap == queue.end() || overlap->start >= item.end) break;
    const Item queued = *overlap;
    queue.erase(overlap);
    const bool queuedFirst = queued.start <= item.start;
    const Item& earlier = queuedFirst ? queued : item;
    const Item& later = queuedFirst ? item : queued;
    item = Item{CollidedByte(earlier.byte, later.byte), earlier.parity, earlier.start,
                std::max(earlier.end, later.end)};
  }
  const auto at = std::upper_bound(queue.begin(), queue.end(), item.end,
                                   [](auto end, const Item& queued) { return end < queued.end; });
  queue.insert(at, item);
}

}  // namespace kkm::sim
