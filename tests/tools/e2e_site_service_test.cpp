// meter-host as a site service: a reload by SIGHUP while rounds run, and
// what it tells the service manager over a real notification socket.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

#include "history_store.h"
#include "service/notify_listener.h"
#include "support/runs.h"

namespace {

using namespace tools_test;

TEST(SiteReload, MetersAddedRemovedAndReconfiguredWhileTheOthersGoOn) {
  TempDir dir;
  SimRun sim({"--slave", "1,2,3"});
  write_text(dir.path("a.json"), R"({"appSetting": {"b_mode": 5}})");
  const std::string line = R"({"line": {"port": ")" + sim.path() + R"("}, "meters": [{"slave": 1, "config": ")" +
                           dir.path("a.json") + R"("}, )";
  write_text(dir.path("site.json"), line + R"({"slave": 2}]})");
  HostRun host({"--site", dir.path("site.json"), "--interval", "0", "--history", dir.path("h.db")});
  ASSERT_TRUE(host.err().wait_for("meter 2 (slave 2): round 2 completed", kEventTimeout)) << host.err_text();

  // Slave 2 leaves, slave 3 joins, slave 1 keeps its driver; a broker
  // named now takes a restart, and says so.
  write_text(dir.path("site.json"), line + R"({"slave": 3}], "mqtt": {"url": "mqtt://127.0.0.1:1"}})");
  kill(host.pid(), SIGHUP);
  ASSERT_TRUE(host.err().wait_for("meter 3 (slave 3): round 2 completed", kEventTimeout)) << host.err_text();
  const std::string afterFirst = host.err_text();
  EXPECT_NE(afterFirst.find("reload: meter 2 (slave 2) removed"), std::string::npos) << afterFirst;
  EXPECT_NE(afterFirst.find("reload: meter 3 (slave 3) added"), std::string::npos) << afterFirst;
  EXPECT_EQ(afterFirst.find("meter 1 (slave 1) removed"), std::string::npos);
  EXPECT_NE(afterFirst.find("reload: the site's \"mqtt\" changed: it takes a restart"), std::string::npos) << afterFirst;
  const std::size_t slave2Rounds = count_of(afterFirst, "meter 2 (slave 2): round ");

  // A changed configuration goes to the running driver.
  write_text(dir.path("a.json"), R"({"appSetting": {"b_mode": 1}})");
  kill(host.pid(), SIGHUP);
  ASSERT_TRUE(host.err().wait_for("reload: meter 1 (slave 1) reconfigured", kEventTimeout)) << host.err_text();

  // A site that does not load changes nothing.
  write_text(dir.path("site.json"), R"({"meters": [)");
  kill(host.pid(), SIGHUP);
  ASSERT_TRUE(host.err().wait_for("reload refused: ", kEventTimeout)) << host.err_text();
  const std::size_t before = count_of(host.err_text(), "meter 3 (slave 3): round ");
  ASSERT_TRUE(host.err().wait_for("meter 3 (slave 3): round ", kEventTimeout, before + 2)) << host.err_text();

  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
  const std::string err = host.err_text();
  EXPECT_EQ(count_of(err, "meter 2 (slave 2): round "), slave2Rounds) << "a removed meter takes no more rounds";
  // Slave 1 kept its statistics across the reloads: every round it took is
  // counted once, and stored.
  const auto at = err.find("meter 1 (slave 1): rounds ");
  ASSERT_NE(at, std::string::npos) << err;
  const unsigned counted = static_cast<unsigned>(std::stoul(err.substr(at + 26)));
  EXPECT_EQ(counted, count_of(err, "meter 1 (slave 1): round ") - count_of(err, "stopped before it completed"));
  hist::HistoryStore h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error)) << error;
  EXPECT_EQ(h.records(1, &error).size(), counted) << error;
  EXPECT_FALSE(h.records(3, &error).empty());
}

