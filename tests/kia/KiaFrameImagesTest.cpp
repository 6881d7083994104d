#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>

#include "kia/KiaFrameImages.h"

namespace kkm::kia {
namespace {

std::string ToHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

struct ImageCase {
  const char* name;
  std::span<const std::uint8_t> listing;
  const char* bytesBefore;
};

// The listings give exactly the bytes the images held as plain hex rows
// before: slots as 00, the EEPROM write with the routine's original count 40.
TEST(KiaFrameImages, ListingsKeepTheBytes) {
  // clang-format off
  const ImageCase cases[] = {
      {"memory write", kMemoryWriteImage,
       "0001758300758200750500E505F0C299F5993099FD22000000"},
      {"memory read", kMemoryReadImage,
       "0001758300758200E0C299F5993099FD22000000"},
      {"EEPROM read", kEepromReadImage,
       "0001D295D294309522309423C295C29475E0A2750708339295D294C294D507F6D295D29430950C759903227599012275"
       "990222C29475E000750708339295D294C294D507F6D295D294C29475E000750708339295D294C294D507F6D295D294C2"
       "94D295D294C295C29475E0A3750708339295D294C294D507F6D295D294C294C2997599113099FD750640D295750708D2"
       "94A29533C294D507F6D50614C299F599D295D294C294C295D294D2953099FD22C299F599C295D294C2943099FD80CB00"
       "0000"},
      {"EEPROM write, original", kEepromWriteOriginalImage,
       "0001D295D294309522309423C295C29475E0A6750708339295D294C294D507F6D295D29430950C759903227599012275"
       "990222C29475E000750708339295D294C294D507F6D295D294C29475E000750708339295D294C294D507F6D295D294C2"
       "94C2997599113099FD75064075E000750708339295D294C294D507F6D295D294C294D506E7C295D294D2950105C299F5"
       "993099FD22000000"},
  };
  // clang-format on
  for (const ImageCase& c : cases) EXPECT_EQ(ToHex(c.listing), c.bytesBefore) << c.name;
}

}  // namespace
}  // namespace kkm::kia
