#pragma once
// Reading a small settings or state file that must be an ordinary file:
// opened without ever blocking (a FIFO or a device in its place is refused,
// never waited on), checked to be a regular file, and read whole up to a
// size limit.

#include <cstddef>
#include <string>

#include "files/FileFailure.h"

namespace kkm::files {

enum class Links { Follow, Refuse };

struct SmallFile {
  bool found = false;  // false: no file by that name (and `status` ok)
  std::string text;    // the whole file, when found and read
  Status status;       // link, not-regular, too-large, cannot-open, cannot-read
};

// Reads `path` when it is a regular file of at most `maxSize` bytes; a
// symbolic link at `path` is followed only with Links::Follow.
SmallFile ReadSmallFile(const std::string& path, std::size_t maxSize, Links links);

}  // namespace kkm::files
