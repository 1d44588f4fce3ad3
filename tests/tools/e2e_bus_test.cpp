// Several meters on one line: meter-host with one driver per meter against
// meter-sim serving several slaves on one pseudo-terminal; a silent meter,
// commands that name their meter, and a port that goes away and returns.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "acquisition/data_block.h"
#include "history_store.h"
#include "support/runs.h"

namespace {

using namespace tools_test;

// Slave k's image: its own frequency and phase A voltage.
std::map<unsigned, std::uint16_t> image_of(unsigned k) {
  return {{409, static_cast<std::uint16_t>(5000 + k)}, {366, 35}, {367, static_cast<std::uint16_t>(7240 + k)}};
}
double frequency_of(unsigned k) { return static_cast<double>(static_cast<float>(5000 + k) / 100.0f); }

// Data id and snapshot of a "D {...}" line.
std::pair<unsigned, Json::Value> meter_line(const std::string& line) {
  const auto space = line.find(' ');
  if (space == std::string::npos || line.compare(space + 1, 1, "{") != 0) return {0, Json::Value()};
  return {static_cast<unsigned>(std::stoul(line.substr(0, space))), parse_json(line.substr(space + 1))};
}

TEST(Bus, EveryMeterShowsItsOwnSlavesImage) {
  TempDir dir;
  std::vector<std::string> simArgs{"--slave", "1,2,3"};
  for (unsigned k = 1; k <= 3; ++k) {
    write_image(dir.path("img" + std::to_string(k) + ".json"), image_of(k));
    simArgs.insert(simArgs.end(), {"--registers", std::to_string(k) + "=" + dir.path("img" + std::to_string(k) + ".json")});
  }
  SimRun sim(simArgs);
  ASSERT_FALSE(sim.path().empty());
  const std::map<unsigned, unsigned> slaveOf{{1, 1}, {2, 2}, {30, 3}};
  const std::vector<std::string> args{"--port",   sim.path(), "--meter",  "1",          "--meter",   "2",
                                      "--meter",  "3:30",     "--rounds", "2",          "--interval", "0",
                                      "--snapshot", "--history", dir.path("h.db")};
  const Finished run = run_host(args);
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.out.size(), 6u) << run.err;
  std::map<unsigned, int> seen;
  for (const std::string& line : run.out) {
    const auto [dataId, shot] = meter_line(line);
    ASSERT_EQ(slaveOf.count(dataId), 1u) << line.substr(0, 40);
    EXPECT_EQ(shot["电网频率"].asDouble(), frequency_of(slaveOf.at(dataId))) << dataId;
    ++seen[dataId];
  }
  EXPECT_EQ(seen, (std::map<unsigned, int>{{1, 2}, {2, 2}, {30, 2}}));
  EXPECT_NE(run.err.find("meter 30 (slave 3): round 2 completed"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("meter 30 (slave 3): rounds 2 completed, 0 abandoned"), std::string::npos)
      << "statistics at exit\n" << run.err;

  hist::HistoryStore h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error)) << error;
  for (const auto& [dataId, slave] : slaveOf) {
    const auto records = h.records(dataId, &error);
    ASSERT_EQ(records.size(), 2u) << dataId;
    const std::vector<unsigned char>& block = records.back().block;
    std::uint32_t stamped = 0;
    std::memcpy(&stamped, block.data(), sizeof stamped);
    EXPECT_EQ(stamped, dataId) << "the block carries its meter's data id";
  }

  // Started again on the same history: each meter loads its own newest.
  const Finished again = run_host({"--port", sim.path(), "--meter", "1", "--meter", "2", "--meter", "3:30", "--rounds",
                                   "1", "--history", dir.path("h.db")});
  ASSERT_EQ(again.status, 0) << again.err;
  for (const char* meter : {"meter 1: history record", "meter 2: history record", "meter 30: history record"})
    EXPECT_NE(again.err.find(meter), std::string::npos) << meter << "\n" << again.err;
  EXPECT_EQ(count_of(again.err, "loaded into the driver"), 3u) << again.err;
}