TEST(SiteService, TellsTheServiceManagerReadyStatusWatchdogReloadAndStop) {
  TempDir dir;
  kvtest::NotifyListener manager(dir.path("notify"));
  setenv("NOTIFY_SOCKET", manager.address().c_str(), 1);
  setenv("WATCHDOG_USEC", "1000000", 1);
  unsetenv("WATCHDOG_PID");
  HostRun host({"--simulate", "--meter", "1", "--meter", "2", "--interval", "0.2"});
  unsetenv("NOTIFY_SOCKET");
  unsetenv("WATCHDOG_USEC");
  std::vector<std::string> got;
  auto until = [&](const std::string& wanted) {
    while (auto m = manager.next()) {
      got.push_back(*m);
      if (m->find(wanted) != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(until("READY=1"));
  ASSERT_TRUE(until("STATUS=2 of 2 meters online, cycle 1"));
  // Pings keep coming while cycles complete.
  ASSERT_TRUE(until("WATCHDOG=1"));
  ASSERT_TRUE(until("WATCHDOG=1"));
  kill(host.pid(), SIGHUP);
  ASSERT_TRUE(until("RELOADING=1"));
  ASSERT_TRUE(until("READY=1"));
  ASSERT_TRUE(until("STATUS=2 of 2 meters online"));
  kill(host.pid(), SIGTERM);
  ASSERT_TRUE(until("STOPPING=1"));
  EXPECT_EQ(host.wait(), 0) << "a stop asked for is a clean exit\n" << host.err_text();
}

TEST(SiteService, AHeldRoundLoopStopsTheWatchdog) {
  TempDir dir;
  // The first round is answered, the second's first request never.
  SimRun sim({"--slave", "1", "--fault", "hold", "--fault-after", "22"});
  kvtest::NotifyListener manager(dir.path("notify"));
  setenv("NOTIFY_SOCKET", manager.address().c_str(), 1);
  setenv("WATCHDOG_USEC", "400000", 1);
  HostRun host({"--port", sim.path(), "--interval", "0", "--timeout-ms", "600000", "--round-timeout-ms", "600000"});
  unsetenv("NOTIFY_SOCKET");
  unsetenv("WATCHDOG_USEC");
  auto until = [&](const std::string& wanted) {
    while (auto m = manager.next())
      if (*m == wanted) return true;
    return false;
  };
  ASSERT_TRUE(until("READY=1"));
  ASSERT_TRUE(sim.err().wait_for("holding the reply until released", kEventTimeout)) << sim.err().text();
  // Once the loop has been held for the watchdog interval the pings end: a
  // few may still come from before, then none while it stays held.
  unsigned pings = 0;
  while (auto m = manager.next(std::chrono::seconds(3))) pings += *m == "WATCHDOG=1";
  EXPECT_LE(pings, 3u);
  host.send("quit");
  EXPECT_TRUE(until("STOPPING=1"));
  // The exchange in flight ends with the line.
  sim.stop();
  EXPECT_EQ(host.wait(), 0) << host.err_text();
}

}  // namespace

namespace {

TEST(SiteCheck, EveryFindingOfTheSiteAndItsMeters) {
  TempDir dir;
  write_text(dir.path("a.json"), R"({"appSetting": {"b_mode": 5}})");
  write_text(dir.path("good.json"), R"({"line": {"port": "/dev/ttyUSB0"}, "meters": [{"slave": 1, "config": ")" +
                                        dir.path("a.json") + R"("}, {"slave": 2, "config": ")" + dir.path("a.json") +
                                        R"("}], "history": {"path": "h.db"}, "mqtt": {"url": "mqtts://broker.example"}})");
  const Finished good = run_host({"--site", dir.path("good.json"), "--check-config"});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(good.out, (std::vector<std::string>{dir.path("good.json") + ": no findings (2 meters)"}));

  write_text(dir.path("bad.json"), R"({"line": {"port": "/dev/ttyUSB0"}, "meters": [{"slave": 1, "config": ")" +
                                       dir.path("none.json") +
                                       R"("}], "http": {"listen": "x"}, "mqtt": {"url": "mqtt://broker.example"}})");
  const Finished bad = run_host({"--site", dir.path("bad.json"), "--check-config"});
  EXPECT_EQ(bad.status, 1) << bad.err;
  ASSERT_EQ(bad.out.size(), 3u) << bad.err;
  EXPECT_NE(bad.out[0].find("none.json"), std::string::npos);
  EXPECT_NE(bad.out[1].find("\"listen\""), std::string::npos);
  EXPECT_NE(bad.out[2].find("--mqtt needs a history"), std::string::npos) << bad.out[2];

  // The same refusal at a start, before anything runs.
  const Finished noHistory = run_host({"--simulate", "--mqtt", "mqtt://127.0.0.1:1", "--rounds", "1"});
  EXPECT_EQ(noHistory.status, 2);
  EXPECT_NE(noHistory.err.find("--mqtt needs a history"), std::string::npos) << noHistory.err;

  EXPECT_EQ(run_host({"--site", dir.path("missing.json"), "--check-config"}).status, 2);
  EXPECT_EQ(run_host({"--check-config"}).status, 2) << "a FILE or a site to check";
}

}  // namespace
