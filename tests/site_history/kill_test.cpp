#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "history_blocks.h"
#include "history_sink.h"
#include "support/temp_dir.h"

namespace {

// A writer in a child process: the sink commits a batch as soon as it has
// one, and every commit done is one byte on the pipe.
[[noreturn]] void write_until_killed(const std::string& path, int progress, unsigned first) {
  auto store = std::make_shared<hist::HistoryStore>();
  std::string error;
  if (!store->open(path, &error)) _exit(3);
  hist::HistoryOptions options;
  options.commitSeconds = 3600;  // commits come from flush()
  hist::HistorySink sink(store, options, {}, history_test::test_now);
  for (unsigned n = first;; n += 5) {
    for (unsigned k = 0; k < 5; ++k) {
      meter_host::CompletedRound r;
      r.meter.dataId = 1;
      r.time = history_test::kTestNow + n + k;
      r.block = history_test::round_at(1, r.time, n + k).block;
      sink.round_completed(r);
    }
    sink.flush();
    if (write(progress, "c", 1) != 1) _exit(4);
  }
}

// kill -9 at twenty moments, each a different number of commits in and
// wherever the child then is: every time the file opens clean, keeps
// what was committed and goes on from there.
TEST(HistoryKill, KilledWriterLeavesAFileThatOpensCleanAndGoesOn) {
  kvtest::TempDir dir;
  const std::string path = dir.path("h.db");
  std::mt19937 random(20261209);
  std::size_t committed = 0;
  for (int cycle = 0; cycle < 20; ++cycle) {
    SCOPED_TRACE(cycle);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipeFds[0]);
      write_until_killed(path, pipeFds[1], static_cast<unsigned>(cycle) * 100000);
    }
    close(pipeFds[1]);
    const int commits = 1 + static_cast<int>(random() % 12);
    char byte;
    for (int i = 0; i < commits; ++i) ASSERT_EQ(read(pipeFds[0], &byte, 1), 1);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    close(pipeFds[0]);

    hist::HistoryStore store;
    std::string error;
    ASSERT_TRUE(store.open(path, &error)) << error;
    EXPECT_EQ(history_test::query(path, "PRAGMA integrity_check"), "ok");
    std::size_t records = 0;
    ASSERT_TRUE(store.for_each_record(std::nullopt, [&](const hist::Record&) { return ++records, true; }, &error));
    EXPECT_GE(records, committed + 5u * static_cast<std::size_t>(commits));
    committed = records;
  }
}

}  // namespace
