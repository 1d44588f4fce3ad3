// Line faults end to end: a broken round stops without completing, stores
// nothing, and the next refresh recovers.
#include <gtest/gtest.h>

#include "history_store.h"
#include "support/image.h"
#include "support/runs.h"

namespace {

using namespace tools_test;

struct FaultCase {
  const char* fault;
  const char* hostSays;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.fault; }

class EndToEndFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(EndToEndFaults, BreakOneRoundAndTheNextRecovers) {
  TempDir dir;
  write_image(dir.path("img.json"), tricky_image());
  // Request 6 of round 1 (read 366+12) suffers the fault, nothing else; the
  // time-out is long enough for every other reply on a loaded machine.
  const Finished run = run_host({"--simulate", "--registers", dir.path("img.json"), "--fault", GetParam().fault,
                                 "--fault-after", "5", "--fault-count", "1", "--timeout-ms", "1000", "--rounds", "2",
                                 "--interval", "0", "--history", dir.path("h.db"), "--snapshot"});
  EXPECT_EQ(run.status, 1) << "not every round completed\n" << run.err;
  EXPECT_NE(run.err.find(std::string("read 366+12: ") + GetParam().hostSays), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("round 1 abandoned"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("round 2 completed"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("SPModbus get error"), std::string::npos) << "the driver heard of it";

  const auto shots = snapshots(run.out);
  ASSERT_EQ(shots.size(), 1u) << "only the completed round is published";
  EXPECT_EQ(shots[0]["A相电压"].asDouble(), 230.10000610351562);

  hist::HistoryStore h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error)) << error;
  const auto records = h.records(1, &error);
  ASSERT_EQ(records.size(), 1u) << "nothing stored for the broken round";
  EXPECT_EQ(records[0].block, expected_block(tricky_image(), 1, shots[0]["更新时间"].asString()));
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, EndToEndFaults,
                         ::testing::Values(FaultCase{"no-reply", "no reply within 1000 ms"},
                                           FaultCase{"bad-crc", "bad CRC"},
                                           FaultCase{"exception", "reply rejected: exception 4 (slave device failure)"}),
                         [](const auto& info) {
                           std::string name = info.param.fault;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

TEST(EndToEnd, SlowReplyWithinTheTimeOutStillCompletes) {
  const Finished run = run_host({"--simulate", "--fault", "slow", "--slow-ms", "200", "--fault-after", "3",
                                 "--fault-count", "2", "--timeout-ms", "3000", "--rounds", "1", "--snapshot"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(snapshots(run.out).size(), 1u);
  EXPECT_NE(run.err.find("holding the reply for 200 ms"), std::string::npos) << run.err;
}

TEST(EndToEnd, ASilentMeterFailsEveryRound) {
  const Finished run = run_host({"--simulate", "--fault", "no-reply", "--timeout-ms", "100", "--rounds", "2",
                                 "--interval", "0", "--snapshot"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(count_of(run.err, "abandoned: read 256+10: no reply within 100 ms"), 2u) << run.err;
  EXPECT_EQ(count_of(run.err, " abandoned: "), 2u);
}

}  // namespace
