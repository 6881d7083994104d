#include "files/CarefulFile.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>

#include "files/SmallFile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kkm::files {

namespace {

namespace fs = std::filesystem;

// The errno-like number of a std::filesystem error.
int ErrorNumber(const std::error_code& error) { return error.default_error_condition().value(); }

#ifndef _WIN32

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
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// A file opened without blocking; refused when `regularOnly` and it is no
// regular file, and always when it is a folder (or a device, unless asked).
int OpenWithoutBlocking(const std::string& path, int flags, const AppendRules& rules, Failure& failure) {
  const int fd =
      ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (rules.followLinks ? 0 : O_NOFOLLOW),
             static_cast<mode_t>(rules.mode));
  if (fd < 0) {
    const int error = errno;
    failure = error == ELOOP && !rules.followLinks ? FileError(FileFailure::Link, path)
              : error == ENXIO                     ? FileError(FileFailure::NoReader, path)
                                                   : FileError(FileFailure::CannotOpen, path, error);
    return -1;
  }
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  const bool special =
      S_ISFIFO(st.st_mode) || (rules.devicesToo && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)));
  if (!known || !(S_ISREG(st.st_mode) || (!rules.regularOnly && special))) {
    ::close(fd);
    failure = FileError(FileFailure::NotRegular, path);
    return -1;
  }
  return fd;
}

#endif

}  // namespace

Status PrepareFolder(const std::string& folder, FolderUse use) {
  if (folder.empty()) return FileError(FileFailure::NoFolder, {});
  std::error_code error;
  if (use == FolderUse::Shared) {
    fs::create_directories(folder, error);
    if (error) return FileError(FileFailure::CannotCreate, folder, ErrorNumber(error));
    return {};
  }
  // The folders above it as the system makes them; the folder itself private.
  fs::create_directories(fs::path(folder).parent_path(), error);
#ifdef _WIN32
  fs::create_directory(folder, error);
  if (error) return FileError(FileFailure::CannotCreate, folder, ErrorNumber(error));
  if (!fs::is_directory(folder)) return FileError(FileFailure::NotAFolder, folder);
  return {};
#else
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return FileError(FileFailure::CannotCreate, folder, errno);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return FileError(FileFailure::CannotOpen, folder, errno);
  if (!S_ISDIR(st.st_mode)) return FileError(FileFailure::NotAFolder, folder);
  if (st.st_uid != ::geteuid()) return FileError(FileFailure::OtherOwner, folder);
  if ((st.st_mode & S_IRWXU) != S_IRWXU) return FileError(FileFailure::ReadOnly, folder);
  return {};
#endif
}

Status ReplaceWhole(const std::string& path, const std::string& text, int mode) {
  const std::string temporary = path + ".tmp";
#ifdef _WIN32
  static_cast<void>(mode);
  std::error_code error;
  fs::remove(temporary, error);
  const int fd = ::_open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return FileError(FileFailure::CannotCreate, temporary, errno);
  const bool written =
      ::_write(fd, text.data(), static_cast<unsigned>(text.size())) == static_cast<int>(text.size()) &&
      ::_commit(fd) == 0;
  const int writeError = errno;
  if (::_close(fd) != 0 || !written) {
    fs::remove(temporary, error);
    return FileError(FileFailure::CannotWrite, temporary, writeError);
  }
  fs::rename(temporary, path, error);
  if (error) {
    const int renameError = ErrorNumber(error);
    fs::remove(temporary, error);
    return FileError(FileFailure::CannotRename, temporary, renameError);
  }
  return {};
#else
  // A stale temporary file (or anything planted at its name) goes first; the
  // new one is created exclusively, so nothing can stand there in between.
  if (::unlink(temporary.c_str()) != 0 && errno != ENOENT)
    return FileError(FileFailure::CannotRemove, temporary, errno);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(mode));
  if (fd < 0) return FileError(FileFailure::CannotCreate, temporary, errno);
  const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  const int writeError = errno;
  if (::close(fd) != 0 || !written) {
    ::unlink(temporary.c_str());
    return FileError(FileFailure::CannotWrite, temporary, writeError);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int renameError = errno;
    ::unlink(temporary.c_str());
    return FileError(FileFailure::CannotRename, temporary, renameError);
  }
  FlushFolder(fs::path(path).parent_path().string());
  return {};
#endif
}

