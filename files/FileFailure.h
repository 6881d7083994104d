#pragma once
// The careful files' own failures: why a small file of the user's could not
// be read, replaced or appended to, or a folder of the user's not used.
// `detail` is the path concerned; `osError` the system's error, when there
// is one; `expected` a size limit.

#include <cstdint>

#include "files/Failure.h"

namespace kkm::files {

enum class FileFailure : std::uint8_t {
  NoFolder,      // the environment names no folder for the user's files
  Link,          // a symbolic link stands where a file must be
  NotRegular,    // a folder, a FIFO, a device... where a file must be
  NotAFolder,    // something other than a folder where the folder must be
  OtherOwner,    // the folder belongs to another user
  ReadOnly,      // the folder's mode forbids writing in it
  TooLarge,      // larger than `expected` bytes
  InUse,         // another process holds the file's lock
  NoReader,      // a FIFO that nobody reads
  CannotCreate,  // the system refused (osError): creating a file or folder
  CannotOpen,
  CannotRead,
  CannotWrite,
  CannotRename,
  CannotRemove,
};
inline constexpr int kFileFailureCount = static_cast<int>(FileFailure::CannotRemove) + 1;

// The careful files' failure domain, found for a FileFailure by argument-dependent lookup.
const FailureDomain& FailureDomainOf(FileFailure);

// A failure of `code` for `path`, with the system's error when there is one.
Failure FileError(FileFailure code, const std::string& path, int osError = 0);
// The file at `path` is larger than `limit` bytes.
Failure FileTooLarge(const std::string& path, std::int32_t limit);

}  // namespace kkm::files
