#include "kia/KiaFailure.h"

namespace kkm::kia {
namespace {

constexpr std::array<const char*, 1> kNames{"bus-error"};

std::string KiaText(const serial::Failure& f) {
  return serial::FormatText("КИА сообщил об ошибке шины EEPROM (код %02X)", f.got);
}

}  // namespace
}  // namespace kkm::kia

namespace kkm::files {
const FailureDomain& FailureCodes<kia::KiaFailure>::Domain() {
  static const NamedFailures<1> domain(kia::kNames, kia::KiaText);
  return domain;
}
}  // namespace kkm::files
