#include "serial/PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace kkm::serial {

namespace {

// A descriptor folder of a process, closed when it goes.
class FolderHandle {
 public:
  explicit FolderHandle(DIR* dir) : dir_(dir) {}
  ~FolderHandle() {
    if (dir_ != nullptr) closedir(dir_);
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

std::string LinkText(int dirFd, const char* name) {
  char target[PATH_MAX];
  const ssize_t length = readlinkat(dirFd, name, target, sizeof target);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

std::string CommandName(int procFd, const std::string& pid) {
  const int fd = openat(procFd, (pid + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char name[64];
  const ssize_t length = read(fd, name, sizeof name);
  close(fd);
  std::string text = length > 0 ? std::string(name, static_cast<std::size_t>(length)) : std::string();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Whether one of the process's descriptors links to one of `names`, or to a
// node under /dev that carries `device` (the device under another name, as a
// container may show it; /dev is local, so the stat cannot hang); a folder we
// may not open counts as holding nothing.
bool Holds(int procFd, const std::string& pid, const std::vector<std::string>& names, dev_t device) {
  const int fdDir = openat(procFd, (pid + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fdDir < 0) return false;
  FolderHandle fds(fdopendir(fdDir));
  if (fds.get() == nullptr) {
    close(fdDir);
    return false;
  }
  while (const dirent* entry = readdir(fds.get())) {
    if (entry->d_name[0] == '.') continue;
    const std::string target = LinkText(fdDir, entry->d_name);
    if (std::find(names.begin(), names.end(), target) != names.end()) return true;
    struct stat st {};
    if (device != 0 && target.starts_with("/dev/") && fstatat(fdDir, entry->d_name, &st, 0) == 0 &&
        S_ISCHR(st.st_mode) && st.st_rdev == device)
      return true;
  }
  return false;
}

std::vector<std::string> OtherProcesses(DIR* proc) {
  const std::string self = std::to_string(getpid());
  std::vector<std::string> pids;
  while (const dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (!pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos && pid != self)
      pids.push_back(pid);
  }
  return pids;
}

void AddName(std::vector<std::string>& names, std::string name) {
  if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
    names.push_back(std::move(name));
}

}  // namespace

std::vector<std::string> DeviceNamesOf(const std::string& path, int openFd) {
  std::vector<std::string> names;
  AddName(names, path);
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    AddName(names, resolved);
    std::free(resolved);
  }
  if (openFd >= 0) AddName(names, LinkText(AT_FDCWD, ("/proc/self/fd/" + std::to_string(openFd)).c_str()));
  return names;
}

std::vector<std::string> DeviceNamesOf(dev_t device) {
  std::vector<std::string> names;
  std::ifstream uevent("/sys/dev/char/" + std::to_string(major(device)) + ":" +
                       std::to_string(minor(device)) + "/uevent");
  for (std::string line; std::getline(uevent, line);)
    if (line.rfind("DEVNAME=", 0) == 0) AddName(names, "/dev/" + line.substr(8));
  if (!names.empty()) return names;
  for (const std::string folder : {"/dev", "/dev/pts"}) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) continue;
    FolderHandle handle(dir);
    while (const dirent* entry = readdir(dir)) {
      struct stat st {};
      if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISCHR(st.st_mode) &&
          st.st_rdev == device)
        AddName(names, folder + "/" + entry->d_name);
    }
  }
  return names;
}

std::vector<std::string> HoldersNamed(const std::vector<std::string>& names, dev_t device,
                                      std::size_t limit) {
  std::vector<std::string> holders;
  if (names.empty() || limit == 0) return holders;
  DIR* procDir = opendir("/proc");
  if (procDir == nullptr) return holders;
  FolderHandle proc(procDir);
  const int procFd = dirfd(procDir);
  for (const std::string& pid : OtherProcesses(procDir)) {
    if (holders.size() >= limit) break;
    if (Holds(procFd, pid, names, device)) holders.push_back(pid + " (" + CommandName(procFd, pid) + ")");
  }
  return holders;
}

std::vector<std::string> OtherHoldersOf(dev_t device) { return HoldersNamed(DeviceNamesOf(device), device); }

std::vector<std::string> OtherHoldersOf(const std::string& path, std::size_t limit) {
  struct stat st {};
  const dev_t device = stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) ? st.st_rdev : 0;
  return HoldersNamed(DeviceNamesOf(path), device, limit);
}

}  // namespace kkm::serial
