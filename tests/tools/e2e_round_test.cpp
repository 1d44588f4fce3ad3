// A whole round over a pseudo-terminal: meter-host, the plug-in and
// meter-sim as separate processes.
#include <gtest/gtest.h>

#include "support/image.h"
#include "support/runs.h"

namespace {

using namespace tools_test;

TEST(EndToEnd, RoundDecodesTheSimulatorsImage) {
  TempDir dir;
  write_image(dir.path("img.json"), tricky_image());
  const Finished run = run_host({"--simulate", "--registers", dir.path("img.json"), "--rounds", "1", "--snapshot"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto shots = snapshots(run.out);
  ASSERT_EQ(shots.size(), 1u) << run.err;
  const Json::Value& s = shots.front();
  ASSERT_TRUE(s.isObject());
  EXPECT_EQ(s.size(), 231u);
  for (const ExpectedValue& e : tricky_values()) {
    ASSERT_TRUE(s.isMember(e.name)) << e.name;
    EXPECT_EQ(s[e.name].asDouble(), e.value) << e.name;
  }
  ASSERT_TRUE(s["更新时间"].isString());
  unsigned y, mo, d, h, mi, se;
  EXPECT_EQ(std::sscanf(s["更新时间"].asCString(), "%u-%u-%u %u:%u:%u", &y, &mo, &d, &h, &mi, &se), 6);
  EXPECT_GE(y, 2024u);
}

TEST(EndToEnd, StandardOutputHoldsOnlySnapshotLines) {
  const Finished run = run_host({"--simulate", "--rounds", "2", "--interval", "0", "--snapshot"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.out.size(), 2u) << run.err;
  for (const std::string& line : run.out) EXPECT_TRUE(parse_json(line).isObject()) << line;
  // The driver's own lines went to standard error.
  EXPECT_NE(run.err.find("rvSize is 0"), std::string::npos);
  EXPECT_NE(run.err.find("meter-host: round 2 completed"), std::string::npos);
}

TEST(EndToEnd, MovingValuesOfTheLiveImageStayPlausible) {
  const Finished run = run_host({"--simulate", "--rounds", "1", "--snapshot"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto shots = snapshots(run.out);
  ASSERT_EQ(shots.size(), 1u);
  EXPECT_NEAR(shots[0]["A相电压"].asDouble(), 230.0, 5.0);
  EXPECT_NEAR(shots[0]["电网频率"].asDouble(), 50.0, 0.1);
  EXPECT_GT(shots[0]["正向有功总电能"].asDouble(), 1000.0);
  EXPECT_NEAR(shots[0]["正向有功总电能（乘变比）"].asDouble(), 40 * shots[0]["正向有功总电能"].asDouble(), 50.0);
}

TEST(EndToEnd, TheSampleConfigurationRaisesAndClearsAlarms) {
  // The simulated values move on every read, so round 2 is above the phase A
  // limit and round 3 below it, however long the rounds take; each round is
  // published in a second of its own, so each is checked.
  const Finished run = run_host({"--simulate", "--config", SAMPLES_DIR "/mode5.json", "--rounds", "3", "--interval",
                                 "0", "--publish-every-round", "--snapshot"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto shots = snapshots(run.out);
  ASSERT_EQ(shots.size(), 3u);
  EXPECT_NE(shots[0]["更新时间"], shots[1]["更新时间"]);
  EXPECT_NE(shots[1]["更新时间"], shots[2]["更新时间"]);
  EXPECT_NE(run.err.find("alarm raised: 0406301003 电网频率"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("alarm raised: 0406101001 A相电压"), std::string::npos);
  EXPECT_NE(run.err.find("alarm cleared: 0406101001 A相电压"), std::string::npos);
  EXPECT_NE(run.err.find("高于阈值:231"), std::string::npos);
}

struct UsageCase {
  std::vector<std::string> args;
  const char* why;
};
void PrintTo(const UsageCase& c, std::ostream* os) {
  for (const std::string& arg : c.args) *os << (&arg == &c.args.front() ? "" : " ") << arg;
}

class EndToEndUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(EndToEndUsage, BadUsageExitsWithTwoAndSaysWhy) {
  const Finished run = run_host(GetParam().args);
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find(GetParam().why), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty());
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, EndToEndUsage,
                         ::testing::Values(UsageCase{{"--rounds", "three"}, "--rounds"},
                                           UsageCase{{"--simulate", "--port", "/dev/null"}, "excludes"},
                                           UsageCase{{"--config", "/nonexistent/x.json"}, "cannot read"},
                                           UsageCase{{"--wat"}, "--wat"},
                                           UsageCase{{"--baud", "9601"}, "--baud"},
                                           UsageCase{{"--baud=fast"}, "--baud"}));

TEST(EndToEnd, HelpGoesToStandardOutputWithStatusZero) {
  const Finished run = run_host({"--help"});
  EXPECT_EQ(run.status, 0);
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.err.find("Usage: meter-host"), std::string::npos) << "not on standard error";
  std::string out;
  for (const auto& line : run.out) out += line + "\n";
  EXPECT_NE(out.find("Usage: meter-host"), std::string::npos) << out;
}

TEST(EndToEnd, EveryToolAnswersItsVersion) {
  const Finished host = run_host({"--version"});
  EXPECT_EQ(host.status, 0);
  ASSERT_EQ(host.out.size(), 1u);
  EXPECT_EQ(host.out[0].rfind("meter-host ", 0), 0u);
  EXPECT_GT(host.out[0].size(), std::string("meter-host ").size());
}

TEST(EndToEnd, RuntimeFailuresExitWithOne) {
  const Finished noPlugin = run_host({"--simulate", "--plugin", "/nonexistent/lib.so", "--rounds", "1"});
  EXPECT_EQ(noPlugin.status, 1);
  EXPECT_NE(noPlugin.err.find("cannot load the plug-in"), std::string::npos) << noPlugin.err;
  const Finished noPort = run_host({"--port", "/nonexistent/ttyUSB9", "--rounds", "1"});
  EXPECT_EQ(noPort.status, 1);
  EXPECT_NE(noPort.err.find("cannot open /nonexistent/ttyUSB9"), std::string::npos) << noPort.err;
}

}  // namespace
