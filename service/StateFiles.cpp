#include "service/StateFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "serial/SmallFile.h"

namespace kkm::service {

namespace {

namespace fs = std::filesystem;

std::string SystemError(const std::string& what, const std::string& path, int error) {
  return what + " " + path + ": " + std::strerror(error);
}

bool NoFolder(std::string& reason) {
  reason = "no state folder (neither XDG_STATE_HOME nor HOME is set)";
  return false;
}

#ifndef _WIN32

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; false when closing reports an error (a write that failed late).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The folder's entries reach the disk too.
void FlushFolder(const std::string& folder) {
  const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

// A file of the folder opened without following a link and without blocking;
// refused unless it is a regular file.
int OpenRegular(const std::string& path, int flags, std::string& reason, int& error) {
  const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  error = fd < 0 ? errno : 0;
  if (fd < 0) {
    // O_NOFOLLOW gives ELOOP for a link; say what it is.
    reason = error == ELOOP ? path + " is a symbolic link" : SystemError("cannot open", path, error);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    reason = path + " is no regular file";
    error = EINVAL;
    return -1;
  }
  return fd;
}

#endif

}  // namespace

std::string StateFolder() {
#ifdef _WIN32
  const char* base = std::getenv("LOCALAPPDATA");
  if (base == nullptr || *base == '\0') return {};
  return (fs::path(base) / "kkm-netnum").string();
#else
  // Relative paths in XDG_STATE_HOME are ignored, as the base directory rules ask.
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
    return (fs::path(state) / "kkm-netnum").string();
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  return (fs::path(home) / ".local" / "state" / "kkm-netnum").string();
#endif
}

std::string StatePath(const std::string& name) {
  const std::string folder = StateFolder();
  return folder.empty() ? std::string() : (fs::path(folder) / name).string();
}

bool PrepareStateFolder(std::string& reason) {
  const std::string folder = StateFolder();
  if (folder.empty()) return NoFolder(reason);
  std::error_code error;
  // The folders above it as the system makes them; the state folder itself private.
  fs::create_directories(fs::path(folder).parent_path(), error);
#ifdef _WIN32
  fs::create_directory(folder, error);
  if (error || !fs::is_directory(folder)) {
    reason = "cannot create " + folder + (error ? ": " + error.message() : std::string());
    return false;
  }
  return true;
#else
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    reason = SystemError("cannot create", folder, errno);
    return false;
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    reason = SystemError("cannot examine", folder, errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    reason = folder + " is no folder";
  } else if (st.st_uid != ::geteuid()) {
    reason = folder + " belongs to another user";
  } else if ((st.st_mode & S_IRWXU) != S_IRWXU) {
    // Checked on the mode itself: root may write anywhere, yet a folder
    // made read-only says it is not to be written.
    reason = folder + " is read-only";
  } else {
    return true;
  }
  return false;
#endif
}

bool ReplaceStateFile(const std::string& name, const std::string& text, std::string& reason) {
  if (!PrepareStateFolder(reason)) return false;
  const std::string folder = StateFolder();
  const std::string path = StatePath(name);
  const std::string temporary = path + ".tmp";
#ifdef _WIN32
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    reason = SystemError("cannot create", temporary, errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0 &&
            _commit(_fileno(file)) == 0;
  ok = std::fclose(file) == 0 && ok;
  std::error_code error;
  if (ok) fs::rename(temporary, path, error);
  if (!ok || error) {
    reason = "cannot write " + path;
    fs::remove(temporary, error);
    return false;
  }
  return true;
#else
  // A stale temporary file (or anything planted at its name) goes first; the
  // new one is created exclusively, so nothing can stand there in between.
  if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) {
    reason = SystemError("cannot remove", temporary, errno);
    return false;
  }
  Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    reason = SystemError("cannot create", temporary, errno);
    return false;
  }
  const bool written = WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  const int error = errno;
  if (!fd.close() || !written) {
    reason = SystemError("cannot write", temporary, error);
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    reason = SystemError("cannot rename " + temporary + " to", path, errno);
    ::unlink(temporary.c_str());
    return false;
  }
  FlushFolder(folder);
  return true;
#endif
}

StateFileRead ReadStateFile(const std::string& name, std::size_t maxSize, std::string& text,
                            std::string& reason) {
  const std::string path = StatePath(name);
  if (path.empty()) return StateFileRead::Absent;
  serial::SmallFile file = serial::ReadSmallFile(path, maxSize, false);
  switch (file.status) {
    case serial::SmallFileRead::Absent:
      return StateFileRead::Absent;
    case serial::SmallFileRead::Read:
      text = std::move(file.text);
      return StateFileRead::Read;
    case serial::SmallFileRead::NotRegular:
      reason = path + " is no regular file";
      return StateFileRead::Refused;
    case serial::SmallFileRead::TooLarge:
      reason = path + " is larger than " + std::to_string(maxSize) + " bytes";
      return StateFileRead::Refused;
    case serial::SmallFileRead::Failed:
      // No folder (or a file in its place) holds no file; O_NOFOLLOW gives ELOOP for a link.
      if (file.error == ENOTDIR) return StateFileRead::Absent;
      reason =
          file.error == ELOOP ? path + " is a symbolic link" : SystemError("cannot read", path, file.error);
      return StateFileRead::Refused;
  }
  return StateFileRead::Refused;
}

bool AppendStateFile(const std::string& name, const std::string& line, std::string& reason) {
  if (!PrepareStateFolder(reason)) return false;
  const std::string path = StatePath(name);
#ifdef _WIN32
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    reason = SystemError("cannot open", path, errno);
    return false;
  }
  const bool ok = std::fprintf(file, "%s\n", line.c_str()) > 0;
  if (std::fclose(file) != 0 || !ok) {
    reason = "cannot write " + path;
    return false;
  }
  return true;
#else
  int error = 0;
  Descriptor fd(OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT, reason, error));
  if (fd.get() < 0) return false;
  const bool written = WriteAll(fd.get(), line + '\n');
  const int writeError = errno;
  if (!fd.close() || !written) {
    reason = SystemError("cannot write", path, writeError);
    return false;
  }
  return true;
#endif
}

bool RemoveStateFile(const std::string& name, std::string& reason) {
  const std::string path = StatePath(name);
  if (path.empty()) return true;
  std::error_code error;
  fs::remove(path, error);
  if (error) {
    reason = "cannot remove " + path + ": " + error.message();
    return false;
  }
#ifndef _WIN32
  FlushFolder(StateFolder());
#endif
  return true;
}

std::size_t StateFileSize(const std::string& name) {
  const std::string path = StatePath(name);
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (error || !fs::is_regular_file(status)) return 0;
  const auto size = fs::file_size(path, error);
  return error ? 0 : static_cast<std::size_t>(size);
}

bool RenameStateFile(const std::string& from, const std::string& to, std::string& reason) {
  std::error_code error;
  fs::rename(StatePath(from), StatePath(to), error);
  if (error) reason = "cannot rename " + StatePath(from) + ": " + error.message();
  return !error;
}

}  // namespace kkm::service
