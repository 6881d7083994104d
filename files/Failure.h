#pragma once
// Why an operation failed, as a value that travels up with its result.
//
// Each layer names its own failure codes in its own enum (the files' here in
// files/, the line's in serial/, the register's in register/, the board's in
// kia/, the session's in service/) and describes them through one FailureDomain: a stable machine
// name per code ("no-echo", for programs and for grep) and a sentence in
// Russian with the details filled in. A Failure is a code of any layer plus
// the details a technician needs: how long was waited, which byte was
// expected and which came. A layer that knows more than the one below wraps
// the failure it got (Wrap): its own code and details, the lower failure
// kept as the cause.
//
// Operations return a Status: success, or the Failure that ended them. The
// trace, the standard-error line, the windows' box details and the JSON
// `reason` are all renderings of that one value.
//
// A layer's codes are tied to its domain the way an error enum is tied to
// its category: beside the enum, in the layer's own namespace, a function
// `const files::FailureDomain& FailureDomainOf(Code)` that argument-dependent
// lookup finds; the layers above use these names through their own
// namespaces.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>

namespace kkm::files {

struct Failure;

// Which failures of a link operation a port's own trouble explains: the
// trouble is then reported, the failure kept as its cause (see
// serial::OperationTrace).
enum class PortBlame : std::uint8_t {
  None,      // not the port's doing: refused before the port was touched, or no exchange's
  Vanished,  // a port that went away explains it
  Unheard,   // so does an adapter that dropped MARK/SPACE parity: bytes the other end never heard
};

// One layer's failure codes: a stable machine name per code ("no-echo", for
// programs and for grep), in the enum's order; the sentence for a failure of
// the layer, details filled in; and what of it a port's trouble explains
// (nullptr: nothing).
struct FailureDomain {
  std::span<const char* const> names;
  std::string (*text)(const Failure& failure);
  PortBlame (*portBlame)(const Failure& failure) = nullptr;
};

// One failure and its details; -1 marks a detail that does not apply. A
// default-constructed Failure is none; a code alone is a failure without
// details, and the factories below give one its details.
struct Failure {
  Failure() = default;
  template <typename Code>
  requires std::is_enum_v<Code> Failure(Code c) : domain(&FailureDomainOf(c)), code(static_cast<int>(c)) {}

  const FailureDomain* domain = nullptr;  // nullptr: no failure
  int code = 0;
  std::int32_t waitedMs = -1;                 // how long the operation waited
  std::int32_t expected = -1;                 // the byte (count, address, size limit) expected
  std::int32_t got = -1;                      // the byte (or count, version) received
  std::int32_t attempts = -1;                 // how many tries there were
  std::int32_t osError = 0;                   // the system's error
  std::string detail = {};                    // a named thing: the holder of a port in use, a file and why
  std::shared_ptr<const Failure> cause = {};  // the lower layer's failure this one wraps

  bool failed() const { return domain != nullptr; }
  template <typename Code>
  requires std::is_enum_v<Code>
  bool is(Code c) const { return domain == &FailureDomainOf(c) && code == static_cast<int>(c); }
  // The code's machine name; "ok" when there is no failure.
  const char* name() const;
  // The sentence a technician reads; "успешно" when there is no failure.
  std::string text() const;
  // Code, details and cause all agree.
  bool operator==(const Failure& other) const;
};

// The factories take a code (`failure`) and fill in its details.

// A wait of `waitedMs` that ended without `expected`; `got`: what of it came.
Failure TimedOut(Failure failure, std::int32_t waitedMs, std::int32_t expected = -1, std::int32_t got = -1);
// `got` came where `expected` was due.
Failure Unexpected(Failure failure, std::int32_t expected, std::int32_t got);
// `got` kept coming for `waitedMs`.
Failure Persisting(Failure failure, std::int32_t got, std::int32_t waitedMs);
// Concerning the address (or address byte) `address`.
Failure AtAddress(Failure failure, std::int32_t address);
// After `attempts` tries (the last one's failure, when kept, is the cause).
Failure Attempts(Failure failure, std::int32_t attempts);
// Concerning a named thing (a path, a holder, a port): `detail`; `osError`
// the system's error, when there is one.
Failure About(Failure failure, std::string detail, std::int32_t osError = 0);
// The system refused with `osError`.
Failure SystemError(Failure failure, std::int32_t osError);

// `outer`, with `cause` as the lower layer's failure it stands for.
Failure Wrap(Failure outer, const Failure& cause);

// "<name>: <text>", the form used on standard error and in the trace.
std::string DescribeFailure(const Failure& failure);

// Success, or the failure that ended an operation.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure failure) : failure_(std::move(failure)) {}  // NOLINT: `return failure;` ends an operation
  bool ok() const { return !failure_.failed(); }
  explicit operator bool() const { return ok(); }
  const Failure& failure() const { return failure_; }

 private:
  Failure failure_;
};

// printf into a std::string, for the domains' texts (which are short).
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kkm::files