TEST(Bus, ASilentMeterGoesOfflineWhileTheOthersGoOnAndComesBack) {
  // Slave 3 loses its first three requests: three failed rounds, offline,
  // then its retry is answered.
  HostRun run({"--simulate", "--meter", "1", "--meter", "2", "--meter", "3", "--fault", "no-reply@3", "--fault-count",
               "3", "--timeout-ms", "1000", "--offline-retry", "0.5", "--interval", "0", "--snapshot"});
  ASSERT_TRUE(run.err().wait_for("meter 3 (slave 3) offline", kEventTimeout)) << run.err_text();
  const std::size_t before = count_of(run.err_text(), "meter 1 (slave 1): round");
  ASSERT_TRUE(run.err().wait_for("meter 3 (slave 3) back online", kEventTimeout)) << run.err_text();
  run.send("quit");
  EXPECT_EQ(run.wait(), 0) << "a run without --rounds that was asked to stop ends cleanly";
  const std::string err = run.err_text();
  const std::string offline = err.substr(err.find("meter 3 (slave 3) offline"));
  const std::string whileOffline = offline.substr(0, offline.find("meter 3 (slave 3) back online"));
  EXPECT_NE(whileOffline.find("meter 1 (slave 1): round"), std::string::npos) << err;
  EXPECT_NE(whileOffline.find("meter 2 (slave 2): round"), std::string::npos) << err;
  EXPECT_EQ(whileOffline.find("meter 3 (slave 3): round"), whileOffline.rfind("meter 3 (slave 3): round"))
      << "offline, slave 3 takes only its retry\n" << err;
  EXPECT_GE(count_of(err, "meter 1 (slave 1): round"), before);
  EXPECT_EQ(count_of(err, "meter 3 (slave 3): round 3 abandoned: read 256+10: no reply within 1000 ms"), 1u) << err;
  EXPECT_EQ(count_of(err, " abandoned: "), 3u) << "only slave 3's three\n" << err;
  EXPECT_NE(err.find("meter 3 (slave 3): rounds"), std::string::npos);
  EXPECT_NE(err.find("time-outs 3"), std::string::npos) << err;
}

TEST(Bus, CommandsNameTheirMeter) {
  TempDir dir;
  write_image(dir.path("img1.json"), image_of(1));
  write_image(dir.path("img2.json"), image_of(2));
  HostRun run({"--simulate", "--meter", "1", "--meter", "2:20", "--registers", "1=" + dir.path("img1.json"),
               "--registers", "2=" + dir.path("img2.json"), "--interval", "0.05", "--history", dir.path("h.db")});
  ASSERT_TRUE(run.err().wait_for("meter 20 (slave 2): round 1 completed", kEventTimeout)) << run.err_text();
  // Phase A voltage of slave 2 becomes 0.1.
  run.send("@20 write 366=0,1000");
  ASSERT_TRUE(run.out().wait_for("control result 1", kEventTimeout)) << run.err_text();
  const std::size_t rounds = count_of(run.err_text(), "meter 20 (slave 2): round");
  ASSERT_TRUE(run.err().wait_for("meter 20 (slave 2): round", kEventTimeout, rounds + 2));
  run.send("@20 snapshot");
  ASSERT_TRUE(run.out().wait_for("20 {", kEventTimeout));
  run.send("snapshot");
  ASSERT_TRUE(run.out().wait_for("\n1 {", kEventTimeout)) << "without a name: the first meter";
  run.send("@9 snapshot");
  ASSERT_TRUE(run.err().wait_for("no meter has data id 9", kEventTimeout));
  run.send("stats");
  ASSERT_TRUE(run.out().wait_for("meter 20 (slave 2): rounds", kEventTimeout));
  ::kill(run.pid(), SIGUSR1);
  ASSERT_TRUE(run.err().wait_for("meter 20 (slave 2): rounds", kEventTimeout)) << run.err_text();
  run.send("quit");
  const int status = run.wait();
  // The write lands between two rounds of meter 20 or takes one of them
  // over, whichever the scheduling gives; nothing else fails.
  const std::string err = run.err_text();
  EXPECT_EQ(count_of(err, " abandoned: "), count_of(err, " abandoned: write 366+2 took over the line")) << err;
  EXPECT_LE(count_of(err, " abandoned: "), 1u) << err;
  EXPECT_EQ(status, count_of(err, " abandoned: ") == 0 ? 0 : 1) << err;

  // The rounds after the write stored slave 2's new registers under data
  // id 20, and slave 1's untouched ones under 1.
  hist::HistoryStore h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error)) << error;
  const auto twenty = h.newest(20, &error);
  const auto one = h.newest(1, &error);
  ASSERT_TRUE(twenty && one) << error;
  EXPECT_EQ(kvrm::read_uint16(twenty->block.data(), kvrm::register_offset(366)), 0u);
  EXPECT_EQ(kvrm::read_uint16(twenty->block.data(), kvrm::register_offset(367)), 1000u);
  EXPECT_EQ(kvrm::read_uint16(one->block.data(), kvrm::register_offset(367)), 7241u);
}

