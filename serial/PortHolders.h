#pragma once
// Which other processes hold a device open, found through /proc/<pid>/fd.
//
// Each descriptor's link is read (readlinkat relative to the open fd folder)
// and compared with the device's names; only a descriptor whose link names
// another node under /dev (the device as a container may name it) is stat'ed,
// so a descriptor on a file system that has stopped answering (a dead network
// mount) can never make the look hang. A process whose fd folder cannot be opened (another
// user's, unless we are root) is skipped at once: the look is best effort.
// This process is always left out. Each holder is "<pid> (<command name>)".

#include <sys/types.h>

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace kkm::serial {

inline constexpr std::size_t kAllHolders = std::numeric_limits<std::size_t>::max();

// The names under which /proc's fd links show the device at `path`: the path
// itself and, where symlinks lead elsewhere, the path they resolve to; with
// `openFd` (a descriptor of ours on the device), also the kernel's own name
// for it.
std::vector<std::string> DeviceNamesOf(const std::string& path, int openFd = -1);

// The names of the character device `device` (its st_rdev): its node as sysfs
// names it, else the nodes in /dev and /dev/pts that carry it (devtmpfs and
// devpts are local: looking there cannot block).
std::vector<std::string> DeviceNamesOf(dev_t device);

// The other processes holding a descriptor whose link is one of `names`, or
// a node under /dev that carries `device` (0: names only), in /proc's order;
// the look stops once `limit` are found.
std::vector<std::string> HoldersNamed(const std::vector<std::string>& names, dev_t device = 0,
                                      std::size_t limit = kAllHolders);

// The other processes holding the character device `device` open.
std::vector<std::string> OtherHoldersOf(dev_t device);
// The same for the device at `path` (named as DeviceNamesOf does).
std::vector<std::string> OtherHoldersOf(const std::string& path, std::size_t limit = kAllHolders);

}  // namespace kkm::serial
