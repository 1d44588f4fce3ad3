#include "port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace posix_io {

namespace {

// The process that holds a flock() on this file, from /proc/locks
// ("1: FLOCK  ADVISORY  WRITE 1234 00:05:3 0 EOF"), or 0.
long lock_holder(const struct stat& st) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream in(line);
    std::string n, kind, mode, access, device;
    long pid = 0;
    if (!(in >> n >> kind >> mode >> access >> pid >> device) || kind != "FLOCK") continue;
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
    if (std::sscanf(device.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3) continue;
    if (inode == st.st_ino && makedev(major, minor) == st.st_dev) return pid;
  }
  return 0;
}

std::string program_of(long pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

bool PortLock::take(const std::string& device, std::string* error) {
  release();
  // Non-blocking: a line without carrier must not hold up the open.
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + device + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    std::string who;
    struct stat st {};
    if (err == EWOULDBLOCK && ::fstat(fd, &st) == 0) {
      if (const long pid = lock_holder(st)) {
        const std::string name = program_of(pid);
        who = " by process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
      }
    }
    ::close(fd);
    *error = err == EWOULDBLOCK ? device + " is in use" + (who.empty() ? " by another program" : who) +
                                      ": one program on a line at a time, stop the other first"
                                : "cannot lock " + device + ": " + std::strerror(err);
    return false;
  }
  fd_ = fd;
  return true;
}

void PortLock::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace posix_io