TEST(Bus, PortGoneAndBackUnderItsPathResumesTheRounds) {
  TempDir dir;
  const std::string link = dir.path("ttyUSB-by-id");
  std::optional<SimRun> sim(std::in_place, std::vector<std::string>{});
  ASSERT_FALSE(sim->path().empty());
  std::filesystem::create_symlink(sim->path(), link);
  // Each round committed as it completes: the history is read while it runs.
  HostRun run({"--port", link, "--interval", "0.05", "--history", dir.path("h.db"), "--history-commit", "0"});
  ASSERT_TRUE(run.err().wait_for("round 2 completed", kEventTimeout)) << run.err_text();
  // The adapter is unplugged: its device node and the by-id link go.
  sim->stop();
  std::filesystem::remove(link);
  ASSERT_TRUE(run.err().wait_for("line lost: ", kEventTimeout)) << run.err_text();
  ASSERT_TRUE(run.err().wait_for("not counted (line lost: ", kEventTimeout)) << run.err_text();
  {
    // No round completes while the line is down: the history holds the
    // completed rounds and nothing of the broken one.
    hist::HistoryStore h;
    std::string error;
    ASSERT_TRUE(h.open_to_read(dir.path("h.db"), &error)) << error;
    EXPECT_EQ(h.records(1, &error).size(), count_of(run.err_text(), " completed in ")) << run.err_text();
  }
  // Plugged in again, under a new device node.
  sim.emplace(std::vector<std::string>{});
  ASSERT_FALSE(sim->path().empty());
  std::filesystem::create_symlink(sim->path(), link);
  ASSERT_TRUE(run.err().wait_for("line back", kEventTimeout)) << run.err_text();
  const std::size_t completed = count_of(run.err_text(), " completed in ");
  ASSERT_TRUE(run.err().wait_for(" completed in ", kEventTimeout, completed + 2)) << run.err_text();
  run.send("quit");
  EXPECT_EQ(run.wait(), 0) << "the broken round does not count\n" << run.err_text();

  const std::string err = run.err_text();
  EXPECT_EQ(count_of(err, " abandoned: "), 0u) << err;
  EXPECT_NE(err.find("lost 1 times"), std::string::npos) << err;
}

TEST(Bus, RS485AndRtsAreRefusedOnAPseudoTerminalInOneLine) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--simulate", "--rs485", "--rounds", "1"}, "--rs485: "},
      {{"--simulate", "--rts", "up", "--rounds", "1"}, "--rts: "},
  };
  for (const auto& [args, says] : cases) {
    const Finished run = run_host(args);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(count_of(run.err, says), 1u) << run.err;
    EXPECT_EQ(count_of(run.err, "meter-host: "), 1u) << "one line\n" << run.err;
  }
}

}  // namespace
