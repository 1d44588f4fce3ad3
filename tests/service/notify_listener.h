#pragma once
// The service manager's end of the notification socket, for the tests: a
// datagram socket bound to a path (or an abstract name) that hands out
// what arrives, one datagram at a time.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

namespace kvtest {

class NotifyListener {
public:
  // `address` as NOTIFY_SOCKET gives it: a path, or '@' and a name.
  explicit NotifyListener(std::string address) : address_(std::move(address)) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket failed");
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, address_.data(), address_.size());
    const bool abstract = address_[0] == '@';
    if (abstract) a.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size() + (abstract ? 0 : 1));
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&a), length) != 0) throw std::runtime_error("bind failed");
  }
  ~NotifyListener() { ::close(fd_); }
  NotifyListener(const NotifyListener&) = delete;
  NotifyListener& operator=(const NotifyListener&) = delete;

  const std::string& address() const { return address_; }

  // The next datagram; nothing if none came within `patience` (a bound on
  // a failing test, not a measure of anything).
  std::optional<std::string> next(std::chrono::milliseconds patience = std::chrono::seconds(20)) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(patience.count())) != 1) return std::nullopt;
    return take();
  }
  // A datagram already queued, without waiting.
  std::optional<std::string> queued() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1) return std::nullopt;
    return take();
  }
  // The next watchdog ping, past any other datagram.
  bool next_ping() {
    for (;;) {
      auto m = next();
      if (!m) return false;
      if (*m == "WATCHDOG=1") return true;
    }
  }
  // The next datagram other than a watchdog ping.
  std::optional<std::string> next_but_pings() {
    for (;;) {
      auto m = next();
      if (!m || *m != "WATCHDOG=1") return m;
    }
  }

private:
  std::optional<std::string> take() {
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
  }
  std::string address_;
  int fd_ = -1;
};

}  // namespace kvtest
