// Register writes end to end: the outcome the driver reports once the
// meter's echo arrived, and a write that takes over a round.
#include <gtest/gtest.h>

#include "acquisition/data_block.h"
#include "history_store.h"
#include "support/runs.h"

namespace {

using namespace tools_test;

struct WriteCase {
  const char* name;
  std::vector<std::string> simArgs;
  const char* write;
  const char* result;
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class EndToEndWrites : public ::testing::TestWithParam<WriteCase> {};

TEST_P(EndToEndWrites, ReportTheConfirmedOutcome) {
  TempDir dir;
  write_image(dir.path("img.json"), {{366, 35}, {367, 7240}});
  std::vector<std::string> args{"--simulate", "--registers",  dir.path("img.json"), "--rounds", "1",
                                "--timeout-ms", "1000", "--write", GetParam().write};
  args.insert(args.end(), GetParam().simArgs.begin(), GetParam().simArgs.end());
  const Finished run = run_host(args);
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.out.size(), 1u) << run.err;
  EXPECT_EQ(run.out[0], GetParam().result) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, EndToEndWrites,
    ::testing::Values(WriteCase{"GoodEcho", {}, "300=1234", "control result 1"},
                      WriteCase{"GoodEchoOfARun", {}, "300=1,2,3", "control result 1"},
                      WriteCase{"WrongEcho", {"--fault", "wrong-echo"}, "300=1234", "control result 3"},
                      WriteCase{"WrongEchoOfARun", {"--fault", "wrong-echo"}, "300=1,2", "control result 3"},
                      // The round's 22 requests pass; the write is lost.
                      WriteCase{"NoReply", {"--fault", "no-reply", "--fault-after", "22"}, "300=1234",
                                "control result -1"},
                      WriteCase{"Exception", {"--fault", "exception", "--fault-after", "22"}, "300=1234",
                                "control result -1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, WrittenRegistersReachTheMeter) {
  TempDir dir;
  write_image(dir.path("img.json"), {});
  const Finished run = run_host({"--simulate", "--registers", dir.path("img.json"), "--rounds", "2", "--interval", "0",
                                 "--write", "300=0,1000", "--write", "366=35", "--history", dir.path("h.db")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, (std::vector<std::string>{"control result 1", "control result 1"})) << run.err;
  hist::HistoryStore h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error));
  const auto records = h.records(1, &error);
  ASSERT_EQ(records.size(), 2u);
  // Round 2 read back what the writes stored.
  const auto& block = records[1].block;
  EXPECT_EQ(kvrm::read_int32(block.data(), kvrm::register_offset(300)), 1000);
  EXPECT_EQ(kvrm::read_uint16(block.data(), kvrm::register_offset(366)), 35);
  EXPECT_EQ(kvrm::read_int32(records[0].block.data(), kvrm::register_offset(300)), 0);
}

TEST(EndToEnd, AWriteMidRoundAbandonsTheRound) {
  TempDir dir;
  write_image(dir.path("img.json"), {{366, 35}, {367, 7240}});
  // The reply to request 6 of round 1 is held until the write is in.
  SimRun sim({"--registers", dir.path("img.json"), "--fault", "hold", "--fault-after", "5", "--fault-count", "1"});
  ASSERT_FALSE(sim.path().empty());
  HostRun host({"--port", sim.path(), "--timeout-ms", "60000", "--rounds", "2", "--interval", "0", "--history",
                dir.path("h.db"), "--snapshot"});
  ASSERT_TRUE(sim.err().wait_for("holding the reply", kEventTimeout)) << sim.err().text();
  host.send("write 300=77");
  // The driver says so under the device lock that the held reply's
  // handling waits for: the write has taken the round over before it.
  ASSERT_TRUE(host.err().wait_for("KVRM4410T_Q::DeviceIoControl 206", kEventTimeout)) << host.err_text();
  sim.release();
  ASSERT_TRUE(host.out().wait_for("control result", kEventTimeout)) << host.err_text();
  host.close_input();
  const int status = host.wait();
  const std::string err = host.err_text();
  EXPECT_EQ(status, 1) << "round 1 did not complete\n" << err;
  const auto out = host.out_lines();
  ASSERT_EQ(out.size(), 2u) << err;
  EXPECT_EQ(out[0], "control result 1");
  EXPECT_TRUE(parse_json(out[1]).isObject()) << "round 2 completed";
  EXPECT_NE(err.find("round 1 abandoned: write 300=77 took over the line"), std::string::npos) << err;
  EXPECT_NE(err.find("reply rejected"), std::string::npos) << "the late read reply is not taken for the write's";

  hist::HistoryStore h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error));
  EXPECT_EQ(h.records(1, &error).size(), 1u);
}

}  // namespace
