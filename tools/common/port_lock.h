#pragma once
// One program on a serial line at a time: an exclusive flock() on the
// device, taken before the line's settings are touched. Unlike TIOCEXCL it
// holds against root too, and it follows the device, not its name (a
// /dev/serial/by-id/ link and /dev/ttyUSB0 lock the same line). The lock
// goes with the descriptor, so a program that dies leaves none behind.
#include <string>

namespace posix_io {

class PortLock {
public:
  PortLock() = default;
  ~PortLock() { release(); }
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Takes the lock on `device` without waiting. When another program
  // holds it, *error says so (and names that program where it can).
  bool take(const std::string& device, std::string* error);
  void release();
  bool held() const { return fd_ >= 0; }

private:
  int fd_ = -1;
};

}  // namespace posix_io
