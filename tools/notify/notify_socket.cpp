#include "notify_socket.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace notify {

std::optional<SocketAddress> socket_address(const std::string& text, std::string* error) {
  SocketAddress a;
  a.address.sun_family = AF_UNIX;
  if (text.empty() || (text[0] != '/' && text[0] != '@')) {
    *error = "NOTIFY_SOCKET is neither a socket path nor an abstract socket name: " + text;
    return std::nullopt;
  }
  // A path needs its terminating zero inside sun_path; an abstract name does not.
  const bool abstract = text[0] == '@';
  if (text.size() + (abstract ? 0 : 1) > sizeof a.address.sun_path) {
    *error = "NOTIFY_SOCKET is longer than a socket address holds";
    return std::nullopt;
  }
  std::memcpy(a.address.sun_path, text.data(), text.size());
  if (abstract) a.address.sun_path[0] = '\0';
  a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + text.size() + (abstract ? 0 : 1));
  return a;
}

std::unique_ptr<NotifySocket> NotifySocket::open(const std::string& address, std::string* error) {
  const auto to = socket_address(address, error);
  if (!to) return nullptr;
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot make the notification socket: ") + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<NotifySocket>(new NotifySocket(fd, *to));
}

NotifySocket::~NotifySocket() { ::close(fd_); }

bool NotifySocket::send(const std::string& message) const {
  for (;;) {
    const ssize_t n = ::sendto(fd_, message.data(), message.size(), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&to_.address), to_.length);
    if (n >= 0) return static_cast<std::size_t>(n) == message.size();
    if (errno != EINTR) return false;
  }
}

namespace {

// A whole positive decimal number, or nothing.
std::optional<unsigned long long> positive(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || n == 0) return std::nullopt;
  return n;
}

}  // namespace

NotifyEnvironment notify_environment(const char* notifySocket, const char* watchdogUsec, const char* watchdogPid,
                                     long selfPid) {
  NotifyEnvironment e;
  if (notifySocket != nullptr) e.socket = notifySocket;
  const auto usec = positive(watchdogUsec);
  if (!usec) return e;
  if (watchdogPid != nullptr) {
    const auto pid = positive(watchdogPid);
    if (!pid || *pid != static_cast<unsigned long long>(selfPid)) return e;
  }
  e.watchdog = std::chrono::microseconds(*usec);
  return e;
}

NotifyEnvironment notify_environment() {
  return notify_environment(std::getenv("NOTIFY_SOCKET"), std::getenv("WATCHDOG_USEC"), std::getenv("WATCHDOG_PID"),
                            static_cast<long>(::getpid()));
}

}  // namespace notify
