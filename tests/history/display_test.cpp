// The table of a round: every row a member of the catalogue with a unit,
// values at the meter's resolution, columns aligned on a terminal.
#include <gtest/gtest.h>

#include <set>

#include "acquisition/data_block.h"
#include "publication/snapshot.h"
#include "reading_table.h"
#include "signal_display.h"
#include "support/image.h"
#include "text_width.h"

namespace {

using readings::display_groups;

TEST(Display, EveryRowIsANumericMemberShownOnce) {
  std::set<std::string> seen;
  for (const auto& g : display_groups()) {
    for (std::size_t i = 0; i < g.count; ++i) {
      const kvrm::SignalRow* row = readings::catalogue_row(g.rows[i].name);
      ASSERT_NE(row, nullptr) << g.rows[i].name;
      EXPECT_NE(row->decoding, kvrm::Decoding::Time);
      EXPECT_TRUE(seen.insert(g.rows[i].name).second) << g.rows[i].name;
    }
  }
  // Every instantaneous quantity is on the table.
  for (std::size_t i = kvrm::kNumericSignals - 32; i < kvrm::kNumericSignals; ++i)
    EXPECT_EQ(seen.count(kvrm::kSignalCatalogue[i].name), 1u) << kvrm::kSignalCatalogue[i].name;
}

TEST(Display, EveryNumericMemberHasAUnit) {
  struct Case {
    const char* name;
    const char* unit;
  };
  const Case cases[] = {
      {"A相电压", "V"},          {"三相平均线电压", "V"},          {"C相电流", "A"},
      {"有功总功率", "kW"},      {"B相无功总功率", "kvar"},        {"总视在功率", "kVA"},
      {"总功率因数", ""},        {"A相相角", "°"},                 {"电网频率", "Hz"},
      {"正向有功总电能", "kWh"}, {"反向有功深谷电能（0.001）", "kWh"}, {"3象限无功深谷电能", "kvarh"},
      {"组合无功1尖电能（乘变比）", "kvarh"}, {"正向视在平电能", "kVAh"},
  };
  for (const Case& c : cases) EXPECT_EQ(readings::unit_of(c.name), std::optional<std::string>(c.unit)) << c.name;
  for (std::size_t i = 0; i < kvrm::kNumericSignals; ++i)
    EXPECT_TRUE(readings::unit_of(kvrm::kSignalCatalogue[i].name).has_value()) << kvrm::kSignalCatalogue[i].name;
  EXPECT_FALSE(readings::unit_of("更新时间").has_value());
  EXPECT_FALSE(readings::unit_of("A相电压x").has_value());
}

TEST(Display, WideCharactersTakeTwoColumns) {
  EXPECT_EQ(readings::display_width("A相电压"), 7u);
  EXPECT_EQ(readings::display_width("正向有功总电能（0.001）"), 23u);
  EXPECT_EQ(readings::display_width("13.0 °"), 6u);
  EXPECT_EQ(readings::display_width(readings::pad_right("电网频率", 10)), 10u);
}

Json::Value snapshot_of(const std::map<unsigned, std::uint16_t>& image) {
  std::vector<unsigned char> block(kvrm::kBlockSize, 0);
  for (const auto& [reg, value] : image) kvrm::write_uint16(block.data(), kvrm::register_offset(reg), value);
  const unsigned char stamp[7] = {0xE8, 0x07, 3, 5, 7, 4, 9};  // 2024-3-5 7:4:9
  std::copy(stamp, stamp + 7, block.begin() + kvrm::kTimeOffset);
  Json::Value snapshot;
  kvrm::write_snapshot(snapshot, block.data());
  return snapshot;
}

std::string line_with(const std::string& text, const std::string& needle) {
  const auto at = text.find(needle);
  if (at == std::string::npos) return {};
  const auto start = text.rfind('\n', at);
  return text.substr(start == std::string::npos ? 0 : start + 1, text.find('\n', at) - (start + 1));
}

TEST(Display, TableShowsTheRoundsValuesAtTheMetersResolution) {
  readings::RoundReading r;
  r.dataId = 12;
  r.round = 4;
  r.durationMs = 1403;
  r.snapshot = snapshot_of(tools_test::tricky_image());
  r.alarms.push_back({"0406101001", "A相电压", 2, "230.100006", "当前值230.100006高于阈值:230"});
  const std::string text = readings::render_reading(r);
  EXPECT_EQ(text.substr(0, text.find('\n')), "meter 12 · round 4 · 2024-03-05 07:04:09 · 1403 ms");
  EXPECT_NE(line_with(text, "A相电压").find("230.1000 V"), std::string::npos) << text;
  EXPECT_NE(line_with(text, "总功率因数").find("-0.150"), std::string::npos) << text;
  EXPECT_NE(line_with(text, "A相相角").find("6553.5 °"), std::string::npos) << text;
  EXPECT_NE(line_with(text, "电网频率").find("50.00 Hz"), std::string::npos) << text;
  EXPECT_NE(line_with(text, "正向有功总电能").find("-0.01 kWh"), std::string::npos) << text;
  EXPECT_NE(text.find("Alarms in force: 1\n  0406101001 A相电压 = 230.100006, level 2: 当前值230.100006高于阈值:230\n"),
            std::string::npos)
      << text;

  // The values end in one column whatever the width of the names.
  std::set<std::size_t> valueEnds;
  for (const auto& g : display_groups()) {
    for (std::size_t i = 0; i < g.count; ++i) {
      const std::string line = line_with(text, std::string("  ") + g.rows[i].label);
      ASSERT_FALSE(line.empty()) << g.rows[i].label;
      const std::string unit = readings::unit_of(g.rows[i].name).value_or("");
      const std::string value = unit.empty() ? line : line.substr(0, line.size() - unit.size() - 1);
      valueEnds.insert(readings::display_width(value));
    }
  }
  EXPECT_EQ(valueEnds.size(), 1u);
}

TEST(Display, BeforeAnyRoundTheTableSaysSo) {
  readings::RoundReading r;
  const std::string text = readings::render_reading(r);
  EXPECT_NE(text.find("no time yet"), std::string::npos);
  EXPECT_NE(line_with(text, "A相电压").find(" - V"), std::string::npos) << text;
  EXPECT_NE(text.find("Alarms in force: none"), std::string::npos);
}

TEST(Display, NumbersThatAreNotFinite) {
  EXPECT_EQ(readings::fixed_text(std::nan(""), 2), "nan");
  EXPECT_EQ(readings::fixed_text(-HUGE_VAL, 2), "-inf");
  EXPECT_EQ(readings::fixed_text(230.10000610351562, 4), "230.1000");
}

}  // namespace
