#pragma once
// The per-user state folder and its files, opened as a careful daemon opens
// them: nothing there can be made to block the tool, to write through a
// planted link, or to feed it a huge or special file.
//
// The folder is $XDG_STATE_HOME/kkm-netnum, else ~/.local/state/kkm-netnum
// (%LOCALAPPDATA%\kkm-netnum on Windows). It is created with mode 0700 and
// used only while it is a real folder (not a link), owned by the user, that
// the user may read, write and enter. Files are
//   - replaced whole: a temporary file created exclusively (mode 0600, never
//     through a link; a stale one is removed first), flushed to the disk,
//     renamed over the old one, and the folder flushed;
//   - read only when they are regular files of a bounded size, opened without
//     following links and without blocking (a FIFO is refused, not waited on);
//   - appended to (one line at a time) under the same rules.
// The careful opening, replacing and appending are files/CarefulFile.h's;
// every failure is theirs, naming the path.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/CarefulFile.h"

namespace kkm::service {

// The state folder; empty when the environment names none.
std::string StateFolder();

// Creates the state folder when missing and checks that it can hold files.
files::Status PrepareStateFolder();

// `name` in the state folder replaced by `text`; the folder is prepared first.
files::Status ReplaceStateFile(const std::string& name, const std::string& text);

// A state file read: not found (status ok), its text, or why it was refused
// (a link, a FIFO, a folder, too large, unreadable).
struct StateFile {
  bool found = false;
  std::string text;
  files::Status status;
};
// Reads `name` from the state folder when it is a regular file of at most `maxSize` bytes.
StateFile ReadStateFile(const std::string& name, std::size_t maxSize);

// Appends `line` and a line break to `name`, creating it (mode 0600).
files::Status AppendStateFile(const std::string& name, const std::string& line);

// Removes `name`; a file that is not there counts as removed.
files::Status RemoveStateFile(const std::string& name);

// The size of `name`, 0 when it is absent or no regular file.
std::size_t StateFileSize(const std::string& name);

// Renames `from` over `to` in the state folder.
files::Status RenameStateFile(const std::string& from, const std::string& to);

// The path of `name` in the state folder (empty when there is no folder).
std::string StatePath(const std::string& name);

// The names of the state folder's files that start with `prefix` and end with
// `suffix`, in no particular order (none when there is no folder).
std::vector<std::string> StateFileNames(const std::string& prefix, const std::string& suffix);

// An advisory lock on a file of the state folder (files/CarefulFile.h).
using StateLock = files::FileLock;

enum class LockOutcome {
  Taken,
  Held,      // another process (or another lock of this one) holds it: `holder` says which
  Unusable,  // the folder or the file cannot be used: `status` says why
};
struct LockAttempt {
  LockOutcome outcome = LockOutcome::Unusable;
  StateLock lock;        // held when Taken
  std::string holder;    // "<pid> (<program>)" when Held and the holder is known
  files::Status status;  // when Unusable
};
// Takes the lock on `name` for `program`, trying again for up to `waitMs`
// while another holds it; never waits longer.
LockAttempt TakeStateLock(const std::string& name, const std::string& program, int waitMs);

}  // namespace kkm::service
