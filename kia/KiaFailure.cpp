#include "kia/KiaFailure.h"

namespace kkm::kia {
namespace {

class KiaDomain final : public serial::FailureDomain {
 public:
  const char* name(int) const override { return "bus-error"; }
  std::string text(const serial::Failure& f) const override {
    return serial::FormatText("КИА сообщил об ошибке шины EEPROM (код %02X)", f.got);
  }
};

}  // namespace
}  // namespace kkm::kia

namespace kkm::serial {
const FailureDomain& FailureCodes<kia::KiaFailure>::Domain() {
  static const kia::KiaDomain domain;
  return domain;
}
}  // namespace kkm::serial
