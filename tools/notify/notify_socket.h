#pragma once
// The service manager's notification socket: one datagram per message of
// newline-separated assignments ("READY=1", "STATUS=..."), sent to the
// AF_UNIX address in NOTIFY_SOCKET. A leading '@' names an abstract socket.
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace notify {

// The address of NOTIFY_SOCKET, or nothing (and *error says why) when it is
// neither a path nor an abstract name, or too long.
struct SocketAddress {
  sockaddr_un address{};
  socklen_t length = 0;
};
std::optional<SocketAddress> socket_address(const std::string& text, std::string* error);

class NotifySocket {
public:
  // Nothing when the address is unusable or no socket can be made.
  static std::unique_ptr<NotifySocket> open(const std::string& address, std::string* error);
  ~NotifySocket();
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  // One datagram; false when it could not be sent. Safe from any thread.
  bool send(const std::string& message) const;

private:
  NotifySocket(int fd, SocketAddress to) : fd_(fd), to_(to) {}
  int fd_;
  SocketAddress to_;
};

// What the service manager put in the environment for its notifications.
struct NotifyEnvironment {
  std::string socket;  // empty: not run by a service manager that listens
  std::optional<std::chrono::microseconds> watchdog;  // WATCHDOG_USEC, when meant for this process
};

// From the variables' values (null when unset) and this process's id: the
// watchdog is ours when WATCHDOG_PID is unset or names this process.
NotifyEnvironment notify_environment(const char* notifySocket, const char* watchdogUsec, const char* watchdogPid,
                                     long selfPid);
// The same from the process environment.
NotifyEnvironment notify_environment();

}  // namespace notify
