#pragma once
// The network number's notation: the byte the register keeps (0xFF minus the
// number's packed BCD value: 45 is 0xBA), the two digits shown for it, and
// the number a technician types.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kkm::service {

// The network number byte of a number 1..99.
std::uint8_t NetworkNumberByte(int number);
// The network number shown for a network number byte: two uppercase hex digits
// of its complement ("05" for 0xFA, "FF" for 0x00).
std::string NetworkNumberText(std::uint8_t networkNumberByte);
// The number those two digits make, when both are decimal digits (0..99).
std::optional<int> NetworkNumberValue(std::uint8_t networkNumberByte);
// The number in `text` when it is 1..99 written in one to three decimal digits
// (leading zeros allowed).
std::optional<int> ParseNetworkNumber(std::string_view text);

}  // namespace kkm::service
