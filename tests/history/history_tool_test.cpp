// meter-history: rows equal to what command 801 gave for each stored
// round, numbers that read back exactly, databases read defensively,
// charts drawn by gnuplot.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "acquisition/data_block.h"
#include "block_time.h"
#include "history_store.h"
#include "history_run.h"
#include "publication/signal_catalogue.h"
#include "support/image.h"

namespace {

using namespace history_test;
using namespace tools_test;

std::map<std::string, std::size_t> header_columns(const std::string& header) {
  std::map<std::string, std::size_t> columns;
  const auto names = split(header, ',');
  for (std::size_t i = 0; i < names.size(); ++i) columns[names[i]] = i;
  return columns;
}

TEST(HistoryTool, RowsEqualTheSnapshotsOfTheirRounds) {
  TempDir dir;
  // The simulated meter's values move on every read: each round differs.
  const Finished run = run_host({"--simulate", "--rounds", "3", "--history", dir.path("h.db"), "--snapshot"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto shots = snapshots(run.out);
  ASSERT_EQ(shots.size(), 3u);

  const Ran csv = history({"csv", dir.path("h.db")});
  ASSERT_EQ(csv.status, 0) << csv.err;
  const auto lines = lines_of(csv.out);
  ASSERT_EQ(lines.size(), 4u) << csv.out;
  const auto columns = header_columns(lines[0]);
  ASSERT_EQ(columns.size(), 2 + kvrm::kNumericSignals);
  for (const Json::Value& shot : shots) {
    // Two rounds in one second publish only the first: the snapshot is the
    // first row of its second.
    int y, mo, d, h, mi, s;
    ASSERT_EQ(std::sscanf(shot["更新时间"].asCString(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s), 6);
    char iso[32];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
    const auto row = std::find_if(lines.begin() + 1, lines.end(), [&](const std::string& l) { return l.rfind(iso, 0) == 0; });
    ASSERT_NE(row, lines.end()) << iso;
    const auto fields = split(*row, ',');
    EXPECT_EQ(fields[1], "1");
    for (std::size_t i = 0; i < kvrm::kNumericSignals; ++i) {
      const char* name = kvrm::kSignalCatalogue[i].name;
      EXPECT_EQ(std::strtod(fields.at(columns.at(name)).c_str(), nullptr), shot[name].asDouble()) << name;
    }
  }

  const Ran list = history({"list", dir.path("h.db")});
  ASSERT_EQ(list.status, 0) << list.err;
  ASSERT_EQ(lines_of(list.out).size(), 5u) << list.out;  // the blocks, two tiers, the file
  EXPECT_EQ(lines_of(list.out)[1].rfind("1          blocks        3  ", 0), 0u) << list.out;

  const Ran lp = history({"lines", dir.path("h.db"), "--signals", "A相电压,电网频率"});
  ASSERT_EQ(lp.status, 0) << lp.err;
  const auto points = lines_of(lp.out);
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0].rfind("kvrm4410t_q,data_id=1 A相电压=", 0), 0u) << points[0];
  EXPECT_NE(points[0].find(",电网频率="), std::string::npos) << points[0];
  EXPECT_EQ(split(points[0], ' ').back().size(), 19u) << "nanoseconds: " << points[0];
}

// Stores blocks as meter-host does.
void store(const std::string& db, std::uint32_t dataId, const std::vector<unsigned char>& block) {
  hist::HistoryStore h;
  std::string error;
  ASSERT_TRUE(h.open(db, &error)) << error;
  const auto time = readings::local_epoch(readings::block_time(block.data())).value_or(0);
  ASSERT_TRUE(h.commit(hist::Batch{{hist::StoredRound{dataId, time, block}}, {}}, &error)) << error;
}

std::vector<unsigned char> block_at(const char* time, std::map<unsigned, std::uint16_t> image = {}) {
  return expected_block(image, 0, time);
}

void put_float(std::vector<unsigned char>& block, std::size_t offset, float v) {
  std::memcpy(block.data() + offset, &v, sizeof v);
}

TEST(HistoryTool, NumbersReadBackExactlyAndNonFiniteOnesAreNamed) {
  TempDir dir;
  auto block = block_at("2024-3-5 7:4:9", tricky_image());
  put_float(block, 648, std::nanf(""));      // 组合有功尖电能（乘变比）
  put_float(block, 652, HUGE_VALF);          // 组合有功峰电能（乘变比）
  put_float(block, 656, -HUGE_VALF);         // 组合有功平电能（乘变比）
  store(dir.path("h.db"), 5, block);
  const Ran csv = history({"csv", dir.path("h.db"), "--signals",
                           "A相电压,组合有功尖电能（乘变比）,组合有功峰电能（乘变比）,组合有功平电能（乘变比）,"
                           "正向有功总电能（0.001）,总功率因数"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "time,data_id,A相电压,组合有功尖电能（乘变比）,组合有功峰电能（乘变比）,组合有功平电能（乘变比）,"
            "正向有功总电能（0.001）,总功率因数\n"
            "2024-03-05T07:04:09,5,230.10000610351562,,inf,-inf,123456.7890625,-0.15000000596046448\n");
  // Line protocol has no NaN or infinity: those fields are left out.
  const Ran lp = history({"lines", dir.path("h.db"), "--signals", "A相电压,组合有功尖电能（乘变比）,组合有功峰电能（乘变比）"});
  ASSERT_EQ(lp.status, 0) << lp.err;
  EXPECT_EQ(lp.out.rfind("kvrm4410t_q,data_id=5 A相电压=230.10000610351562 ", 0), 0u) << lp.out;
}

TEST(HistoryTool, MeterAndTimeFilters) {
  TempDir dir;
  const std::string db = dir.path("h.db");
  store(db, 1, block_at("2024-3-5 7:0:0"));
  store(db, 2, block_at("2024-3-5 8:0:0"));
  store(db, 1, block_at("2024-3-5 9:0:0"));
  store(db, 1, block_at("2024-3-6 0:0:0"));
  auto times = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"csv", db, "--signals", "A相电压"});
    const Ran r = history(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string out;
    for (const auto& line : lines_of(r.out))
      if (line.rfind("time,", 0) != 0) out += line.substr(11, 2) + "/" + split(line, ',')[1] + " ";
    return out;
  };
  EXPECT_EQ(times({}), "07/1 08/2 09/1 00/1 ");
  EXPECT_EQ(times({"--meter", "1"}), "07/1 09/1 00/1 ");
  EXPECT_EQ(times({"--from", "2024-03-05T08:00"}), "08/2 09/1 00/1 ");
  EXPECT_EQ(times({"--to", "2024-03-05"}), "07/1 08/2 09/1 ");
  EXPECT_EQ(times({"--from", "2024-03-05 08:00:01", "--to", "2024-03-05T09:00:00", "--meter", "1"}), "09/1 ");
  EXPECT_EQ(history({"csv", db, "--from", "yesterday"}).status, 2);
  const Ran unknown = history({"csv", db, "--signals", "电网频"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("did you mean \"电网频率\"?"), std::string::npos) << unknown.err;
}

void exec_sql(const std::string& db, const char* sql) {
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(h, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(h);
}

TEST(HistoryTool, ReadsTheDatabaseDefensively) {
  TempDir dir;
  // Records without a data id column: the block's own data id counts.
  const std::string bare = dir.path("bare.db");
  exec_sql(bare, "CREATE TABLE records (id INTEGER PRIMARY KEY, block BLOB NOT NULL)");
  auto block = block_at("2024-3-5 7:4:9", {{409, 5000}});
  const std::uint32_t id = 44;
  std::memcpy(block.data(), &id, sizeof id);
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(bare.c_str(), &h), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(h, "INSERT INTO records (block) VALUES (?), (x'0102')", -1, &s, nullptr), SQLITE_OK);
  sqlite3_bind_blob(s, 1, block.data(), static_cast<int>(block.size()), SQLITE_STATIC);
  EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
  sqlite3_finalize(s);
  sqlite3_close(h);
  const Ran csv = history({"csv", bare, "--signals", "电网频率"});
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out, "time,data_id,电网频率\n2024-03-05T07:04:09,44,50\n");
  EXPECT_NE(csv.err.find("1 records are not 915-byte blocks"), std::string::npos) << csv.err;

  // A column added later (a meter address, say) changes nothing.
  const std::string wider = dir.path("wider.db");
  store(wider, 3, block_at("2024-3-5 7:4:9"));
  exec_sql(wider, "ALTER TABLE records ADD COLUMN slave INTEGER");
  EXPECT_EQ(history({"list", wider}).status, 0);

  const std::string other = dir.path("other.db");
  exec_sql(other, "CREATE TABLE t (x)");
  const Ran notHistory = history({"list", other});
  EXPECT_EQ(notHistory.status, 1);
  EXPECT_NE(notHistory.err.find("holds no history records"), std::string::npos) << notHistory.err;
  EXPECT_EQ(history({"list", dir.path("nosuch.db")}).status, 1);
  EXPECT_FALSE(std::ifstream(dir.path("nosuch.db"))) << "reading creates no database";
}

bool have_gnuplot() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(HistoryPlot, DrawsTheChosenCurvesWithTheirNames) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  TempDir dir;
  const std::string db = dir.path("h.db");
  for (int minute = 0; minute < 5; ++minute) {
    const std::string t = "2024-3-5 7:" + std::to_string(minute) + ":0";
    store(db, 1, block_at(t.c_str(), {{366, 35}, {367, static_cast<std::uint16_t>(7240 + 1000 * minute)}, {372, 0}, {373, 50000}}));
  }
  const Ran png = history({"plot", db, "--signals", "A相电压,A相电流", "--out", dir.path("c.png")});
  ASSERT_EQ(png.status, 0) << png.err;
  const std::string image = file_text(dir.path("c.png"));
  ASSERT_GT(image.size(), 1000u);
  EXPECT_EQ(image.substr(1, 3), "PNG");

