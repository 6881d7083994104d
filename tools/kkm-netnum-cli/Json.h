#pragma once
// How kkm-netnum-cli writes JSON: one object on one line, keys in the order
// the object was built (the documented order), and a failure as
// {"code": "<name>", "text": "<sentence>"}, or null for none.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "serial/Failure.h"

namespace kkm::cli {

using json = nlohmann::ordered_json;

// The object's text on one line, without the line break. Text that is not
// UTF-8 (a device's or a file's name) is replaced, never a reason to lose it.
inline std::string JsonText(const json& object) {
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

inline json FailureJson(const serial::Failure& failure) {
  if (!failure.failed()) return nullptr;
  return {{"code", failure.name()}, {"text", failure.text()}};
}

// A process holding a port as the programs name it, "812 (minicom)": its id
// and command name, each absent when the text does not give it.
struct Holder {
  std::optional<std::int64_t> pid;
  std::optional<std::string> command;
};

inline Holder ParseHolder(std::string_view text) {
  Holder holder;
  std::size_t digits = 0;
  while (digits < text.size() && digits < 18 && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0) return holder;
  holder.pid = std::stoll(std::string(text.substr(0, digits)));
  const std::string_view rest = text.substr(digits);
  if (rest.size() > 3 && rest.substr(0, 2) == " (" && rest.back() == ')')
    holder.command = std::string(rest.substr(2, rest.size() - 3));
  return holder;
}

}  // namespace kkm::cli
