#include "files/SmallFile.h"

#include <cerrno>

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#include <iterator>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kkm::files {

namespace {

SmallFile Refused(Failure failure) {
  SmallFile file;
  file.found = true;
  file.status = std::move(failure);
  return file;
}

}  // namespace

SmallFile ReadSmallFile(const std::string& path, std::size_t maxSize, Links links) {
  const auto limit = static_cast<std::int32_t>(maxSize);
  SmallFile file;
#ifdef _WIN32
  static_cast<void>(links);  // no links to guard against in the folders read here
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) return file;
  if (!fs::is_regular_file(status)) return Refused(FileError(FileFailure::NotRegular, path));
  if (fs::file_size(path, error) > maxSize) return Refused(FileTooLarge(path, limit));
  std::ifstream in(path, std::ios::binary);
  if (!in) return Refused(FileError(FileFailure::CannotOpen, path, EACCES));
  file.text.assign(std::istreambuf_iterator<char>(in), {});
#else
  const int fd = ::open(
      path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (links == Links::Follow ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return file;
    // O_NOFOLLOW gives ELOOP for a link.
    return Refused(error == ELOOP && links == Links::Refuse
                       ? FileError(FileFailure::Link, path)
                       : FileError(FileFailure::CannotOpen, path, error));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Refused(FileError(FileFailure::NotRegular, path));
  }
  // One byte past the limit tells a file that is too large.
  file.text.assign(maxSize + 1, '\0');
  std::size_t got = 0;
  while (got < file.text.size()) {
    const ssize_t n = ::read(fd, file.text.data() + got, file.text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return Refused(FileError(FileFailure::CannotRead, path, error));
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  file.text.resize(got);
#endif
  file.found = true;
  if (file.text.size() > maxSize) return Refused(FileTooLarge(path, limit));
  return file;
}

}  // namespace kkm::files
