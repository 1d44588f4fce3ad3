#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "history_blocks.h"
#include "publication/signal_value.h"
#include "support/temp_dir.h"
#include "tier.h"

namespace {

using hist::kMembers;
using history_test::round_at;

TEST(TierPeriod, StartsAtTheLocalMinuteAndHour) {
  struct Case {
    std::int64_t time, seconds;
    long offset;
    std::int64_t start;
  };
  const Case cases[] = {
      {3600 * 10 + 61, 60, 0, 3600 * 10 + 60},
      {3600 * 10 + 61, 3600, 0, 3600 * 10},
      {3600 * 10 + 61, 3600, 1800, 3600 * 9 + 1800},  // half an hour east: hours start at :30 UTC
      {3600 * 10 + 61, 3600, -9000, 3600 * 9 + 1800},
      {59, 60, 0, 0},
      {-1, 60, 0, -60},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hist::period_start(c.time, c.seconds, c.offset), c.start) << c.time << " " << c.seconds << " " << c.offset;
}

TEST(TierStats, EncodedRowReadsBackTheSame) {
  hist::TierStats s;
  hist::MemberValues v{};
  for (unsigned n = 0; n < 5; ++n) {
    for (std::size_t i = 0; i < kMembers; ++i) v[i] = i % 3 ? 1.5 : static_cast<float>(n * 0.1 + i);
    v[4] = n == 2 ? std::numeric_limits<double>::quiet_NaN() : 4.0;
    v[5] = std::numeric_limits<double>::infinity();
    s.add(v);
  }
  const std::string blob = hist::encode_stats(s);
  hist::TierStats back;
  ASSERT_TRUE(hist::decode_stats(blob.data(), blob.size(), s.rounds, &back));
  for (std::size_t i = 0; i < kMembers; ++i) {
    EXPECT_EQ(back.members[i].min, s.members[i].min) << i;
    EXPECT_EQ(back.members[i].max, s.members[i].max) << i;
    EXPECT_EQ(back.members[i].sum, s.members[i].sum) << i;
    EXPECT_EQ(back.members[i].values, s.members[i].values) << i;
    EXPECT_EQ(back.members[i].skipped, s.members[i].skipped) << i;
  }
  EXPECT_EQ(back.members[4].skipped, 1u);
  EXPECT_EQ(back.members[5].values, 0u);
  EXPECT_TRUE(std::isnan(back.members[5].mean()));
  EXPECT_FALSE(hist::decode_stats(blob.data(), blob.size() - 1, s.rounds, &back));
}

// The members of the blocks, and the statistics of each period computed
// here plainly, in the order the rounds came.
struct Direct {
  double min = 0, max = 0, sum = 0;
  unsigned values = 0, skipped = 0;
};

TEST(TierStats, MinMeanMaxAndCountsMatchADirectComputationOverTheRounds) {
  kvtest::TempDir dir;
  hist::HistoryStore store;
  std::string error;
  ASSERT_TRUE(store.open(dir.path("h.db"), &error)) << error;

  std::vector<std::size_t> floats;
  for (std::size_t i = 0; i < kMembers; ++i)
    if (kvrm::kSignalCatalogue[i].decoding == kvrm::Decoding::F32) floats.push_back(i);
  ASSERT_GE(floats.size(), 3u);

  const std::int64_t t0 = history_test::kTestNow;
  const double odd[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  std::map<std::pair<std::size_t, std::int64_t>, std::array<Direct, kMembers>> expected;
  std::map<std::pair<std::size_t, std::int64_t>, unsigned> rounds;
  hist::Batch batch;
  for (unsigned n = 0; n < 200; ++n) {
    hist::StoredRound r = round_at(7, t0 + 2 * n, n);
    // Floats that are sometimes not finite, one of them never.
    for (std::size_t k = 0; k < 2; ++k)
      history_test::put_member(r.block.data(), kvrm::kSignalCatalogue[floats[k]],
                               n % (3 + k) == 0 ? odd[n % 3] : 0.25 * n - 10);
    history_test::put_member(r.block.data(), kvrm::kSignalCatalogue[floats[2]], odd[n % 3]);
    for (std::size_t t = 0; t < hist::kTiers.size(); ++t) {
      const auto key = std::make_pair(
          t, hist::period_start(r.time, hist::kTiers[t].seconds, history_test::local_offset(r.time)));
      ++rounds[key];
      auto& members = expected[key];
      for (std::size_t i = 0; i < kMembers; ++i) {
        const double v = kvrm::signal_value(r.block.data(), kvrm::kSignalCatalogue[i]);
        Direct& d = members[i];
        if (!std::isfinite(v)) {
          ++d.skipped;
          continue;
        }
        d.min = d.values ? std::min(d.min, v) : v;
        d.max = d.values ? std::max(d.max, v) : v;
        d.sum += v;
        ++d.values;
      }
    }
    batch.rounds.push_back(std::move(r));
    if (batch.rounds.size() == 7) {
      ASSERT_TRUE(store.commit(batch, &error)) << error;
      batch = {};
    }
  }
  ASSERT_TRUE(store.commit(batch, &error)) << error;
  ASSERT_TRUE(store.write_open_periods(&error)) << error;

  std::size_t rows = 0;
  for (std::size_t t = 0; t < hist::kTiers.size(); ++t) {
    ASSERT_TRUE(store.for_each_tier_row(t, 7, [&](const hist::TierRow& row) {
      ++rows;
      const auto key = std::make_pair(t, row.stats.start);
      EXPECT_EQ(row.stats.rounds, rounds[key]) << hist::kTiers[t].table << " " << row.stats.start;
      const auto& members = expected[key];
      for (std::size_t i = 0; i < kMembers; ++i) {
        const hist::MemberStats& m = row.stats.members[i];
        const Direct& d = members[i];
        SCOPED_TRACE(kvrm::kSignalCatalogue[i].name);
        EXPECT_EQ(m.values, d.values);
        EXPECT_EQ(m.skipped, d.skipped);
        if (!d.values) {
          EXPECT_TRUE(std::isnan(m.mean()));
          continue;
        }
        EXPECT_EQ(static_cast<double>(m.min), d.min);
        EXPECT_EQ(static_cast<double>(m.max), d.max);
        EXPECT_EQ(m.mean(), d.sum / d.values);
      }
      return true;
    }, &error)) << error;
  }
  EXPECT_EQ(rows, expected.size());
  EXPECT_EQ(rows, 7u + 1u);  // 400 s: seven minutes begun, one hour
}

}  // namespace
