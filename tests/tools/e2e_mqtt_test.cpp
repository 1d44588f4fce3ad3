// meter-host sending to a real broker (mosquitto, with users, an access
// list that keeps the client under its prefix, and TLS): the topics and
// payloads, every sequence number delivered in order across a broker
// restart and a kill -9 while the broker is away, the outbox's cap, and
// refusals that are logged once while polling and storing go on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <regex>
#include <set>
#include <sstream>

#include <json/reader.h>

#include "broker.h"
#include "service/notify_listener.h"
#include "support/runs.h"

namespace {

using namespace tools_test;
using mqtt_test::Broker;
using mqtt_test::Message;
using mqtt_test::Subscriber;

constexpr const char* kPrefix = "site/test";
constexpr auto kWait = std::chrono::seconds(60);

std::optional<Json::Value> json_of(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(b, in, &v, &errors) || !v.isObject()) return std::nullopt;
  return v;
}

// One meter's counted messages as a consumer sees them.
struct Seen {
  std::vector<std::int64_t> firstTimes;  // each number the first time it came, in arrival order
  std::set<std::int64_t> numbers;
  std::set<std::int64_t> dropped;  // named by gap messages
  std::int64_t last = 0;
};

Seen seen(const std::vector<Message>& messages, std::uint32_t dataId) {
  Seen s;
  const std::string under = std::string(kPrefix) + "/" + std::to_string(dataId) + "/";
  for (const Message& m : messages) {
    if (m.topic.rfind(under, 0) != 0) continue;
    const auto v = json_of(m.payload);
    if (!v || !v->isMember("seq")) continue;
    const std::int64_t seq = (*v)["seq"].asInt64();
    if (m.topic == under + "gap")
      for (std::int64_t n = (*v)["from"].asInt64(); n <= (*v)["to"].asInt64(); ++n) s.dropped.insert(n);
    if (s.numbers.insert(seq).second) s.firstTimes.push_back(seq);
    s.last = std::max(s.last, seq);
  }
  return s;
}

// Every number from 1 to `upto` came or was named dropped.
bool complete_through(const Seen& s, std::int64_t upto) {
  for (std::int64_t n = 1; n <= upto; ++n)
    if (!s.numbers.count(n) && !s.dropped.count(n)) return false;
  return true;
}

// New numbers arrive in order: each first arrival is the next one not
// named dropped.
void expect_in_order(const Seen& s) {
  std::int64_t expected = 1;
  for (const std::int64_t seq : s.firstTimes) {
    while (s.dropped.count(expected) && expected != seq) ++expected;
    ASSERT_EQ(seq, expected) << "a number came before the ones ahead of it";
    ++expected;
  }
}

// What the history file still holds for the broker, and the last number given.
struct Left {
  std::set<std::int64_t> waiting;
  std::int64_t last = 0;
};

Left left_in(const std::string& path, std::uint32_t dataId) {
  Left l;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  const auto each = [&](const std::string& sql, const std::function<void(sqlite3_stmt*)>& row) {
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (sqlite3_step(s) == SQLITE_ROW) row(s);
    sqlite3_finalize(s);
  };
  const std::string id = std::to_string(dataId);
  each("SELECT seq FROM outbox WHERE seq IS NOT NULL AND data_id = " + id,
       [&](sqlite3_stmt* s) { l.waiting.insert(sqlite3_column_int64(s, 0)); });
  each("SELECT last FROM outbox_seq WHERE data_id = " + id, [&](sqlite3_stmt* s) { l.last = sqlite3_column_int64(s, 0); });
  sqlite3_close(db);
  return l;
}

// Nothing given a number was lost: it reached the consumer, was named
// dropped, or still waits in the outbox.
void expect_nothing_lost(const Seen& s, const Left& l) {
  ASSERT_GT(l.last, 0);
  std::vector<std::int64_t> missing;
  for (std::int64_t n = 1; n <= l.last; ++n)
    if (!s.numbers.count(n) && !s.dropped.count(n) && !l.waiting.count(n)) missing.push_back(n);
  EXPECT_TRUE(missing.empty()) << missing.size() << " numbers lost, the first " << missing.front();
}

