// meter-host with its history: the site file's "history" member, the
// counts at the end, and a file it may not write refused untouched.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "history_run.h"
#include "history_store.h"

namespace {

using namespace history_test;
using namespace tools_test;

std::string bytes_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(HistoryHost, SiteMemberSetsTheFileAndEveryRoundIsStored) {
  TempDir dir;
  dir.write("site.json", R"({"meters": [{"slave": 1}], "history": {"path": ")" + dir.path("site.db") +
                             R"(", "commitSeconds": 60, "keepRawDays": 1}})");
  const Finished run = run_host({"--simulate", "--site", dir.path("site.json"), "--rounds", "4", "--interval", "0"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("history: 4 rounds stored, 0 not stored"), std::string::npos) << run.err;
  hist::HistoryStore store;
  std::string error;
  ASSERT_TRUE(store.open_to_read(dir.path("site.db"), &error)) << error;
  EXPECT_EQ(store.records(1, &error).size(), 4u) << "the stop commits what the minute had not";

  dir.write("bad.json", R"({"meters": [{"slave": 1}], "history": {"keepRawDays": "three"}})");
  const Finished bad = run_host({"--simulate", "--site", dir.path("bad.json"), "--rounds", "1"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("the site's \"history\".\"keepRawDays\" must be a number"), std::string::npos) << bad.err;
}

TEST(HistoryHost, AFileItMayNotWriteEndsTheRunUntouched) {
  TempDir dir;
  dir.write("notes.db", std::string(3000, 'n'));
  const Finished run = run_host({"--simulate", "--rounds", "1", "--history", dir.path("notes.db")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("notes.db is not a history this meter-host can write: file is not a database; it is left "
                         "as it is"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(bytes_of(dir.path("notes.db")), std::string(3000, 'n'));
  EXPECT_EQ(run.err.find("round 1 completed"), std::string::npos) << "nothing ran";
}

}  // namespace
