// The telemetry outbox in the history file: numbering that survives a
// restart, rows deleted once acknowledged and never reused, the size and
// age bounds (state messages first) with the runs they drop named.
#include <gtest/gtest.h>

#include "history_blocks.h"
#include "support/temp_dir.h"

namespace {

using history_test::query;

constexpr std::int64_t kSentAt = history_test::kTestNow;

hist::OutboxMessage message(std::uint32_t dataId, const std::string& kind, std::int64_t time,
                            std::size_t bodyBytes = 10, bool counted = true) {
  hist::OutboxMessage m;
  m.dataId = dataId;
  m.kind = kind;
  m.counted = counted;
  m.time = time;
  m.topic = std::to_string(dataId) + "/" + kind;
  m.body = "{\"k\":\"" + std::string(bodyBytes, 'x') + "\"}";
  return m;
}

// A gap message as the telemetry makes one, in a form the tests read back.
hist::OutboxMessage gap(const hist::DroppedRun& run, std::int64_t now) {
  hist::OutboxMessage m;
  m.dataId = run.dataId;
  m.kind = "gap";
  m.time = now;
  m.topic = std::to_string(run.dataId) + "/gap";
  m.body = "{\"from\":" + std::to_string(run.from) + ",\"to\":" + std::to_string(run.to) + ",\"reason\":\"" +
           run.reason + "\"}";
  return m;
}

std::vector<hist::QueuedMessage> all(hist::HistoryStore& store) {
  std::vector<hist::QueuedMessage> rows;
  std::string error;
  EXPECT_TRUE(store.outbox_after(0, 100000, &rows, &error)) << error;
  return rows;
}

void commit(hist::HistoryStore& store, hist::Batch batch) {
  std::string error;
  ASSERT_TRUE(store.commit(batch, &error)) << error;
}

struct Outbox : ::testing::Test {
  kvtest::TempDir dir;
  std::string path = dir.path("h.db");
  hist::HistoryStore store;
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(store.open(path, &error)) << error;
  }
};

TEST_F(Outbox, EachMeterCountsItsOwnMessagesAcrossARestart) {
  hist::Batch b;
  b.messages = {message(1, "meta", kSentAt, 10, false), message(1, "state", kSentAt), message(2, "state", kSentAt),
                message(1, "alarm", kSentAt), message(1, "availability", kSentAt, 10, false)};
  commit(store, b);
  auto rows = all(store);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].payload, "{\"k\":\"xxxxxxxxxx\"}") << "not counted: no number";
  EXPECT_EQ(rows[1].payload, "{\"seq\":1,\"k\":\"xxxxxxxxxx\"}");
  EXPECT_EQ(rows[2].seq, 1);
  EXPECT_EQ(rows[3].seq, 2);
  EXPECT_EQ(rows[4].seq, 0);
  EXPECT_EQ(rows[3].topic, "1/alarm");

  // Everything acknowledged, then a restart: the numbers go on, the rows'
  // ids too (the sender reads on after the last it sent).
  hist::Batch acked;
  for (const auto& r : rows) acked.sent.push_back(r.id);
  commit(store, acked);
  EXPECT_EQ(store.outbox_figures().messages, 0);
  EXPECT_TRUE(all(store).empty());
  hist::HistoryStore again;
  std::string error;
  ASSERT_TRUE(again.open(path, &error)) << error;
  hist::Batch more;
  more.messages = {message(1, "state", kSentAt + 60), message(2, "state", kSentAt + 60)};
  commit(again, more);
  rows = all(again);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].seq, 3);
  EXPECT_EQ(rows[1].seq, 2);
  EXPECT_GT(rows[0].id, acked.sent.back());
}

TEST_F(Outbox, AFailedCommitGivesNoNumberAway) {
  hist::Batch b;
  b.messages = {message(1, "state", kSentAt)};
  commit(store, b);
  // Another writer holds the file: the commit fails, and the number its
  // message would have had goes to the next one instead.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::string error;
  hist::Batch blocked;
  blocked.messages = {message(1, "state", kSentAt + 1)};
  EXPECT_FALSE(store.commit(blocked, &error));
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  commit(store, blocked);
  const auto rows = all(store);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].seq, 2);
  EXPECT_EQ(store.outbox_figures().messages, 2);
}

