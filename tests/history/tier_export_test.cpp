// meter-history over the tiers: --step rows with each member's min, mean
// and max, the list of every part, and a chart that falls back to a tier
// where the blocks are gone.
#include <gtest/gtest.h>

#include "block_time.h"
#include "history_plot.h"
#include "history_run.h"
#include "history_store.h"
#include "support/image.h"

namespace {

using namespace history_test;
using namespace tools_test;

// A block at a local time with A相电压 (registers 366, 367: int32 / 10000).
hist::StoredRound voltage_at(const char* time, std::int32_t tenthsOfMillivolt) {
  const auto raw = static_cast<std::uint32_t>(tenthsOfMillivolt);
  hist::StoredRound r;
  r.dataId = 1;
  r.block = expected_block({{366, static_cast<std::uint16_t>(raw >> 16)}, {367, static_cast<std::uint16_t>(raw & 0xFFFF)}},
                           0, time);
  r.time = *readings::local_epoch(readings::block_time(r.block.data()));
  return r;
}

void store_rounds(const std::string& db, const std::vector<hist::StoredRound>& rounds) {
  hist::HistoryStore store;
  std::string error;
  ASSERT_TRUE(store.open(db, &error)) << error;
  for (const hist::StoredRound& r : rounds) ASSERT_TRUE(store.commit(hist::Batch{{r}, {}}, &error)) << error;
  ASSERT_TRUE(store.write_open_periods(&error)) << error;
}

TEST(HistoryTiers, StepRowsGiveTheMinMeanAndMaxOfEachPeriod) {
  TempDir dir;
  const std::string db = dir.path("h.db");
  store_rounds(db, {voltage_at("2024-3-5 7:4:0", 2300000), voltage_at("2024-3-5 7:4:20", 2310000),
                    voltage_at("2024-3-5 7:4:40", 2320000), voltage_at("2024-3-5 7:5:0", 2290000)});
  const Ran minutes = history({"csv", db, "--step", "1m", "--signals", "A相电压"});
  ASSERT_EQ(minutes.status, 0) << minutes.err;
  EXPECT_EQ(minutes.out,
            "time,data_id,rounds,A相电压 min,A相电压 mean,A相电压 max\n"
            "2024-03-05T07:04:00,1,3,230,231,232\n"
            "2024-03-05T07:05:00,1,1,229,229,229\n");
  const Ran hours = history({"csv", db, "--step", "1h", "--signals", "A相电压"});
  ASSERT_EQ(hours.status, 0) << hours.err;
  EXPECT_EQ(lines_of(hours.out).at(1), "2024-03-05T07:00:00,1,4,229,230.5,232");

  const Ran lp = history({"lines", db, "--step", "1m", "--signals", "A相电压", "--from", "2024-03-05T07:05"});
  ASSERT_EQ(lp.status, 0) << lp.err;
  ASSERT_EQ(lines_of(lp.out).size(), 1u) << lp.out;
  EXPECT_EQ(lp.out.rfind("kvrm4410t_q,data_id=1,step=1m rounds=1i,A相电压_min=229,A相电压_mean=229,A相电压_max=229 ", 0),
            0u)
      << lp.out;
  EXPECT_EQ(history({"csv", db, "--step", "5m"}).status, 2);
}

TEST(HistoryTiers, ListShowsEveryPartOfEachMeterAndTheFileSize) {
  TempDir dir;
  const std::string db = dir.path("h.db");
  store_rounds(db, {voltage_at("2024-3-5 7:4:0", 2300000), voltage_at("2024-3-5 8:5:0", 2290000)});
  const Ran list = history({"list", db});
  ASSERT_EQ(list.status, 0) << list.err;
  const auto lines = lines_of(list.out);
  ASSERT_EQ(lines.size(), 5u) << list.out;
  EXPECT_EQ(lines[1], "1          blocks        2  2024-03-05T07:04:00  2024-03-05T08:05:00");
  EXPECT_EQ(lines[2], "1          1m            2  2024-03-05T07:04:00  2024-03-05T08:05:00");
  EXPECT_EQ(lines[3], "1          1h            2  2024-03-05T07:00:00  2024-03-05T08:00:00");
  EXPECT_EQ(lines[4].rfind("file " + db + ": ", 0), 0u) << lines[4];
}

TEST(HistoryTiers, ChartFallsBackToTheTierThatHoldsTheSpan) {
  TempDir dir;
  const std::string db = dir.path("h.db");
  store_rounds(db, {voltage_at("2024-3-5 7:4:0", 2300000), voltage_at("2024-3-5 7:5:0", 2310000),
                    voltage_at("2024-3-5 7:20:0", 2290000)});
  {
    hist::HistoryStore store;
    std::string error;
    ASSERT_TRUE(store.open(db, &error)) << error;
    store.set_retention(hist::Retention{0, 35, 3650, 1LL << 40});
    bool more = false;
    ASSERT_TRUE(store.prune(voltage_at("2024-3-5 7:30:0", 0).time, 8, &more, &error)) << error;
  }
  const Ran blocks = history({"csv", db, "--signals", "A相电压"});
  ASSERT_EQ(lines_of(blocks.out).size(), 2u) << "the newest block stays: " << blocks.out;

  const Ran chart = history({"plot", db, "--signals", "A相电压", "--out", dir.path("c.png")});
  ASSERT_EQ(chart.status, 0) << chart.err;
  EXPECT_NE(chart.err.find("the blocks of that span are no longer kept: 3 minutes plotted from the per-minute tier"),
            std::string::npos)
      << chart.err;
  const Ran late = history({"plot", db, "--signals", "A相电压", "--from", "2024-03-05T07:20", "--out", dir.path("d.png")});
  ASSERT_EQ(late.status, 0) << late.err;
  EXPECT_NE(late.err.find("1 rounds plotted to"), std::string::npos) << late.err;
}

TEST(HistoryTiers, ChartSourceIsThePartThatHoldsTheSpanStart) {
  using meter_history::PartStarts;
  const std::int64_t t = 1700000000;
  const struct {
    PartStarts starts;
    std::optional<std::int64_t> from;
    std::optional<std::size_t> tier;
  } cases[] = {
      {{t, t, t}, std::nullopt, std::nullopt},               // everything there: the blocks
      {{t + 59, t, t}, std::nullopt, std::nullopt},          // blocks start within the first minute
      {{t + 3 * 86400, t, t}, std::nullopt, 0},              // blocks gone: minutes
      {{t + 40 * 86400, t + 5 * 86400, t}, std::nullopt, 1},  // minutes gone too: hours
      {{t + 40 * 86400, t + 5 * 86400, t}, t + 6 * 86400, 0},
      {{t + 40 * 86400, t + 5 * 86400, t}, t + 41 * 86400, std::nullopt},
      {{std::nullopt, t, t}, std::nullopt, 0},
      {{std::nullopt, std::nullopt, std::nullopt}, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(meter_history::choose_source(c.starts, c.from).tier, c.tier);
}

}  // namespace
