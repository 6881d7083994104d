#pragma once
// Reading a small settings or state file that must be an ordinary file:
// opened without ever blocking (a FIFO or a device in its place is refused,
// never waited on), checked to be a regular file, and read whole up to a
// size limit. The callers word the outcome for their readers.

#include <cstddef>
#include <string>

namespace kkm::serial {

enum class SmallFileRead {
  Absent,      // no file by that name
  Read,        // `text` holds the whole file
  NotRegular,  // a folder, a FIFO, a device...
  TooLarge,    // more than the limit
  Failed,      // it could not be opened or read: `error` says why (ELOOP: a link, when links are refused)
};

struct SmallFile {
  SmallFileRead status = SmallFileRead::Absent;
  std::string text;
  int error = 0;  // errno, for Failed
};

// Reads `path` when it is a regular file of at most `maxSize` bytes; a
// symbolic link at `path` is followed only when `followLinks`.
SmallFile ReadSmallFile(const std::string& path, std::size_t maxSize, bool followLinks);

}  // namespace kkm::serial
