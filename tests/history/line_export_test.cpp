// The line-protocol export of a row: its time in nanoseconds, or no line
// when the time is outside what the protocol's 64-bit stamp can carry.
#include <gtest/gtest.h>

#include <string>

#include "block_time.h"
#include "history_export.h"

namespace {

using meter_history::HistoryRow;

HistoryRow row_at(int year) {
  HistoryRow row;
  row.dataId = 1;
  row.time = readings::BlockTime{year, 3, 5, 7, 4, 9};
  row.values = {1.5};
  return row;
}

std::string line_of(const HistoryRow& row) {
  const meter_history::Signals signals{meter_history::all_numeric_signals().front()};
  std::string out;
  meter_history::append_line(out, row, signals);
  return out;
}

TEST(LineExport, TimeIsInNanoseconds) {
  const HistoryRow row = row_at(2024);
  const auto epoch = readings::local_epoch(row.time);
  ASSERT_TRUE(epoch);
  const std::string line = line_of(row);
  const std::string stamp = " " + std::to_string(*epoch) + "000000000\n";
  ASSERT_GE(line.size(), stamp.size());
  EXPECT_EQ(line.substr(line.size() - stamp.size()), stamp) << line;
}

TEST(LineExport, NoLineForTimesTheStampCannotCarry) {
  EXPECT_EQ(line_of(row_at(0)), "");  // a block whose time stamp is all zeros
  EXPECT_EQ(line_of(row_at(1600)), "");
  EXPECT_EQ(line_of(row_at(2300)), "");
}

}  // namespace
