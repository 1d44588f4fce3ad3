// History end to end: one record per completed round, byte for byte the
// block the driver sent; a restart serves the newest at once.
#include <gtest/gtest.h>

#include "history_store.h"
#include "support/image.h"
#include "support/runs.h"

namespace {

using namespace tools_test;

std::vector<hist::Record> records_of(const std::string& db, std::uint32_t dataId) {
  hist::HistoryStore h;
  std::string error;
  EXPECT_TRUE(h.open(db, &error)) << error;
  return h.records(dataId, &error);
}

TEST(EndToEnd, EveryCompletedRoundStoresItsBlock) {
  TempDir dir;
  write_image(dir.path("img.json"), tricky_image());
  const Finished run = run_host({"--simulate", "--registers", dir.path("img.json"), "--data-id", "70000", "--rounds",
                                 "3", "--interval", "0", "--history", dir.path("h.db"), "--snapshot"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto shots = snapshots(run.out);
  ASSERT_EQ(shots.size(), 3u);
  const auto records = records_of(dir.path("h.db"), 70000);
  ASSERT_EQ(records.size(), 3u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    // The snapshot of a round is decoded from the block it stored: its
    // update time is the block's time stamp.
    EXPECT_EQ(records[i].block, expected_block(tricky_image(), 70000, shots[i]["更新时间"].asString())) << i;
    EXPECT_EQ(records[i].dataId, 70000u);
  }
  EXPECT_TRUE(records_of(dir.path("h.db"), 1).empty());
}

TEST(EndToEnd, ARestartServesTheNewestRecordAtOnce) {
  TempDir dir;
  auto image = tricky_image();
  write_image(dir.path("first.json"), image);
  const Finished first = run_host({"--simulate", "--registers", dir.path("first.json"), "--rounds", "1", "--history",
                                   dir.path("h.db")});
  ASSERT_EQ(first.status, 0) << first.err;
  image[409] = 4990;  // the newest record holds 49.9 Hz
  write_image(dir.path("second.json"), image);
  const Finished second = run_host({"--simulate", "--registers", dir.path("second.json"), "--rounds", "1",
                                    "--history", dir.path("h.db")});
  ASSERT_EQ(second.status, 0) << second.err;

  // The meter is silent now: whatever is served comes from the history.
  HostRun host({"--simulate", "--fault", "no-reply", "--timeout-ms", "200", "--rounds", "0", "--history",
                dir.path("h.db")});
  host.send("snapshot");
  host.send("quit");
  host.close_input();
  const int status = host.wait();
  const std::string err = host.err_text();
  EXPECT_NE(status, -1) << err;
  EXPECT_NE(err.find("history record 2 of "), std::string::npos) << err;
  EXPECT_NE(err.find("loaded into the driver"), std::string::npos) << err;
  const auto shots = snapshots(host.out_lines());
  ASSERT_EQ(shots.size(), 1u) << err;
  EXPECT_EQ(shots[0]["电网频率"].asDouble(), static_cast<double>(4990 / 100.0f));
  EXPECT_EQ(shots[0]["A相电压"].asDouble(), 230.10000610351562);
  EXPECT_EQ(records_of(dir.path("h.db"), 1).size(), 2u) << "loading the record stores nothing new";
}

TEST(EndToEnd, AlarmsRaisedAndClearedAreKept) {
  TempDir dir;
  // 240 V is above the sample's 231 V limit on phase A.
  write_image(dir.path("high.json"), {{366, 36}, {367, 40704}});
  write_image(dir.path("normal.json"), {{366, 35}, {367, 6784}});
  const std::vector<std::string> common{"--simulate", "--config", SAMPLES_DIR "/mode5.json", "--interval", "0",
                                        "--history", dir.path("h.db")};
  auto args = [&](const char* image, const char* rounds) {
    std::vector<std::string> a = common;
    a.insert(a.end(), {"--registers", dir.path(image), "--rounds", rounds});
    return a;
  };
  ASSERT_EQ(run_host(args("high.json", "3")).status, 0);
  // A restart while the alarm stands records nothing new for it.
  ASSERT_EQ(run_host(args("high.json", "1")).status, 0);
  const Finished cleared = run_host(args("normal.json", "1"));
  ASSERT_EQ(cleared.status, 0) << cleared.err;
  EXPECT_NE(cleared.err.find("alarm cleared: 0406101001 A相电压 = 230"), std::string::npos) << cleared.err;

  hist::HistoryStore h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error));
  std::vector<std::string> phaseA;
  for (const auto& e : h.alarm_events(1, &error))
    if (e.alarmId == "0406101001") phaseA.push_back((e.raised ? "raised " : "cleared ") + e.valueText);
  EXPECT_EQ(phaseA, (std::vector<std::string>{"raised 240", "cleared 230.054398"}));
  EXPECT_EQ(h.alarm_states(1, &error).at("0406101001"), false);
  EXPECT_EQ(count_of(cleared.err, "alarm raised"), 0u) << "the other alarms still stand\n" << cleared.err;
}

}  // namespace
