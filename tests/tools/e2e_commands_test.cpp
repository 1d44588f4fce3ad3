// The command thread end to end: commands on standard input arrive on
// their own thread while rounds run.
#include <gtest/gtest.h>

#include "support/runs.h"

namespace {

using namespace tools_test;

std::string results(const std::vector<std::string>& out) {
  std::string r;
  for (const std::string& line : out)
    if (line.rfind("control result", 0) == 0) r += line + "\n";
  return r;
}

TEST(EndToEnd, SnapshotsAndWritesWhileRoundsRun) {
  HostRun host({"--simulate", "--config", SAMPLES_DIR "/mode5.json", "--rounds", "0", "--interval", "0.02",
                "--snapshot"});
  ASSERT_TRUE(host.err().wait_for("round 1 completed", kEventTimeout)) << host.err_text();
  constexpr int kTurns = 6;
  for (int i = 1; i <= kTurns; ++i) {
    host.send("snapshot");
    host.send("write 300=" + std::to_string(i) + "," + std::to_string(i * 10));
    // One command at a time, each answered while rounds keep running.
    ASSERT_TRUE(host.out().wait_for("control result", kEventTimeout, static_cast<std::size_t>(i))) << host.err_text();
  }
  host.send("write 39645=1");
  host.send("quit");
  host.close_input();
  const int status = host.wait();
  const std::string err = host.err_text();
  EXPECT_TRUE(status == 0 || status == 1) << "a write may abandon a round, nothing worse\n" << err;
  EXPECT_FALSE(sanitizer_report(err)) << err;
  const auto out = host.out_lines();
  EXPECT_EQ(count_of(host.out().text(), "control result 1\n"), static_cast<std::size_t>(kTurns + 1))
      << results(out) << err;
  std::size_t shots = 0;
  for (const std::string& line : out) {
    if (line.rfind("control result", 0) == 0) continue;
    EXPECT_TRUE(parse_json(line).isObject()) << line;
    ++shots;
  }
  EXPECT_GE(shots, static_cast<std::size_t>(kTurns) + 1) << "every snapshot command, and at least the first round";
}

TEST(EndToEnd, RawCommandsCarryTheirInputText) {
  HostRun host({"--simulate", "--rounds", "0", "--interval", "0.5", "--ioctl", "310={\"signal_id\":\"x\"}"});
  ASSERT_TRUE(host.out().wait_for("ioctl 310", kEventTimeout)) << host.err_text();
  host.send("ioctl 310 {}");
  host.send("ioctl 310 not json");
  host.send("ioctl 801");
  host.send("result");
  host.send("frobnicate");
  host.send("quit");
  host.close_input();
  host.wait();
  const auto out = host.out_lines();
  ASSERT_EQ(out.size(), 5u) << host.err_text();
  EXPECT_EQ(out[0], "ioctl 310 result 0, 0 bytes") << "the host's own handler answers 0";
  EXPECT_EQ(out[1], "ioctl 310 result 0, 0 bytes");
  EXPECT_EQ(out[2], "ioctl 310 result -1, 0 bytes") << "refused: not JSON";
  EXPECT_EQ(out[3].rfind("ioctl 801 result 0, ", 0), 0u) << out[3];
  EXPECT_NE(out[3].find(": {\""), std::string::npos) << out[3];
  EXPECT_EQ(out[4], "control result -1") << "no write yet";
  EXPECT_NE(host.err_text().find("unknown command \"frobnicate\""), std::string::npos);
}

TEST(EndToEnd, AnInterruptEndsTheRun) {
  HostRun host({"--simulate", "--rounds", "0", "--interval", "0.05"});
  ASSERT_TRUE(host.err().wait_for("round 2 completed", kEventTimeout)) << host.err_text();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
}

}  // namespace
