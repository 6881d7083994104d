#include "serial/SmallFile.h"

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

namespace kkm::serial {

SmallFile ReadSmallFile(const std::string& path, std::size_t maxSize, bool followLinks) {
  SmallFile file;
#ifdef _WIN32
  static_cast<void>(followLinks);  // no links to guard against in the folders read here
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) return file;
  if (!fs::is_regular_file(status)) {
    file.status = SmallFileRead::NotRegular;
    return file;
  }
  if (fs::file_size(path, error) > maxSize) {
    file.status = SmallFileRead::TooLarge;
    return file;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    file.status = SmallFileRead::Failed;
    file.error = EACCES;
    return file;
  }
  file.text.assign(std::istreambuf_iterator<char>(in), {});
#else
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    file.error = errno;
    if (file.error != ENOENT) file.status = SmallFileRead::Failed;
    return file;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    file.status = SmallFileRead::NotRegular;
    return file;
  }
  // One byte past the limit tells a file that is too large.
  file.text.assign(maxSize + 1, '\0');
  std::size_t got = 0;
  while (got < file.text.size()) {
    const ssize_t n = ::read(fd, file.text.data() + got, file.text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      file.error = errno;
      file.status = SmallFileRead::Failed;
      ::close(fd);
      return file;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  file.text.resize(got);
#endif
  file.status = file.text.size() > maxSize ? SmallFileRead::TooLarge : SmallFileRead::Read;
  return file;
}

}  // namespace kkm::serial
