#include "files/Failure.h"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace kkm::files {

const char* Failure::name() const {
  if (domain == nullptr) return "ok";
  if (code < 0 || static_cast<std::size_t>(code) >= domain->names.size())
    throw std::out_of_range("failure code without a name");
  return domain->names[static_cast<std::size_t>(code)];
}

std::string Failure::text() const { return domain != nullptr ? domain->text(*this) : "успешно"; }

bool Failure::operator==(const Failure& other) const {
  const bool sameCause = cause == other.cause || (cause && other.cause && *cause == *other.cause);
  return domain == other.domain && code == other.code && waitedMs == other.waitedMs &&
         expected == other.expected && got == other.got && attempts == other.attempts &&
         osError == other.osError && detail == other.detail && sameCause;
}

Failure TimedOut(Failure failure, std::int32_t waitedMs, std::int32_t expected, std::int32_t got) {
  failure.waitedMs = waitedMs;
  failure.expected = expected;
  failure.got = got;
  return failure;
}

Failure Unexpected(Failure failure, std::int32_t expected, std::int32_t got) {
  failure.expected = expected;
  failure.got = got;
  return failure;
}

Failure Persisting(Failure failure, std::int32_t got, std::int32_t waitedMs) {
  failure.got = got;
  failure.waitedMs = waitedMs;
  return failure;
}

Failure AtAddress(Failure failure, std::int32_t address) {
  failure.expected = address;
  return failure;
}

Failure Attempts(Failure failure, std::int32_t attempts) {
  failure.attempts = attempts;
  return failure;
}

Failure About(Failure failure, std::string detail, std::int32_t osError) {
  failure.detail = std::move(detail);
  failure.osError = osError;
  return failure;
}

Failure SystemError(Failure failure, std::int32_t osError) {
  failure.osError = osError;
  return failure;
}

Failure Wrap(Failure outer, const Failure& cause) {
  outer.cause = std::make_shared<const Failure>(cause);
  return outer;
}

std::string DescribeFailure(const Failure& failure) {
  return std::string(failure.name()) + ": " + failure.text();
}

std::string FormatText(const char* format, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

}  // namespace kkm::files
