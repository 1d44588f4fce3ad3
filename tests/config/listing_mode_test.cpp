// The JSON listing mode: composed ids, signal names and their log lines.
#include "config/listing.h"

#include <gtest/gtest.h>

#include "support/capture_stdout.h"
#include "support/driver_fixture.h"
#include "support/json.h"

namespace {

using Lines = std::vector<std::string>;
using TextMap = std::map<std::string, std::string>;

TEST(Listing, ComposedIdAlwaysHasThreeSemicolons) {
  struct Case {
    const char* member;
    const char* text;
    const char* lines;
  } const cases[] = {
      {R"({"NMAlarmID": "N", "ID": 7, "SignalNumber": "001"})", "N;7;001;", ""},
      {R"({"ID": "7"})", ";7;;", "12 NMAlarmID is missing\n12 SignalNumber is missing\n"},
      {R"({"NMAlarmID": null, "ID": true})", ";true;;", "12 NMAlarmID is missing\n12 SignalNumber is missing\n"},
      {R"({})", ";;;", "12 NMAlarmID is missing\n12 ID is missing\n12 SignalNumber is missing\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(kvrm::compose_listing_id(12, kvtest::json(c.member), out), c.text) << c.member;
    EXPECT_EQ(out.str(), c.lines) << c.member;
  }
}

TEST(Listing, ValueWithSixSignificantDigits) {
  EXPECT_EQ(kvrm::listing_line("m", "a;b;c;", 0, 0.0f), "mobile:m:a;b;c; level:0 value:0");
  EXPECT_EQ(kvrm::listing_line("m", ";;;", -3, 230.1f), "mobile:m:;;; level:-3 value:230.1");
  EXPECT_EQ(kvrm::listing_line("m", ";;;", 1, 1234567.0f), "mobile:m:;;; level:1 value:1.23457e+06");
}

class ListingMode : public kvtest::DriverTest {};

TEST_F(ListingMode, LinesAndTablesPerMember) {
  dev.signalLevelMap_["b"] = 4;
  dev.signalValueMap_["b"] = 2.5f;
  kvtest::CaptureStdout out;
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":3}, "thresholdSetting": {
    "b": {"NMAlarmID": "N2", "ID": "I2", "SignalNumber": 2, "SignalName": "B相电压"},
    "a": {"ID": "I1"},
    "c": 5}})"));
  EXPECT_EQ(out.lines(), (Lines{
                             "InitSetting 12 b_mode_:3",
                             "here 1",
                             "here 2",
                             "here a",
                             "12 NMAlarmID is missing",
                             "12 SignalNumber is missing",
                             "mobile:a:;I1;; level:0 value:0",
                             "here b",
                             "mobile:b:N2;I2;2; level:4 value:2.5",
                             "here c",
                         }));
  EXPECT_EQ(dev.signalIdsMap_, (TextMap{{"a", ";I1;;"}, {"b", "N2;I2;2;"}}));
  EXPECT_EQ(dev.signalNameMap_, (TextMap{{"b", "B相电压"}}));
  // The host tables gain the names they lacked, with 0.
  EXPECT_EQ(dev.signalLevelMap_, (std::map<std::string, int>{{"a", 0}, {"b", 4}}));
  EXPECT_EQ(dev.signalValueMap_, (std::map<std::string, float>{{"a", 0.0f}, {"b", 2.5f}}));
  EXPECT_EQ(rec.count("init_setting"), 1u);
}

TEST_F(ListingMode, WithoutThresholdSettingOnlyHereOne) {
  kvtest::CaptureStdout out;
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":3}, "thresholdSetting": null})"));
  EXPECT_EQ(out.lines(), (Lines{"InitSetting 12 b_mode_:3", "here 1"}));
}

TEST_F(ListingMode, LaterLoadsAddAndOverwrite) {
  dev.signalIdsMap_["old"] = "o;o;o;";
  kvtest::CaptureStdout quiet;
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":3}, "thresholdSetting": {"a": {"ID": 1}}})"));
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":3}, "thresholdSetting": {"a": {"ID": 2}}})"));
  EXPECT_EQ(dev.signalIdsMap_, (TextMap{{"a", ";2;;"}, {"old", "o;o;o;"}}));
}

TEST_F(ListingMode, JsonErrorKeepsWhatCameBefore) {
  kvtest::CaptureStdout out;
  EXPECT_THROW(dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":3}, "thresholdSetting": {
    "a": {"ID": 1},
    "b": {"SignalName": "sb", "NMAlarmID": [1]}}})")),
               Json::LogicError);
  EXPECT_EQ(dev.signalIdsMap_, (TextMap{{"a", ";1;;"}}));
  EXPECT_EQ(dev.signalNameMap_, (TextMap{{"b", "sb"}}));
  EXPECT_EQ(out.lines().back(), "here b");
  EXPECT_EQ(rec.count("init_setting"), 0u);
}

// Members are looked up again by name, which the JSON library refuses on
// an array: the listing stops after "here 2".
TEST_F(ListingMode, ArrayAsThresholdSettingRaisesTheJsonError) {
  kvtest::CaptureStdout out;
  EXPECT_THROW(dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":3}, "thresholdSetting": [{"ID": 1}]})")),
               Json::LogicError);
  EXPECT_EQ(out.lines(), (Lines{"InitSetting 12 b_mode_:3", "here 1", "here 2"}));
  EXPECT_TRUE(dev.signalIdsMap_.empty());
}

}  // namespace
