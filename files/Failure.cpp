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
         expected == other.expected && got == other.got && osError == other.osError &&
         detail == other.detail && sameCause;
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
