#pragma once
// Writing the user's small files as a careful daemon writes them: nothing
// can make the program block on them, write through a planted link, or leave
// a file half-written.
//   - A private folder is created with mode 0700 and used only while it is a
//     real folder (not a link), owned by the user, that the user may read,
//     write and enter (checked on the mode itself: root may write anywhere,
//     yet a folder made read-only says it is not to be written).
//   - A file is replaced whole: a temporary file beside it created
//     exclusively (never through a link; a stale one is removed first),
//     flushed to the disk, renamed over the old one, and the folder flushed.
//   - A file is appended to after an open that never blocks (a FIFO without a
//     reader is refused at once instead of waited on).
//   - An advisory lock on a file is held while its object lives.

#include <cstdint>
#include <cstdio>
#include <string>

#include "files/FileFailure.h"

namespace kkm::files {

// Creates `folder` (and the folders above it) when missing; a private one
// with mode 0700 and checked as above.
enum class FolderUse { Shared, Private };
Status PrepareFolder(const std::string& folder, FolderUse use);

// Replaces `path` by `text` in one step; the new file gets `mode` (POSIX).
Status ReplaceWhole(const std::string& path, const std::string& text, int mode);

// How a file to be written at its end is opened.
struct AppendRules {
  bool regularOnly = true;   // refuse a FIFO too (a folder always is)
  bool devicesToo = false;   // take a device as well (unless regularOnly)
  bool followLinks = false;  // a link at the path is refused unless followed
  bool truncate = false;     // emptied first (a fresh file each run)
  bool blocking = false;     // after the open, writes may wait (a FIFO's reader)
  int mode = 0600;
};
struct AppendFile {
  std::FILE* file = nullptr;  // owned by the caller (fclose) when not null
  Status status;
};
// Opens `path` for writing at its end, created when missing; never blocks.
AppendFile OpenToAppend(const std::string& path, const AppendRules& rules);

// Appends `line` and a line break to the regular file `path` (mode 0600).
Status AppendLine(const std::string& path, const std::string& line);

// Removes `path`; a file that is not there counts as removed.
Status RemoveFile(const std::string& path);

// Renames `from` over `to`.
Status RenameFile(const std::string& from, const std::string& to);

struct LockAttempt;

// An advisory lock on a file, held while the object lives (and by the
// system until the process ends, whatever way it ends). The file keeps the
// holder's text, so that another process can say who holds it; the file
// itself stays.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return handle_ != kNone; }

 private:
  friend LockAttempt TakeFileLock(const std::string&, const std::string&, int);
  explicit FileLock(std::intptr_t handle) : handle_(handle) {}
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // a descriptor, or a Windows handle
};

struct LockAttempt {
  FileLock lock;       // held when taken
  std::string holder;  // the holder's text, when another holds it and says so
  Status status;       // in-use when another holds it; why the file cannot be used otherwise
  bool taken() const { return lock.held(); }
};
// Takes the lock on the file `path` and writes `holderText` into it, trying
// again for up to `waitMs` while another holds it; never waits longer.
LockAttempt TakeFileLock(const std::string& path, const std::string& holderText, int waitMs);

}  // namespace kkm::files
