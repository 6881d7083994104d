#include "kia/KiaFailure.h"

#include <array>

namespace kkm::kia {
namespace {

constexpr std::array<const char*, 1> kNames{"bus-error"};

std::string KiaText(const serial::Failure& f) {
  return serial::FormatText("КИА сообщил об ошибке шины EEPROM (код %02X)", f.got);
}

// The board's bus error is an answer: a port gone away explains it, a lost parity does not.
serial::PortBlame KiaPortBlame(const serial::Failure&) { return serial::PortBlame::Vanished; }

constexpr serial::FailureDomain kDomain{kNames, KiaText, KiaPortBlame};

}  // namespace

const serial::FailureDomain& FailureDomainOf(KiaFailure) { return kDomain; }

}  // namespace kkm::kia
