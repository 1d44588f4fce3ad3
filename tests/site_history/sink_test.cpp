#include <gtest/gtest.h>

#include <memory>

#include "history_blocks.h"
#include "history_sink.h"
#include "support/temp_dir.h"

namespace {

using history_test::round_at;

meter_host::CompletedRound completed(std::uint32_t dataId, std::int64_t time, unsigned n) {
  meter_host::CompletedRound r;
  r.meter.dataId = dataId;
  r.round = n;
  r.time = static_cast<std::time_t>(time);
  r.block = round_at(dataId, time, n).block;
  return r;
}

std::shared_ptr<hist::HistoryStore> open_store(const std::string& path) {
  auto store = std::make_shared<hist::HistoryStore>();
  std::string error;
  EXPECT_TRUE(store->open(path, &error)) << error;
  return store;
}

std::size_t record_count(hist::HistoryStore& store) {
  std::size_t n = 0;
  std::string error;
  store.for_each_record(std::nullopt, [&](const hist::Record&) { return ++n, true; }, &error);
  return n;
}

// Nothing is committed before the stop (the interval is an hour); the
// stop stores every round handed over, and the tiers hold them all.
TEST(HistorySink, StopStoresExactlyTheRoundsHandedOver) {
  kvtest::TempDir dir;
  const std::string path = dir.path("h.db");
  auto store = open_store(path);
  hist::HistoryOptions options;
  options.commitSeconds = 3600;
  std::vector<std::string> log;
  {
    hist::HistorySink sink(store, options, [&](const std::string& l) { log.push_back(l); }, history_test::test_now);
    for (unsigned n = 0; n < 37; ++n) sink.round_completed(completed(n % 2 + 1, history_test::kTestNow + n, n));
    sink.stopped(meter_host::RunEnd{});
    EXPECT_EQ(sink.rounds_stored(), 37u);
    EXPECT_EQ(sink.rounds_not_stored(), 0u);
  }
  EXPECT_EQ(record_count(*store), 37u);
  std::string error;
  unsigned held = 0;
  store->for_each_tier_row(0, std::nullopt, [&](const hist::TierRow& r) { return held += r.stats.rounds, true; },
                           &error);
  EXPECT_EQ(held, 37u);
  EXPECT_TRUE(log.empty());
}

TEST(HistorySink, AlarmsAreStoredWithTheRoundsAndReadBackAsLastStates) {
  kvtest::TempDir dir;
  auto store = open_store(dir.path("h.db"));
  hist::HistorySink sink(store, hist::HistoryOptions{}, {}, history_test::test_now);
  const auto change = [](const char* id, bool raised) {
    meter_host::AlarmChange c;
    c.meter.dataId = 5;
    c.time = history_test::kTestNow;
    c.event = meter_host::AlarmEvent{5, id, "A相电压", 2, raised, "250", "A相电压 high"};
    return c;
  };
  sink.round_completed(completed(5, history_test::kTestNow, 0));
  sink.alarm_changed(change("a1", true));
  sink.alarm_changed(change("a2", true));
  sink.alarm_changed(change("a1", false));
  sink.flush();
  std::string error;
  EXPECT_EQ(store->alarm_states(5, &error), (std::map<std::string, bool>{{"a1", false}, {"a2", true}}));
  EXPECT_EQ(store->alarm_events(5, &error).size(), 3u);
  const auto newest = store->newest(5, &error);
  ASSERT_TRUE(newest);
  EXPECT_EQ(newest->block, completed(5, history_test::kTestNow, 0).block);
  EXPECT_FALSE(store->newest(6, &error));
}

// The tiers of a meter whose rows a crash left behind its records catch
// up at the next start from the records stored since.
TEST(HistorySink, NextStartAddsRecordsTheTiersDoNotHoldYet) {
  kvtest::TempDir dir;
  const std::string path = dir.path("h.db");
  {
    hist::HistoryStore store;
    std::string error;
    ASSERT_TRUE(store.open(path, &error)) << error;
    hist::Batch batch;
    for (unsigned n = 0; n < 150; ++n) batch.rounds.push_back(round_at(1, history_test::kTestNow + n, n));
    ASSERT_TRUE(store.commit(batch, &error)) << error;  // two minutes written, the third open: not written
  }
  hist::HistoryStore store;
  std::string error;
  ASSERT_TRUE(store.open(path, &error)) << error;
  ASSERT_TRUE(store.write_open_periods(&error)) << error;
  for (std::size_t t = 0; t < hist::kTiers.size(); ++t) {
    unsigned held = 0;
    store.for_each_tier_row(t, 1, [&](const hist::TierRow& r) { return held += r.stats.rounds, true; }, &error);
    EXPECT_EQ(held, 150u) << hist::kTiers[t].table;
  }
}

}  // namespace
