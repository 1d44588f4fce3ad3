// The bench host's history database, on real files.
#include <gtest/gtest.h>

#include <vector>

#include "history_store.h"
#include "support/runs.h"

namespace {

using meter_host::AlarmEvent;
using History = hist::HistoryStore;

// One round of a data id, committed alone.
bool store(History& h, std::uint32_t dataId, const std::vector<unsigned char>& block, std::string* error) {
  return h.commit(hist::Batch{{hist::StoredRound{dataId, 1767225600, block}}, {}}, error);
}

bool record_alarm(History& h, const AlarmEvent& event, std::string* error) {
  return h.commit(hist::Batch{{}, {hist::StoredAlarm{1767225600, event}}}, error);
}

std::vector<unsigned char> block_of(unsigned char fill) { return std::vector<unsigned char>(915, fill); }

TEST(HistoryStore, NewestRecordOfEachDataIdComesBackByteForByte) {
  tools_test::TempDir dir;
  History h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error)) << error;
  EXPECT_FALSE(h.newest(7, &error));
  auto a = block_of(1), b = block_of(2), c = block_of(3);
  a[0] = 0;
  b[914] = 0xFF;
  ASSERT_TRUE(store(h, 7, a, &error));
  ASSERT_TRUE(store(h, 8, c, &error));
  ASSERT_TRUE(store(h, 7, b, &error));
  const auto newest = h.newest(7, &error);
  ASSERT_TRUE(newest);
  EXPECT_EQ(newest->block, b);
  EXPECT_EQ(newest->dataId, 7u);
  EXPECT_EQ(newest->time, 1767225600);
  EXPECT_EQ(h.newest(8, &error)->block, c);
  const auto all = h.records(7, &error);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].block, a);
  EXPECT_EQ(error, "");
}

TEST(HistoryStore, RecordsOutliveTheProcessThatStoredThem) {
  tools_test::TempDir dir;
  std::string error;
  const auto block = block_of(9);
  {
    History h;
    ASSERT_TRUE(h.open(dir.path("h.db"), &error));
    ASSERT_TRUE(store(h, 1, block, &error));
  }
  History again;
  ASSERT_TRUE(again.open(dir.path("h.db"), &error));
  ASSERT_TRUE(again.newest(1, &error));
  EXPECT_EQ(again.newest(1, &error)->block, block);
}

TEST(HistoryStore, AlarmStatesAreTheLastRecordedOfEachId) {
  tools_test::TempDir dir;
  History h;
  std::string error;
  ASSERT_TRUE(h.open(dir.path("h.db"), &error));
  ASSERT_TRUE(record_alarm(h, AlarmEvent{1, "a001", "A相电压", 2, true, "251", "t"}, &error));
  ASSERT_TRUE(record_alarm(h, AlarmEvent{1, "b003", "电网频率", 2, true, "49.9", "t"}, &error));
  ASSERT_TRUE(record_alarm(h, AlarmEvent{1, "a001", "A相电压", 2, false, "240", ""}, &error));
  ASSERT_TRUE(record_alarm(h, AlarmEvent{2, "a001", "A相电压", 2, true, "260", "t"}, &error));
  EXPECT_EQ(h.alarm_states(1, &error), (std::map<std::string, bool>{{"a001", false}, {"b003", true}}));
  EXPECT_EQ(h.alarm_states(2, &error), (std::map<std::string, bool>{{"a001", true}}));
  const auto events = h.alarm_events(1, &error);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[2].alarmId, "a001");
  EXPECT_FALSE(events[2].raised);
  EXPECT_EQ(events[2].valueText, "240");
  EXPECT_EQ(events[1].signal, "电网频率");
  EXPECT_EQ(events[1].level, 2);
}

TEST(HistoryStore, AFileThatIsNoDatabaseIsRefused) {
  tools_test::TempDir dir;
  tools_test::write_text(dir.path("junk.db"), std::string(4096, 'x'));
  History h;
  std::string error;
  EXPECT_FALSE(h.open(dir.path("junk.db"), &error));
  EXPECT_NE(error.find("junk.db"), std::string::npos);
  EXPECT_FALSE(h.open(dir.path("no/such/dir/h.db"), &error));
}

}  // namespace
