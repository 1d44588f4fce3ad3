#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "history_blocks.h"
#include "history_sink.h"
#include "support/temp_dir.h"

namespace {

// A file system of 1 MiB of its own: a tmpfs mounted in a mount namespace
// of this test process only, so nothing outside sees it or must clean up.
// Mounting takes root (the CI runs as root); otherwise a user namespace
// gives the rights inside it.
bool mount_small_tmpfs(const std::string& dir, std::string* why) {
  if (unshare(CLONE_NEWNS) != 0) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
      *why = std::string("unshare: ") + std::strerror(errno);
      return false;
    }
    const auto write_file = [](const char* file, const std::string& text) {
      std::ofstream out(file);
      out << text;
      return static_cast<bool>(out.flush());
    };
    write_file("/proc/self/setgroups", "deny");
    if (!write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      *why = "cannot map the user in a user namespace";
      return false;
    }
  }
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("history-test", dir.c_str(), "tmpfs", 0, "size=1m") != 0) {
    *why = std::string("mount: ") + std::strerror(errno);
    return false;
  }
  return true;
}

// Fills the file system to its last byte.
void fill_up(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const std::string chunk(4096, 'f');
  while (write(fd, chunk.data(), chunk.size()) > 0) {
  }
  while (write(fd, chunk.data(), 1) > 0) {
  }
  close(fd);
}

meter_host::CompletedRound incompressible_round(unsigned n) {
  meter_host::CompletedRound r;
  r.meter.dataId = 1;
  r.time = history_test::kTestNow + n;
  // Blocks that do not deflate much: the file system fills sooner.
  r.block = history_test::round_at(1, r.time, n).block;
  for (std::size_t i = 4; i < 900; ++i) r.block[i] = static_cast<unsigned char>((n * 131 + i * 7919) >> 3);
  return r;
}

TEST(HistoryFullDisk, StopsWithOneLineAndStoresAgainOnceThereIsSpace) {
  kvtest::TempDir dir;
  const std::string mnt = dir.path("small");
  std::filesystem::create_directory(mnt);
  std::string why;
  ASSERT_TRUE(mount_small_tmpfs(mnt, &why)) << why;
  struct Unmount {
    std::string dir;
    ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
  } unmount{mnt};
  const std::string path = mnt + "/h.db";

  auto store = std::make_shared<hist::HistoryStore>();
  std::string error;
  ASSERT_TRUE(store->open(path, &error)) << error;
  std::vector<std::string> log;
  std::mutex logMutex;
  hist::HistoryOptions options;
  options.commitSeconds = 3600;
  hist::HistorySink sink(store, options, [&](const std::string& l) {
    std::lock_guard<std::mutex> lock(logMutex);
    log.push_back(l);
  }, history_test::test_now);
  unsigned n = 0;
  const auto rounds = [&](unsigned count) {
    for (unsigned k = 0; k < count; ++k) sink.round_completed(incompressible_round(n++));
    sink.flush();
  };
  rounds(20);
  ASSERT_EQ(sink.rounds_stored(), 20u);

  fill_up(mnt + "/filler");
  for (int i = 0; i < 5; ++i) rounds(10);
  const unsigned lost = sink.rounds_not_stored();
  EXPECT_EQ(lost, 50u);
  {
    std::lock_guard<std::mutex> lock(logMutex);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "history: storing stopped: database or disk is full");
  }

  std::filesystem::remove(mnt + "/filler");
  rounds(10);
  rounds(10);
  {
    std::lock_guard<std::mutex> lock(logMutex);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "history: storing again (50 rounds not stored)");
  }
  sink.stopped(meter_host::RunEnd{});
  EXPECT_EQ(sink.rounds_stored(), 40u);
  EXPECT_EQ(history_test::query(path, "PRAGMA integrity_check"), "ok");
  std::size_t blocks = 0;
  ASSERT_TRUE(store->for_each_record(std::nullopt, [&](const hist::Record&) { return ++blocks, true; }, &error));
  EXPECT_EQ(blocks, 40u);
}

}  // namespace
