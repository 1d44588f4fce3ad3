// Stopping meter-host, by "quit" or by SIGTERM, at any point of a round:
// the round in flight either completes, and is counted and stored, or is
// neither. The history then holds exactly the rounds the log and the
// statistics count.
#include <signal.h>

#include <gtest/gtest.h>

#include <regex>

#include "history_store.h"
#include "support/runs.h"

namespace {

using namespace tools_test;

enum class StopBy { quit, sigterm };
void PrintTo(StopBy by, std::ostream* os) { *os << (by == StopBy::quit ? "quit" : "SIGTERM"); }

// Where the stop comes: after `rounds` completed rounds and, when
// `requests` is not 0, once that many requests of the next round were sent.
struct StopPoint {
  std::size_t rounds;
  std::size_t requests;
};

constexpr std::size_t kRequestsPerRound = 22;

// "rounds N completed" of the statistics at exit, or -1.
long stats_completed(const std::string& err) {
  std::smatch m;
  static const std::regex rounds(R"(\(slave 1\): rounds (\d+) completed)");
  return std::regex_search(err, m, rounds) ? std::stol(m[1]) : -1;
}

void stop(HostRun& host, StopBy by) {
  if (by == StopBy::quit)
    host.send("quit");
  else
    ::kill(host.pid(), SIGTERM);
}

std::size_t rows(const std::string& db) {
  hist::HistoryStore h;
  std::string error;
  EXPECT_TRUE(h.open(db, &error)) << error;
  return h.records(1, &error).size();
}

class EndToEndStop : public ::testing::TestWithParam<StopBy> {};

TEST_P(EndToEndStop, HistoryRowsEqualTheRoundsCounted) {
  // From the end of a round through the next round's requests (every
  // third, and its last), after one to three rounds.
  std::vector<StopPoint> points;
  for (std::size_t requests = 0; requests <= kRequestsPerRound; requests += 3)
    points.push_back({1 + requests % 3, requests});
  points.push_back({2, kRequestsPerRound});
  for (const StopPoint& at : points) {
    SCOPED_TRACE("stop after " + std::to_string(at.rounds) + " rounds and " + std::to_string(at.requests) +
                 " requests");
    TempDir dir;
    // Verbose: every request sent is a line to wait for.
    HostRun host({"--simulate", "--interval", "0", "--history", dir.path("h.db"), "--verbose"});
    ASSERT_TRUE(host.err().wait_for(" completed in ", kEventTimeout, at.rounds)) << host.err_text();
    if (at.requests > 0) {
      ASSERT_TRUE(host.err().wait_for("-> read ", kEventTimeout, at.rounds * kRequestsPerRound + at.requests))
          << host.err_text();
    }
    stop(host, GetParam());
    const int status = host.wait();
    const std::string err = host.err_text();
    EXPECT_EQ(status, 0) << err;
    EXPECT_FALSE(sanitizer_report(err)) << err;

    const std::size_t logged = count_of(err, " completed in ");
    EXPECT_GE(logged, at.rounds);
    EXPECT_EQ(stats_completed(err), static_cast<long>(logged)) << err;
    EXPECT_EQ(rows(dir.path("h.db")), logged) << err;
    EXPECT_EQ(count_of(err, " abandoned: "), 0u) << "a stop is not a failed round\n" << err;
  }
}

TEST_P(EndToEndStop, TheRoundWhoseLastReplyIsOnTheLineCompletes) {
  TempDir dir;
  // The reply to request 22, the last of round 1, waits until released.
  SimRun sim({"--fault", "hold", "--fault-after", "21", "--fault-count", "1"});
  ASSERT_FALSE(sim.path().empty());
  HostRun host({"--port", sim.path(), "--timeout-ms", "60000", "--interval", "0", "--history", dir.path("h.db")});
  ASSERT_TRUE(sim.err().wait_for("holding the reply", kEventTimeout)) << sim.err().text();
  stop(host, GetParam());
  ASSERT_TRUE(host.err().wait_for("stopping: ", kEventTimeout)) << host.err_text();
  sim.release();
  const int status = host.wait();
  const std::string err = host.err_text();
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(count_of(err, "round 1 completed in "), 1u) << err;
  EXPECT_EQ(stats_completed(err), 1) << err;
  EXPECT_EQ(rows(dir.path("h.db")), 1u);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, EndToEndStop, ::testing::Values(StopBy::quit, StopBy::sigterm),
                         [](const auto& info) { return info.param == StopBy::quit ? "Quit" : "Sigterm"; });

// The scheduler gives a round up at its time-out while the round's last
// reply is still held: when the reply then comes and the driver completes
// the round, it is not stored, since it was not counted.
TEST(EndToEnd, ARoundGivenUpIsNotStoredWhenItsLastReplyComesLate) {
  TempDir dir;
  SimRun sim({"--fault", "hold", "--fault-after", "21", "--fault-count", "1"});
  ASSERT_FALSE(sim.path().empty());
  // The round time-out only has to outlast 21 exchanges.
  HostRun host({"--port", sim.path(), "--timeout-ms", "60000", "--round-timeout-ms", "5000", "--rounds", "1",
                "--history", dir.path("h.db"), "--verbose"});
  ASSERT_TRUE(sim.err().wait_for("holding the reply", kEventTimeout)) << sim.err().text();
  ASSERT_TRUE(host.err().wait_for("round 1 abandoned: not complete within 5000 ms", kEventTimeout))
      << host.err_text();
  sim.release();
  const int status = host.wait();
  const std::string err = host.err_text();
  EXPECT_EQ(status, 1) << "round 1 did not complete\n" << err;
  EXPECT_NE(err.find("rvSize is"), std::string::npos) << "the driver did complete it late\n" << err;
  EXPECT_NE(err.find("a round given up before it completed is not stored"), std::string::npos) << err;
  EXPECT_EQ(count_of(err, " completed in "), 0u) << err;
  EXPECT_EQ(rows(dir.path("h.db")), 0u);
}

}  // namespace
