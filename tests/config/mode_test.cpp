// Mode selection and the reading of setting texts.
#include "config/settings_text.h"

#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "support/capture_stdout.h"
#include "support/driver_fixture.h"
#include "support/json.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

TEST(Mode, TakenFromTheTextOfBMode) {
  struct Case {
    const char* config;
    std::optional<int> mode;
  } const cases[] = {
      {R"({"appSetting":{"b_mode":5}})", 5},
      {R"({"appSetting":{"b_mode":"5"}})", 5},
      {R"({"appSetting":{"b_mode":" 5"}})", 5},
      {R"({"appSetting":{"b_mode":"5abc"}})", 5},
      {R"({"appSetting":{"b_mode":"+3"}})", 3},
      {R"({"appSetting":{"b_mode":-7}})", -7},
      {R"({"appSetting":{"b_mode":5.9}})", 5},
      {R"({"appSetting":{"b_mode":"abc"}})", 0},
      {R"({"appSetting":{"b_mode":""}})", 0},
      {R"({"appSetting":{"b_mode":true}})", 0},
      // Beyond int: saturated as strtol does on the 32-bit target.
      {R"({"appSetting":{"b_mode":4294967301}})", INT_MAX},
      {R"({"appSetting":{"b_mode":"-99999999999"}})", INT_MIN},
      {R"({})", std::nullopt},
      {R"({"appSetting":null})", std::nullopt},
      {R"({"appSetting":[{"b_mode":5}]})", std::nullopt},
      {R"({"appSetting":"b_mode=5"})", std::nullopt},
      {R"({"appSetting":{}})", std::nullopt},
      {R"({"appSetting":{"b_mode":null}})", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(kvrm::configured_mode(kvtest::json(c.config)), c.mode) << c.config;
}

TEST(Mode, ArrayOrObjectAsBModeRaisesTheJsonError) {
  EXPECT_THROW(kvrm::configured_mode(kvtest::json(R"({"appSetting":{"b_mode":[5]}})")), Json::LogicError);
  EXPECT_THROW(kvrm::configured_mode(kvtest::json(R"({"appSetting":{"b_mode":{"v":5}}})")), Json::LogicError);
}

TEST(Mode, NumberTexts) {
  EXPECT_EQ(kvrm::parse_int(" -12x"), -12);
  EXPECT_EQ(kvrm::parse_int("0x1F"), 0);
  EXPECT_EQ(kvrm::parse_int("1.0000000000000001e+300"), 1);
  EXPECT_EQ(kvrm::parse_float("30.5"), 30.5f);
  EXPECT_EQ(kvrm::parse_float(" -1e3 volts"), -1000.0f);
  EXPECT_EQ(kvrm::parse_float("volts"), 0.0f);
  EXPECT_EQ(kvrm::parse_float("0.1"), 0.1f);
  EXPECT_EQ(kvrm::parse_float("3.4028235e38"), 3.4028235e38f);
  EXPECT_EQ(kvrm::parse_float("1e300"), HUGE_VALF);
  EXPECT_EQ(kvrm::parse_float("-1e300"), -HUGE_VALF);
  EXPECT_TRUE(std::isnan(kvrm::parse_float("nan")));
}

class ModeSelection : public kvtest::DriverTest {
protected:
  kvtest::TempWorkDir wd;  // no point file in it
};

TEST_F(ModeSelection, ModeLineThenTheModesLoading) {
  kvtest::CaptureStdout out;
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":" 3"}})"));
  EXPECT_EQ(dev.b_mode_, 3);
  EXPECT_EQ(out.lines(), (Lines{"InitSetting 12 b_mode_:3", "here 1"}));
}

TEST_F(ModeSelection, LettersOnlySelectModeZeroWhichLoadsNothing) {
  kvtest::CaptureStdout out;
  EXPECT_EQ(dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":"abc"}})")), 0);
  EXPECT_EQ(dev.b_mode_, 0);
  EXPECT_EQ(out.lines(), (Lines{"InitSetting 12 b_mode_:0"}));
  EXPECT_EQ(rec.count("init_setting"), 1u);
}

TEST_F(ModeSelection, WithoutAModeThePointFileModeStaysAndNoModeLine) {
  for (const char* config : {R"({})", R"({"appSetting":[1]})", R"({"appSetting":"5"})"}) {
    kvtest::CaptureStdout out;
    dev.InitSetting(kvtest::json(config));
    EXPECT_EQ(dev.b_mode_, 1) << config;
    EXPECT_EQ(out.lines(), (Lines{"data_id:12 model:kvrm4410t_q b ini not found", "parse ini/yaml filename:"}));
  }
}

TEST_F(ModeSelection, ModeKeptWhenALaterConfigurationNamesNone) {
  { kvtest::CaptureStdout quiet; dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":7}})")); }
  kvtest::CaptureStdout out;
  dev.InitSetting(kvtest::json(R"({"appSetting":{}})"));
  EXPECT_EQ(dev.b_mode_, 7);
  EXPECT_TRUE(out.lines().empty());
}

TEST_F(ModeSelection, UnusableModeFailsAfterTheIdIsStamped) {
  kvtest::CaptureStdout out;
  EXPECT_THROW(dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":[5]}})")), Json::LogicError);
  EXPECT_THROW(dev.InitSetting(kvtest::json(R"([1,2])")), Json::LogicError);
  EXPECT_EQ(dev.b_mode_, 1);
  EXPECT_EQ(kvrm::read_uint16(dev.block(), 0), 12);
  EXPECT_EQ(rec.count("init_setting"), 0u);
  EXPECT_TRUE(out.lines().empty());
}

TEST_F(ModeSelection, DataIdGoesIntoTheBlockWhole) {
  dev.dataId_ = 0xA1B2C3D4u;
  kvtest::CaptureStdout quiet;
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":0}})"));
  EXPECT_EQ(kvrm::read_uint16(dev.block(), 0), 0xC3D4);
  EXPECT_EQ(kvrm::read_uint16(dev.block(), 2), 0xA1B2);
}

}  // namespace
