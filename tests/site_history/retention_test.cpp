#include <gtest/gtest.h>

#include "history_blocks.h"
#include "support/temp_dir.h"

namespace {

using history_test::round_at;

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = history_test::kTestNow;

struct Counts {
  std::size_t records = 0, minutes = 0, hours = 0;
  std::int64_t oldestRecord = 0, oldestMinute = 0, oldestHour = 0;
};

Counts counts(hist::HistoryStore& store) {
  Counts c;
  std::string error;
  store.for_each_record(std::nullopt, [&](const hist::Record& r) {
    if (!c.records++) c.oldestRecord = r.time;
    return true;
  }, &error);
  const std::pair<std::size_t*, std::int64_t*> tiers[] = {{&c.minutes, &c.oldestMinute}, {&c.hours, &c.oldestHour}};
  for (std::size_t t = 0; t < hist::kTiers.size(); ++t)
    store.for_each_tier_row(t, std::nullopt, [&](const hist::TierRow& row) {
      if (!(*tiers[t].first)++) *tiers[t].second = row.stats.start;
      return true;
    }, &error);
  return c;
}

// Rounds of one meter, `perDay` a day for `days` days up to kNow.
void fill(hist::HistoryStore& store, int days, int perDay) {
  std::string error;
  unsigned n = 0;
  // Four rounds a commit, as a meter polled every 2.5 s gives them.
  for (int d = days; d > 0; --d)
    for (int k = 0; k < perDay; k += 4) {
      hist::Batch batch;
      for (int i = k; i < k + 4 && i < perDay; ++i)
        batch.rounds.push_back(round_at(1, kNow - d * kDay + i * (kDay / perDay), n++));
      ASSERT_TRUE(store.commit(batch, &error)) << error;
    }
  ASSERT_TRUE(store.write_open_periods(&error)) << error;
}

void prune_all(hist::HistoryStore& store, int* passes = nullptr) {
  std::string error;
  bool more = true;
  int n = 0;
  while (more) {
    ASSERT_TRUE(store.prune(kNow, 4, &more, &error)) << error;
    ++n;
  }
  if (passes) *passes = n;
}

TEST(HistoryRetention, EachPartKeepsItsDaysCountedBackFromNow) {
  kvtest::TempDir dir;
  hist::HistoryStore store;
  std::string error;
  ASSERT_TRUE(store.open(dir.path("h.db"), &error)) << error;
  store.set_retention(hist::Retention{3, 10, 20, 1LL << 40});
  fill(store, 30, 48);  // one round every half hour for 30 days
  const Counts before = counts(store);
  EXPECT_EQ(before.records, 30u * 48u);
  EXPECT_EQ(before.minutes, 30u * 48u);
  EXPECT_EQ(before.hours, 30u * 24u);

  int passes = 0;
  prune_all(store, &passes);
  EXPECT_GT(passes, 1);  // in small steps
  const Counts after = counts(store);
  EXPECT_EQ(after.records, 3u * 48u);
  EXPECT_GE(after.oldestRecord, kNow - 3 * kDay);
  EXPECT_EQ(after.minutes, 10u * 48u);
  EXPECT_GE(after.oldestMinute, kNow - 10 * kDay);
  EXPECT_EQ(after.hours, 20u * 24u);
  EXPECT_GE(after.oldestHour, kNow - 20 * kDay);
  EXPECT_EQ(history_test::query(dir.path("h.db"), "PRAGMA integrity_check"), "ok");
}

TEST(HistoryRetention, CapTakesTheOldestBlocksFirstThenTheOldestMinutes) {
  kvtest::TempDir dir;
  const std::string path = dir.path("h.db");
  hist::HistoryStore store;
  std::string error;
  ASSERT_TRUE(store.open(path, &error)) << error;
  fill(store, 20, 240);
  const Counts full = counts(store);
  const std::int64_t used = store.used_bytes();

  // A cap a little under what is used: blocks go, the tiers stay.
  store.set_retention(hist::Retention{3650, 3650, 3650, used - 64 * 1024});
  prune_all(store);
  const Counts capped = counts(store);
  EXPECT_LE(store.used_bytes(), used - 64 * 1024);
  EXPECT_LT(capped.records, full.records);
  EXPECT_GT(capped.records, 0u);
  EXPECT_GT(capped.oldestRecord, full.oldestRecord);
  EXPECT_EQ(capped.minutes, full.minutes);
  EXPECT_EQ(capped.hours, full.hours);

  // A cap under what the blocks and the minutes take: every block but those
  // of the newest commit, then the oldest minutes; the hours stay.
  const std::int64_t tight = store.used_bytes() / 4;
  store.set_retention(hist::Retention{3650, 3650, 3650, tight});
  prune_all(store);
  const Counts tighter = counts(store);
  EXPECT_LE(tighter.records, 4u);  // the newest commit's
  EXPECT_LT(tighter.minutes, full.minutes);
  EXPECT_GT(tighter.oldestMinute, full.oldestMinute);
  EXPECT_EQ(tighter.hours, full.hours);
  EXPECT_LE(store.used_bytes(), tight);
  EXPECT_EQ(history_test::query(path, "PRAGMA integrity_check"), "ok");

  // Freed pages are used again by the next rounds.
  const std::string freeBefore = history_test::query(path, "PRAGMA freelist_count");
  hist::Batch batch;
  for (unsigned n = 0; n < 400; ++n) batch.rounds.push_back(round_at(1, kNow + n, n));
  ASSERT_TRUE(store.commit(batch, &error)) << error;
  EXPECT_LT(std::stoll(history_test::query(path, "PRAGMA freelist_count")), std::stoll(freeBefore));
}

}  // namespace