  const Ran svg = history({"plot", db, "--signals", "A相电压,A相电流", "--out", dir.path("c.svg")});
  ASSERT_EQ(svg.status, 0) << svg.err;
  const std::string text = file_text(dir.path("c.svg"));
  EXPECT_NE(text.find("A相电压 (V)"), std::string::npos);
  EXPECT_NE(text.find("A相电流 (A)"), std::string::npos);
  EXPECT_NE(text.find(">V<"), std::string::npos) << "the unit labels the value axis";
}

TEST(HistoryPlot, RefusesWhatItCannotDraw) {
  TempDir dir;
  const std::string db = dir.path("h.db");
  store(db, 1, block_at("2024-3-5 7:0:0"));
  const Ran three = history({"plot", db, "--signals", "A相电压,A相电流,电网频率", "--out", dir.path("c.png")});
  EXPECT_EQ(three.status, 1);
  EXPECT_NE(three.err.find("3 units (V, A, Hz)"), std::string::npos) << three.err;
  EXPECT_EQ(history({"plot", db, "--signals", "A相电压", "--out", dir.path("c.pdf")}).status, 1);
  EXPECT_EQ(history({"plot", db, "--out", dir.path("c.png")}).status, 2) << "signals are required";
  const Ran none = history({"plot", db, "--signals", "A相电压", "--meter", "9", "--out", dir.path("c.png")});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no records to plot"), std::string::npos) << none.err;
}

TEST(HistoryTool, VersionAndUsage) {
  const Ran v = history({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("meter-history ", 0), 0u) << v.out;
  EXPECT_EQ(history({}).status, 2);
  EXPECT_EQ(history({"export", "x.db"}).status, 2);
  EXPECT_EQ(history({"--help"}).status, 0);
}

}  // namespace
