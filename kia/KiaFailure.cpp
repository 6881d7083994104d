#include "kia/KiaFailure.h"

#include <array>

namespace kkm::kia {
namespace {

constexpr std::array<const char*, 1> kNames{"bus-error"};

std::string KiaText(const serial::Failure& f) {
  return serial::FormatText("КИА сообщил об ошибке шины EEPROM (код %02X)", f.got);
}

constexpr serial::FailureDomain kDomain{kNames, KiaText};

}  // namespace

const serial::FailureDomain& FailureDomainOf(KiaFailure) { return kDomain; }

}  // namespace kkm::kia
