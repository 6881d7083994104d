#pragma once
// How the programs write JSON: one object on one line, and a failure as
// {"code": "<name>", "text": "<sentence>"}, or null for none.

#include <nlohmann/json.hpp>
#include <string>

#include "serial/Failure.h"

namespace kkm::service {

// The object's text on one line, without the line break. Text that is not
// UTF-8 (a device's or a file's name) is replaced, never a reason to lose it.
template <typename Json>
std::string JsonText(const Json& object) {
  return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

inline nlohmann::ordered_json FailureJson(const serial::Failure& failure) {
  if (!failure.failed()) return nullptr;
  return {{"code", failure.name()}, {"text", failure.text()}};
}

}  // namespace kkm::service
