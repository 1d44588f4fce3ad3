#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <json/reader.h>

#include "history_options.h"

namespace {

Json::Value json(const std::string& text) {
  Json::Value v;
  Json::Reader().parse(text, v);
  return v;
}

TEST(HistoryOptions, SiteMemberSetsWhatItNames) {
  hist::HistoryOptions o;
  std::string error;
  ASSERT_TRUE(hist::history_from_json(json(R"({"path": "site.db", "commitSeconds": 30, "keepRawDays": 1,
      "keepMinuteDays": 7, "keepHourDays": 365, "maxMb": 256})"), &o, &error)) << error;
  EXPECT_EQ(o.path, "site.db");
  EXPECT_EQ(o.commitSeconds, 30);
  EXPECT_EQ(o.keepRawDays, 1);
  EXPECT_EQ(o.keepMinuteDays, 7);
  EXPECT_EQ(o.keepHourDays, 365);
  EXPECT_EQ(o.maxMb, 256);

  hist::HistoryOptions defaults;
  ASSERT_TRUE(hist::history_from_json(json("{}"), &defaults, &error));
  EXPECT_EQ(defaults.commitSeconds, 10);
  EXPECT_EQ(defaults.keepRawDays, 3);
  EXPECT_EQ(defaults.keepMinuteDays, 35);
  EXPECT_EQ(defaults.keepHourDays, 3650);
  EXPECT_EQ(defaults.maxMb, 2048);
}

TEST(HistoryOptions, SiteMemberRefusesWhatItCannotUse) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {R"([])", "the site's \"history\" must be an object"},
      {R"({"path": 3})", "the site's \"history\".\"path\" must be a file name"},
      {R"({"commitSeconds": -1})", "the site's \"history\".\"commitSeconds\" must be a number from 0 to 3600"},
      {R"({"keepRawDays": "3"})", "the site's \"history\".\"keepRawDays\" must be a number from 0 to 36600"},
      {R"({"maxMb": 0})", "the site's \"history\".\"maxMb\" must be a number from 1 to 1048576"},
  };
  for (const auto& c : cases) {
    hist::HistoryOptions o;
    std::string error;
    EXPECT_FALSE(hist::history_from_json(json(c.text), &o, &error)) << c.text;
    EXPECT_EQ(error, c.says);
  }
}

TEST(HistoryOptions, CommandLineWinsOverTheSiteFile) {
  CLI::App app;
  hist::HistoryFlags flags;
  hist::add_history_flags(app, flags, "History");
  app.parse(std::vector<std::string>{"5", "--history-max-mb", "--keep-raw=0.5", "cli.db", "--history"});  // CLI11 takes them last first
  hist::HistoryOptions site;
  site.path = "site.db";
  site.keepRawDays = 2;
  site.keepHourDays = 100;
  site.maxMb = 64;
  const hist::HistoryOptions o = hist::resolve_history_options(flags, site);
  EXPECT_EQ(o.path, "cli.db");
  EXPECT_EQ(o.keepRawDays, 0.5);
  EXPECT_EQ(o.keepHourDays, 100);
  EXPECT_EQ(o.maxMb, 5);
  EXPECT_EQ(o.commitSeconds, 10);

  CLI::App bad;
  hist::HistoryFlags badFlags;
  hist::add_history_flags(bad, badFlags, "History");
  EXPECT_THROW(bad.parse(std::vector<std::string>{"x", "--history-commit"}), CLI::ValidationError);
}

}  // namespace
