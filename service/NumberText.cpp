#include "service/NumberText.h"

#include <cstdio>

namespace kkm::service {

namespace {
constexpr std::size_t kMaxNumberLength = 3;
}  // namespace

std::uint8_t NetworkNumberByte(int number) {
  const int bcd = ((number / 10) << 4) | (number % 10);
  return static_cast<std::uint8_t>(0xFF - bcd);
}

std::string NetworkNumberText(std::uint8_t networkNumberByte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", 0xFF - networkNumberByte);
  return text;
}

std::optional<int> NetworkNumberValue(std::uint8_t networkNumberByte) {
  const int bcd = 0xFF - networkNumberByte;
  if ((bcd >> 4) > 9 || (bcd & 0x0F) > 9) return std::nullopt;
  return (bcd >> 4) * 10 + (bcd & 0x0F);
}

std::optional<int> ParseNetworkNumber(std::string_view text) {
  if (text.empty() || text.size() > kMaxNumberLength) return std::nullopt;
  int number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number < 1 || number > 99) return std::nullopt;
  return number;
}

}  // namespace kkm::service