AppendFile OpenToAppend(const std::string& path, const AppendRules& rules) {
  AppendFile opened;
#ifdef _WIN32
  // State files are written as bytes; a trace as text, as the system writes it.
  const char* how = rules.regularOnly ? (rules.truncate ? "wb" : "ab") : (rules.truncate ? "w" : "a");
  opened.file = std::fopen(path.c_str(), how);
  if (opened.file == nullptr) {
    opened.status = FileError(FileFailure::CannotOpen, path, errno);
    return opened;
  }
  // A device that took the name after all is closed again, never written to.
  const DWORD type = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(opened.file))));
  if (rules.regularOnly ? type != FILE_TYPE_DISK : (type == FILE_TYPE_CHAR && !rules.devicesToo)) {
    std::fclose(opened.file);
    opened.file = nullptr;
    opened.status = FileError(FileFailure::NotRegular, path);
  }
  return opened;
#else
  Failure failure;
  const int fd =
      OpenWithoutBlocking(path, O_WRONLY | O_CREAT | (rules.truncate ? O_TRUNC : O_APPEND), rules, failure);
  if (fd < 0) {
    opened.status = std::move(failure);
    return opened;
  }
  if (rules.blocking) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  opened.file = ::fdopen(fd, rules.truncate ? "w" : "a");
  if (opened.file == nullptr) {
    opened.status = FileError(FileFailure::CannotOpen, path, errno);
    ::close(fd);
  }
  return opened;
#endif
}

Status AppendLine(const std::string& path, const std::string& line) {
  const AppendFile opened = OpenToAppend(path, AppendRules{});
  if (!opened.status) return opened.status;
  const bool written = std::fputs((line + '\n').c_str(), opened.file) >= 0 && std::fflush(opened.file) == 0;
  const int error = errno;
  if (std::fclose(opened.file) != 0 || !written) return FileError(FileFailure::CannotWrite, path, error);
  return {};
}

Status RemoveFile(const std::string& path) {
  std::error_code error;
  fs::remove(path, error);
  if (error) return FileError(FileFailure::CannotRemove, path, ErrorNumber(error));
#ifndef _WIN32
  FlushFolder(fs::path(path).parent_path().string());
#endif
  return {};
}

Status RenameFile(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (error) return FileError(FileFailure::CannotRename, from, ErrorNumber(error));
  return {};
}

namespace {

constexpr std::size_t kMaxHolderText = 256;
constexpr int kLockRetryMs = 10;

// The holder a lock file names, as its holder wrote it.
std::string HolderOf(const std::string& path) {
  SmallFile file = ReadSmallFile(path, kMaxHolderText, Links::Refuse);
  if (!file.found || !file.status) return {};
  while (!file.text.empty() && (file.text.back() == '\n' || file.text.back() == '\r')) file.text.pop_back();
  return file.text;
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

std::intptr_t OpenLockFile(const std::string& path, Failure& failure) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failure = FileError(FileFailure::CannotOpen, path, EACCES);
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

std::intptr_t OpenLockFile(const std::string& path, Failure& failure) {
  return OpenWithoutBlocking(path, O_RDWR | O_CREAT, AppendRules{}, failure);
}

void WriteHolder(std::intptr_t handle, const std::string& text) {
  const int fd = static_cast<int>(handle);
  if (::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0) (void)WriteAll(fd, text);
}
#endif

}  // namespace

FileLock::~FileLock() {
  if (held()) Release(handle_);
}

FileLock::FileLock(FileLock&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (held()) Release(handle_);
    handle_ = std::exchange(other.handle_, kNone);
  }
  return *this;
}

LockAttempt TakeFileLock(const std::string& path, const std::string& holderText, int waitMs) {
  LockAttempt attempt;
  Failure failure;
  const std::intptr_t handle = OpenLockFile(path, failure);
  if (handle == FileLock::kNone) {
    attempt.status = std::move(failure);
    return attempt;
  }
  FileLock lock(handle);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (!TryLock(handle)) {
    if (std::chrono::steady_clock::now() >= until) {
      attempt.holder = HolderOf(path);
      attempt.status = FileError(FileFailure::InUse, path);
      return attempt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockRetryMs));
  }
  WriteHolder(handle, holderText);
  attempt.lock = std::move(lock);
  return attempt;
}

}  // namespace kkm::files