struct MqttSite : ::testing::Test {
  TempDir dir;
  Broker broker{std::string(kPrefix) + "/#"};
  std::string history = dir.path("h.db");

  std::vector<std::string> host_args(const std::string& url, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--simulate", "--config", std::string(SAMPLES_DIR) + "/mode5.json",
                                     "--interval", "0.1", "--history", history, "--history-commit", "0",
                                     "--mqtt", url, "--mqtt-user", mqtt_test::kMeterUser,
                                     "--mqtt-password-file", broker.password_file_for_meter(),
                                     "--mqtt-prefix", kPrefix, "--mqtt-every", "0"};
    if (url.rfind("mqtts", 0) == 0) args.insert(args.end(), {"--mqtt-ca", broker.ca_file()});
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  // The broker runs and a consumer with a persistent session listens under
  // the prefix before meter-host starts.
  std::optional<Subscriber> sub;
  void SetUp() override {
    broker.start();
    sub.emplace(broker, "consumer", std::string(kPrefix) + "/#");
    ASSERT_TRUE(sub->wait_connected(std::chrono::seconds(30))) << sub->last_problem();
  }

  // Waits until the consumer holds every number through `upto`.
  bool received_through(std::int64_t upto) {
    return sub->wait_for([&](const std::vector<Message>& m) { return complete_through(seen(m, 1), upto); }, kWait);
  }
  // Starts the broker again: meter-host is back on it, and the consumer
  // then holds every number given so far.
  void bring_broker_back(HostRun& host) {
    broker.start();
    ASSERT_TRUE(host.err().wait_for("is back", kEventTimeout)) << host.err_text();
    ASSERT_TRUE(received_through(left_in(history, 1).last)) << host.err_text();
  }
};

