// The notification socket and the environment that names it, against a
// real datagram socket.
#include <gtest/gtest.h>

#include "notify_listener.h"
#include "notify_socket.h"
#include "support/temp_dir.h"

namespace {

using std::chrono::microseconds;

TEST(NotifyEnvironment, SocketAndWatchdogForThisProcess) {
  const auto e = notify::notify_environment("/run/systemd/notify", "60000000", "42", 42);
  EXPECT_EQ(e.socket, "/run/systemd/notify");
  EXPECT_EQ(e.watchdog, microseconds(60000000));
  EXPECT_EQ(notify::notify_environment("@x", "30000000", nullptr, 42).watchdog, microseconds(30000000));
}

TEST(NotifyEnvironment, WatchdogOfAnotherProcessOrUnreadableIsNone) {
  EXPECT_FALSE(notify::notify_environment("/s", "60000000", "41", 42).watchdog);
  EXPECT_FALSE(notify::notify_environment("/s", "60000000", "x", 42).watchdog);
  for (const char* usec : {"", "0", "-5", "60s", "99999999999999999999999"})
    EXPECT_FALSE(notify::notify_environment("/s", usec, nullptr, 42).watchdog) << usec;
  const auto none = notify::notify_environment(nullptr, nullptr, nullptr, 42);
  EXPECT_EQ(none.socket, "");
  EXPECT_FALSE(none.watchdog);
}

TEST(NotifySocketAddress, PathsAndAbstractNames) {
  std::string error;
  const auto path = notify::socket_address("/run/systemd/notify", &error);
  ASSERT_TRUE(path) << error;
  EXPECT_STREQ(path->address.sun_path, "/run/systemd/notify");
  EXPECT_EQ(path->length, offsetof(sockaddr_un, sun_path) + 20);
  const auto abstract = notify::socket_address("@sd-notify", &error);
  ASSERT_TRUE(abstract) << error;
  EXPECT_EQ(abstract->address.sun_path[0], '\0');
  EXPECT_EQ(std::string(abstract->address.sun_path + 1, 9), "sd-notify");
  EXPECT_EQ(abstract->length, offsetof(sockaddr_un, sun_path) + 10) << "no terminating zero";
  for (const std::string& bad : {std::string(), std::string("relative/path"), "/" + std::string(200, 'x')}) {
    EXPECT_FALSE(notify::socket_address(bad, &error)) << bad;
    EXPECT_NE(error.find("NOTIFY_SOCKET"), std::string::npos) << error;
  }
}

TEST(NotifySocket, SendsOneDatagramToAPath) {
  kvtest::TempDir dir;
  kvtest::NotifyListener listener(dir.path("notify"));
  std::string error;
  auto socket = notify::NotifySocket::open(listener.address(), &error);
  ASSERT_TRUE(socket) << error;
  ASSERT_TRUE(socket->send("READY=1\nSTATUS=up"));
  EXPECT_EQ(listener.next(), "READY=1\nSTATUS=up");
}

TEST(NotifySocket, SendsToAnAbstractName) {
  kvtest::NotifyListener listener("@kvtest-notify-" + std::to_string(::getpid()));
  std::string error;
  auto socket = notify::NotifySocket::open(listener.address(), &error);
  ASSERT_TRUE(socket) << error;
  ASSERT_TRUE(socket->send("STOPPING=1"));
  EXPECT_EQ(listener.next(), "STOPPING=1");
}

TEST(NotifySocket, NobodyListeningIsAFailedSendNotACrash) {
  kvtest::TempDir dir;
  std::string error;
  auto socket = notify::NotifySocket::open(dir.path("gone"), &error);
  ASSERT_TRUE(socket) << error;
  EXPECT_FALSE(socket->send("READY=1"));
}

}  // namespace
