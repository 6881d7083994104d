#include "service/StateFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

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

namespace {

constexpr std::size_t kMaxHolderText = 256;
constexpr int kLockRetryMs = 10;

std::string HolderText(const std::string& program) {
#ifdef _WIN32
  return std::to_string(_getpid()) + " (" + program + ")";
#else
  return std::to_string(::getpid()) + " (" + program + ")";
#endif
}

// The holder a lock file names, as its holder wrote it.
std::string HolderOf(const std::string& name) {
  std::string text;
  std::string ignored;
  if (ReadStateFile(name, kMaxHolderText, text, ignored) != StateFileRead::Read) return {};
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

#ifdef _WIN32
// The byte locked lies beyond any holder text, so that the text stays readable.
constexpr DWORD kLockedOffset = 1u << 20;

bool TryLock(std::intptr_t handle) {
  OVERLAPPED at{};
  at.Offset = kLockedOffset;
  return LockFileEx(reinterpret_cast<HANDLE>(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                    1, 0, &at) != 0;
}

void Release(std::intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

std::intptr_t OpenLockFile(const std::string& path, std::string& reason) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = "cannot open " + path + ": error " + std::to_string(GetLastError());
    return -1;
  }
  return reinterpret_cast<std::intptr_t>(file);
}

void WriteHolder(std::intptr_t handle, const std::string& text) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle);
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
#else
bool TryLock(std::intptr_t handle) { return ::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) == 0; }

void Release(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

std::intptr_t OpenLockFile(const std::string& path, std::string& reason) {
  int error = 0;
  const int fd = OpenRegular(path, O_RDWR | O_CREAT, reason, error);
  return fd < 0 ? -1 : fd;
}

void WriteHolder(std::intptr_t handle, const std::string& text) {
  const int fd = static_cast<int>(handle);
  if (::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0) (void)WriteAll(fd, text);
}
#endif

}  // namespace

StateLock::~StateLock() {
  if (held()) Release(handle_);
}

StateLock::StateLock(StateLock&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}

StateLock& StateLock::operator=(StateLock&& other) noexcept {
  if (this != &other) {
    if (held()) Release(handle_);
    handle_ = std::exchange(other.handle_, kNone);
  }
  return *this;
}

LockAttempt TakeStateLock(const std::string& name, const std::string& program, int waitMs) {
  LockAttempt attempt;
  if (!PrepareStateFolder(attempt.reason)) return attempt;
  const std::intptr_t handle = OpenLockFile(StatePath(name), attempt.reason);
  if (handle == StateLock::kNone) return attempt;
  StateLock lock(handle);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (!TryLock(handle)) {
    if (std::chrono::steady_clock::now() >= until) {
      attempt.outcome = LockOutcome::Held;
      attempt.holder = HolderOf(name);
      return attempt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockRetryMs));
  }
  WriteHolder(handle, HolderText(program) + "\n");
  attempt.outcome = LockOutcome::Taken;
  attempt.lock = std::move(lock);
  return attempt;
}

}  // namespace kkm::service
