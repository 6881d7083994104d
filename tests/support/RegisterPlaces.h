#pragma once
// The four places of the network number in a simulated register, as one
// value: data memory 0x1140 (the working copy) and 0x020F (the byte it answers
// to), non-volatile 0x073E (the number) and 0x0740 (the checksum).

#include <cstdint>
#include <ostream>

#include "sim/cashreg/CashRegister.h"

namespace kkm::test {

struct Places {
  std::uint8_t working, lineAddress, stored, checksum;
  bool operator==(const Places&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Places& p) {
  return os << std::hex << "{1140=" << int(p.working) << " 020F=" << int(p.lineAddress)
            << " 073E=" << int(p.stored) << " 0740=" << int(p.checksum) << "}";
}

inline Places PlacesOf(const sim::CashRegister& r) {
  return {r.dataMemory()[sim::kWorkingNumberCell], r.dataMemory()[sim::kLineAddressCell],
          r.nonVolatile()[sim::kStoredNumberCell], r.nonVolatile()[sim::kStoredChecksumCell]};
}

}  // namespace kkm::test