TEST_F(MqttSite, TopicsPayloadsAndEveryNumberInOrderAcrossABrokerRestart) {
  auto manager = std::make_optional<kvtest::NotifyListener>(dir.path("notify"));
  setenv("NOTIFY_SOCKET", manager->address().c_str(), 1);
  HostRun host(host_args(broker.tls_url()));
  unsetenv("NOTIFY_SOCKET");
  ASSERT_TRUE(host.err().wait_for("mqtt: connected to " + broker.tls_url(), kEventTimeout)) << host.err_text();
  ASSERT_TRUE(received_through(5)) << host.err_text();
  // The service's status line tells the broker's state and the outbox.
  const std::regex status(R"(STATUS=1 of 1 meter online, cycle \d+, history ok, mqtt connected, outbox \d+.*, \d+ sent, 0 dropped)");
  std::vector<std::string> told;
  // One status line a cycle: a bounded number of them.
  while (told.size() < 500) {
    const auto m = manager->next();
    if (!m) break;
    told.push_back(*m);
    if (std::regex_search(*m, status)) break;
  }
  ASSERT_FALSE(told.empty());
  EXPECT_TRUE(std::regex_search(told.back(), status)) << told.back();
  // Closed: the datagrams that follow have nowhere to wait.
  manager.reset();

  const std::vector<Message> first = sub->messages();
  const auto on = [&](const std::string& leaf) {
    std::vector<Message> out;
    for (const Message& m : first)
      if (m.topic == std::string(kPrefix) + "/" + leaf) out.push_back(m);
    return out;
  };
  ASSERT_FALSE(on("status").empty());
  EXPECT_EQ(on("status").front().payload, "online");
  ASSERT_FALSE(on("1/availability").empty());
  EXPECT_EQ(on("1/availability").front().payload, "online");
  ASSERT_FALSE(on("1/meta").empty());
  const auto meta = json_of(on("1/meta").front().payload);
  ASSERT_TRUE(meta);
  EXPECT_EQ((*meta)["phase_a_voltage"]["unit"].asString(), "V");
  ASSERT_FALSE(on("1/state").empty());
  const auto state = json_of(on("1/state").front().payload);
  ASSERT_TRUE(state);
  EXPECT_EQ((*state)["values"].size(), 230u);
  EXPECT_TRUE((*state)["values"]["phase_a_voltage"].isNumeric());
  EXPECT_TRUE(std::regex_match((*state)["time"].asString(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(Z|[+-]\d\d:\d\d))")))
      << (*state)["time"].asString();
  EXPECT_GE((*state)["round"].asUInt(), 1u);
  EXPECT_EQ(on("1/state").front().qos, 1);

  // The broker goes away while rounds go on, and comes back.
  broker.stop();
  ASSERT_TRUE(host.err().wait_for("mqtt: lost the broker", kEventTimeout)) << host.err_text();
  const std::size_t rounds = count_of(host.err_text(), "completed in");
  ASSERT_TRUE(host.err().wait_for("completed in", kEventTimeout, rounds + 5)) << host.err_text();
  ASSERT_NO_FATAL_FAILURE(bring_broker_back(host));

  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
  const std::string err = host.err_text();
  // One line when it went away, one when it was back.
  EXPECT_EQ(count_of(err, "mqtt: lost the broker") + count_of(err, "mqtt: cannot use the broker"), 1u) << err;
  EXPECT_EQ(count_of(err, "is back"), 1u) << err;
  EXPECT_NE(err.find("mqtt: stopped; outbox "), std::string::npos) << "the exit summary";
  ASSERT_TRUE(sub->wait_for(
      [](const std::vector<Message>& m) { return !m.empty() && m.back().topic == std::string(kPrefix) + "/status" && m.back().payload == "offline"; },
      kWait))
      << "a clean stop says offline";
  const Seen s = seen(sub->messages(), 1);
  expect_in_order(s);
  const Left left = left_in(history, 1);
  expect_nothing_lost(s, left);
  EXPECT_TRUE(left.waiting.empty()) << "a clean stop with the broker in reach sends what is left";
  EXPECT_EQ(s.last, left.last);
  EXPECT_TRUE(s.dropped.empty());
}

TEST_F(MqttSite, KilledWhileTheBrokerIsAwayThenStartedWithoutIt) {
  {
    HostRun host(host_args(broker.url()));
    ASSERT_TRUE(received_through(3)) << host.err_text();
    broker.stop();
    ASSERT_TRUE(host.err().wait_for("mqtt: lost the broker", kEventTimeout)) << host.err_text();
    const std::size_t rounds = count_of(host.err_text(), "completed in");
    ASSERT_TRUE(host.err().wait_for("completed in", kEventTimeout, rounds + 5)) << host.err_text();
    kill(host.pid(), SIGKILL);
    host.wait();
  }
  // Started again with no broker: it polls and stores all the same.
  HostRun host(host_args(broker.url()));
  ASSERT_TRUE(host.err().wait_for("mqtt: cannot use the broker " + broker.url(), kEventTimeout)) << host.err_text();
  ASSERT_TRUE(host.err().wait_for("completed in", kEventTimeout, 5)) << host.err_text();
  ASSERT_NO_FATAL_FAILURE(bring_broker_back(host));
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
  const Seen s = seen(sub->messages(), 1);
  expect_in_order(s);
  expect_nothing_lost(s, left_in(history, 1));
}

TEST_F(MqttSite, AMeterOfflineAndBackIsDataWithItsOwnNumbers) {
  // Slave 3 loses its first three requests: offline, then back.
  HostRun host(host_args(broker.url(), {"--meter", "1", "--meter", "3", "--fault", "no-reply@3", "--fault-count", "3",
                                        "--timeout-ms", "1000", "--offline-retry", "0.5"}));
  ASSERT_TRUE(host.err().wait_for("meter 3 (slave 3) back online", kEventTimeout)) << host.err_text();
  const std::string events = std::string(kPrefix) + "/3/availability";
  const auto states = [&](const std::vector<Message>& got) {
    std::vector<std::string> out;  // JSON events as their state, the retained word as it is
    for (const Message& m : got)
      if (m.topic == events) {
        const auto v = json_of(m.payload);
        out.push_back(v ? (*v)["state"].asString() + " event" : m.payload);
      }
    return out;
  };
  ASSERT_TRUE(sub->wait_for(
      [&](const std::vector<Message>& got) { return states(got).size() >= 4 && seen(got, 1).last >= 3; }, kWait))
      << host.err_text();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
  const std::vector<Message> got = sub->messages();
  EXPECT_EQ(states(got), (std::vector<std::string>{"offline event", "offline", "online event", "online"}));
  for (const Message& m : got)
    if (m.topic == events)
      if (const auto v = json_of(m.payload)) {
        EXPECT_TRUE((*v)["seq"].isIntegral());
        EXPECT_FALSE((*v)["time"].asString().empty());
      }
  // Each meter counts its own, from 1.
  for (const std::uint32_t meter : {1u, 3u}) {
    SCOPED_TRACE(meter);
    const Seen s = seen(got, meter);
    expect_in_order(s);
    expect_nothing_lost(s, left_in(history, meter));
    EXPECT_EQ(*s.numbers.begin(), 1);
  }
}

TEST_F(MqttSite, OverItsCapTheOutboxDropsTheOldestStatesAndSaysSo) {
  broker.stop();
  // About seven state messages fit in 50 kB.
  HostRun host(host_args(broker.url(), {"--outbox-max-mb", "0.05"}));
  ASSERT_TRUE(host.err().wait_for("completed in", kEventTimeout, 20)) << host.err_text();
  ASSERT_NO_FATAL_FAILURE(bring_broker_back(host));
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();

  const std::vector<Message> got = sub->messages();
  const Seen s = seen(got, 1);
  ASSERT_FALSE(s.dropped.empty()) << host.err_text();
  std::size_t gaps = 0;
  for (const Message& m : got)
    if (m.topic == std::string(kPrefix) + "/1/gap") {
      ++gaps;
      const auto v = json_of(m.payload);
      ASSERT_TRUE(v);
      EXPECT_EQ((*v)["reason"].asString(), "outbox full");
    }
  EXPECT_GE(gaps, 1u);
  // The oldest went: what was dropped comes before what was sent.
  EXPECT_LT(*s.dropped.rbegin(), *std::max_element(s.firstTimes.begin(), s.firstTimes.end()));
  for (const std::int64_t n : s.dropped) EXPECT_FALSE(s.numbers.count(n)) << n << " dropped and sent";
  expect_in_order(s);
  expect_nothing_lost(s, left_in(history, 1));
}

TEST_F(MqttSite, WrongPasswordOrCertificateIsRefusedLoggedOnceAndPollingGoesOn) {
  write_text(dir.path("wrong"), "not-the-password\n");
  struct Case {
    std::string url;
    std::string password;
    std::string says;
  };
  const Case cases[] = {
      {broker.url(), dir.path("wrong"), "the broker refused the connection"},
      {broker.wrong_tls_url(), broker.password_file_for_meter(), "TLS: "},
      // A prefix the access list does not grant: the broker says so for
      // each message, and none leaves the outbox.
      {broker.url(), broker.password_file_for_meter(), "the broker refused messages under elsewhere/site: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    std::vector<std::string> args = host_args(c.url);
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "--mqtt-password-file") args[i + 1] = c.password;
      if (args[i] == "--mqtt-prefix" && c.says.find("elsewhere") != std::string::npos) args[i + 1] = "elsewhere/site";
    }
    std::filesystem::remove(history);
    HostRun host(args);
    ASSERT_TRUE(host.err().wait_for("mqtt: cannot use the broker " + c.url + ": " + c.says, kEventTimeout))
        << host.err_text();
    // Tries go on at the back-off (1 s, 2 s, 4 s): rounds meanwhile.
    ASSERT_TRUE(host.err().wait_for("completed in", kEventTimeout, 25)) << host.err_text();
    host.send("quit");
    EXPECT_EQ(host.wait(), 0) << host.err_text();
    const std::string err = host.err_text();
    EXPECT_EQ(count_of(err, "mqtt: cannot use the broker"), 1u) << err;
    EXPECT_EQ(err.find("mqtt: connected"), std::string::npos) << err;
    EXPECT_NE(err.find("0 not stored"), std::string::npos) << err;
    EXPECT_GT(left_in(history, 1).waiting.size(), 15u) << "kept for later";
  }
}

}  // namespace
