#pragma once
// A failure as the programs' JSON gives it: {"code": "<name>", "text":
// "<sentence>"}, or null for none.

#include <nlohmann/json.hpp>

#include "serial/Failure.h"

namespace kkm::service {

inline nlohmann::ordered_json FailureJson(const serial::Failure& failure) {
  if (!failure.failed()) return nullptr;
  return {{"code", failure.name()}, {"text", failure.text()}};
}

}  // namespace kkm::service