TEST_F(Outbox, OverItsSizeTheOldestStatesGoFirstAndEachRunIsNamed) {
  hist::OutboxLimits limits;
  limits.maxBytes = 10'000;
  limits.maxDays = 0;
  limits.gapMessage = gap;
  store.set_outbox_limits(limits);
  // States 1-2, an alarm (3), states 4-9 of about 1 KB each, then an
  // alarm (10): about 9 KB, under the bound.
  hist::Batch b;
  b.now = kSentAt;
  b.messages = {message(1, "state", kSentAt, 1000), message(1, "state", kSentAt, 1000), message(1, "alarm", kSentAt)};
  for (int i = 0; i < 6; ++i) b.messages.push_back(message(1, "state", kSentAt + i, 1000));
  b.messages.push_back(message(1, "alarm", kSentAt + 7));
  commit(store, b);
  EXPECT_EQ(store.outbox_figures().dropped, 0u);

  // Three more states: over the bound, cut back to 90 % of it.
  hist::Batch over;
  over.now = kSentAt + 10;
  over.messages = {message(1, "state", kSentAt + 8, 1000), message(1, "state", kSentAt + 9, 1000),
                   message(1, "state", kSentAt + 10, 1000)};
  commit(store, over);
  const hist::OutboxFigures f = store.outbox_figures();
  EXPECT_LE(f.bytes, 9'000 + 200);  // the gap messages come after the cut
  EXPECT_EQ(f.dropped, 3u);

  std::vector<std::int64_t> seqs;
  std::vector<std::string> gaps;
  for (const auto& r : all(store)) {
    seqs.push_back(r.seq);
    if (r.topic == "1/gap") gaps.push_back(r.payload);
  }
  // 1, 2 and 4 dropped; the alarm between them kept.
  EXPECT_EQ(seqs, (std::vector<std::int64_t>{3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(gaps, (std::vector<std::string>{"{\"seq\":14,\"from\":1,\"to\":2,\"reason\":\"outbox full\"}",
                                            "{\"seq\":15,\"from\":4,\"to\":4,\"reason\":\"outbox full\"}"}));
}

TEST_F(Outbox, OnlyAlarmsLeftTheyGoToo) {
  hist::OutboxLimits limits;
  limits.maxBytes = 3'000;
  limits.maxDays = 0;
  limits.gapMessage = gap;
  store.set_outbox_limits(limits);
  hist::Batch b;
  b.now = kSentAt;
  for (int i = 0; i < 4; ++i) b.messages.push_back(message(7, "alarm", kSentAt + i, 1000));
  commit(store, b);
  const auto rows = all(store);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].seq, 3);
  EXPECT_EQ(rows[2].payload, "{\"seq\":5,\"from\":1,\"to\":2,\"reason\":\"outbox full\"}");
}

TEST_F(Outbox, PastItsAgeStatesThenTheRestGo) {
  hist::OutboxLimits limits;
  limits.maxDays = 1;
  limits.gapMessage = gap;
  store.set_outbox_limits(limits);
  hist::Batch b;
  b.now = kSentAt;
  b.messages = {message(1, "state", kSentAt - 3 * 86400), message(1, "alarm", kSentAt - 3 * 86400),
                message(1, "state", kSentAt - 2 * 86400), message(1, "state", kSentAt - 3600)};
  commit(store, b);
  std::vector<std::string> payloads;
  for (const auto& r : all(store)) payloads.push_back(r.payload);
  ASSERT_EQ(payloads.size(), 2u);
  EXPECT_EQ(payloads[0], "{\"seq\":4,\"k\":\"xxxxxxxxxx\"}");
  EXPECT_EQ(payloads[1], "{\"seq\":5,\"from\":1,\"to\":3,\"reason\":\"outbox age\"}");
  EXPECT_EQ(store.outbox_figures().oldest, kSentAt - 3600);
}

TEST(OutboxLayout, AFileOfTheLayoutBeforeGainsTheOutbox) {
  kvtest::TempDir dir;
  const std::string path = dir.path("h.db");
  {
    hist::HistoryStore store;
    std::string error;
    ASSERT_TRUE(store.open(path, &error)) << error;
    ASSERT_TRUE(store.commit(hist::Batch{{history_test::round_at(1, kSentAt, 0)}, {}}, &error)) << error;
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DROP TABLE outbox; DROP TABLE outbox_seq; PRAGMA user_version = 1;", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  hist::HistoryStore store;
  std::string error;
  ASSERT_TRUE(store.open(path, &error)) << error;
  EXPECT_EQ(query(path, "PRAGMA user_version"), std::to_string(hist::kLayoutVersion));
  hist::Batch b;
  b.messages = {message(1, "state", kSentAt)};
  ASSERT_TRUE(store.commit(b, &error)) << error;
  EXPECT_EQ(all(store).size(), 1u);
  EXPECT_TRUE(store.newest(1, &error).has_value()) << "the rounds stay";
}

}  // namespace
