// meter-host for a person: the table of every round, where it looked for
// a point file, why a configuration cannot be read.
#include <gtest/gtest.h>

#include "history_run.h"
#include "support/image.h"

namespace {

using namespace history_test;
using namespace tools_test;

TEST(ShowTable, PipedEachRoundAddsABlockOfItsValues) {
  TempDir dir;
  write_image(dir.path("img.json"), tricky_image());
  const Ran run = host({"--simulate", "--registers", dir.path("img.json"), "--rounds", "2", "--interval", "0",
                        "--data-id", "9", "--show", "table"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count_of(run.out, "meter 9 · round "), 2u) << run.out;
  EXPECT_EQ(run.out.find("\x1b["), std::string::npos) << "no terminal codes into a pipe";
  EXPECT_EQ(run.out.find('{'), std::string::npos) << "no snapshot text without --snapshot";
  EXPECT_EQ(count_of(run.out, "A相电压                   230.1000 V"), 2u) << run.out;
  EXPECT_EQ(count_of(run.out, "Alarms in force: none"), 2u) << run.out;
}

TEST(ShowTable, AlarmsInForceAreListed) {
  TempDir dir;
  write_image(dir.path("high.json"), {{366, 36}, {367, 40704}});  // 240 V, above the sample's 231 V
  const Ran run = host({"--simulate", "--registers", dir.path("high.json"), "--rounds", "1", "--config",
                        SAMPLES_DIR "/mode5.json", "--show", "table", "--snapshot"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("0406101001 A相电压 = 240, level 2: 当前值240高于阈值:231"), std::string::npos) << run.out;
  EXPECT_EQ(snapshots(lines_of(run.out)).size(), 1u) << "--snapshot keeps its line";
}

TEST(Messages, NoPointFileSaysWhereItLookedAndPointsAtTheSamples) {
  const Ran run = host({"--simulate", "--rounds", "1", "--data-id", "31"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("data_id:31 model:kvrm4410t_q b ini not found"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("no point file, so no signal is checked: looked in "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("ini/31.ini"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("samples/ini/kvrm4410t_q.ini"), std::string::npos) << run.err;
}

TEST(Messages, NoHintOutsidePointFileMode) {
  const Ran run = host({"--simulate", "--rounds", "1", "--config", SAMPLES_DIR "/mode5.json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("no point file"), std::string::npos) << run.err;
}

TEST(Messages, AConfigurationThatCannotBeReadSaysWhy) {
  const Ran run = host({"--config", "nosuch.json"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot read the configuration nosuch.json: No such file or directory"), std::string::npos)
      << run.err;
}

}  // namespace
