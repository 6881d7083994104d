#include "service/StateFiles.h"

#include <cerrno>
#include <filesystem>
#include <utility>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "files/Folders.h"
#include "files/SmallFile.h"

namespace kkm::service {

namespace fs = std::filesystem;

std::string StateFolder() { return files::ProgramFolder(files::UserFolder::State); }

std::string StatePath(const std::string& name) {
  const std::string folder = StateFolder();
  return folder.empty() ? std::string() : (fs::path(folder) / name).string();
}

files::Status PrepareStateFolder() { return files::PrepareFolder(StateFolder(), files::FolderUse::Private); }

files::Status ReplaceStateFile(const std::string& name, const std::string& text) {
  if (files::Status prepared = PrepareStateFolder(); !prepared) return prepared;
  return files::ReplaceWhole(StatePath(name), text, 0600);
}

StateFile ReadStateFile(const std::string& name, std::size_t maxSize) {
  StateFile read;
  const std::string path = StatePath(name);
  if (path.empty()) return read;
  files::SmallFile file = files::ReadSmallFile(path, maxSize, files::Links::Refuse);
  // No folder (or a file in its place) holds no file.
  const files::Failure& failure = file.status.failure();
  if (!file.found || (failure.is(files::FileFailure::CannotOpen) && failure.osError == ENOTDIR)) return read;
  read.found = true;
  read.text = std::move(file.text);
  read.status = std::move(file.status);
  return read;
}

files::Status AppendStateFile(const std::string& name, const std::string& line) {
  if (files::Status prepared = PrepareStateFolder(); !prepared) return prepared;
  return files::AppendLine(StatePath(name), line);
}

files::Status RemoveStateFile(const std::string& name) {
  const std::string path = StatePath(name);
  if (path.empty()) return {};
  return files::RemoveFile(path);
}

std::size_t StateFileSize(const std::string& name) {
  const std::string path = StatePath(name);
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (error || !fs::is_regular_file(status)) return 0;
  const auto size = fs::file_size(path, error);
  return error ? 0 : static_cast<std::size_t>(size);
}

files::Status RenameStateFile(const std::string& from, const std::string& to) {
  return files::RenameFile(StatePath(from), StatePath(to));
}

std::vector<std::string> StateFileNames(const std::string& prefix, const std::string& suffix) {
  std::vector<std::string> names;
  const std::string folder = StateFolder();
  std::error_code error;
  if (folder.empty() || !fs::is_directory(fs::symlink_status(folder, error))) return names;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() >= prefix.size() + suffix.size() && name.rfind(prefix, 0) == 0 &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(name);
  }
  return names;
}

LockAttempt TakeStateLock(const std::string& name, const std::string& program, int waitMs) {
  LockAttempt attempt;
  attempt.status = PrepareStateFolder();
  if (!attempt.status) return attempt;
#ifdef _WIN32
  const std::string holder = std::to_string(_getpid()) + " (" + program + ")\n";
#else
  const std::string holder = std::to_string(::getpid()) + " (" + program + ")\n";
#endif
  files::LockAttempt taken = files::TakeFileLock(StatePath(name), holder, waitMs);
  if (taken.taken()) {
    attempt.outcome = LockOutcome::Taken;
    attempt.lock = std::move(taken.lock);
  } else if (taken.status.failure().is(files::FileFailure::InUse)) {
    attempt.outcome = LockOutcome::Held;
    attempt.holder = std::move(taken.holder);
  } else {
    attempt.status = std::move(taken.status);
  }
  return attempt;
}

}  // namespace kkm::service
