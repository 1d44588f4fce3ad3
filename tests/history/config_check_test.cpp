// meter-host --check-config: each fault of a sample configuration found,
// the sample mode-5 configuration clean, point files judged as the driver
// will read them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <cstring>
#include <fstream>

#include <json/reader.h>

#include "config_check.h"
#include "history_run.h"

namespace {

using namespace history_test;

std::string joined(const readings::Findings& findings) {
  std::string text;
  for (const auto& f : findings) text += f + "\n";
  return text;
}

Json::Value load(const std::string& path) {
  std::ifstream in(path);
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  EXPECT_TRUE(Json::parseFromStream(b, in, &v, &errors)) << path << errors;
  return v;
}

struct BadConfig {
  const char* file;
  std::vector<const char*> findings;  // each must appear, in some line
};

TEST(ConfigCheck, FindsEachFaultOfTheSamples) {
  const BadConfig cases[] = {
      {"mode7.json", {"selects mode 7", "\"UpValue\" \"abc\" is not a number"}},
      {"unknown-signal.json", {"\"SignalName\" \"A相电压x\" is not a member of the snapshot (did you mean \"A相电压\"?)"}},
      {"not-numbers.json",
       {"\"UpReconverValue\" \"two hundred\" is not a number", "\"UpAlarmLevel\" \"high\" is not a whole number"}},
      {"wrong-side.json",
       {"\"UpReconverValue\" 232.0 is above \"UpValue\" 231.0", "\"LowReconverValue\" 205 is below \"LowValue\" 207"}},
      {"missing-id.json", {"\"ID\" is missing"}},
      {"incomplete-limit.json", {"\"UpReconverValue\" is missing, so this limit is not loaded"}},
  };
  for (const BadConfig& c : cases) {
    const std::string text = joined(readings::check_settings(load(std::string(CONFIGS_DIR "/") + c.file)));
    for (const char* f : c.findings) EXPECT_NE(text.find(f), std::string::npos) << c.file << ":\n" << text;
  }
}

TEST(ConfigCheck, TheSampleConfigurationsAreClean) {
  for (const char* file : {"mode5.json", "real-meter.json"})
    EXPECT_EQ(joined(readings::check_settings(load(std::string(SAMPLES_DIR "/") + file))), "") << file;
}

TEST(ConfigCheck, ModesAndTheirTexts) {
  struct Case {
    const char* json;
    const char* finding;  // empty: none
  };
  const Case cases[] = {
      {R"({})", ""},
      {R"({"appSetting": {"b_mode": "3"}})", ""},
      {R"({"appSetting": {"b_mode": 0}})", "selects mode 0"},
      {R"({"appSetting": {"b_mode": "five"}})", "selects mode 0"},
      {R"({"appSetting": {"b_mode": "5x"}})", "\"b_mode\" \"5x\" is not a whole number: the driver reads 5"},
      {R"({"appSetting": {"b_mode": [5]}})", "the driver refuses the configuration"},
      {R"({"appSetting": 5})", "\"appSetting\" is not an object"},
      {R"({"thresholdSetting": [1]})", "\"thresholdSetting\" is not an object"},
      {R"({"thresholdSetting": {"x": 1}})", "\"thresholdSetting\".\"x\" is not an object"},
      {R"({"thresholdSetting": {"x": {"ID": "1", "SignalName": "更新时间"}}})", "is the update time text"},
  };
  for (const Case& c : cases) {
    Json::Value v;
    Json::CharReaderBuilder b;
    std::string errors;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    ASSERT_TRUE(r->parse(c.json, c.json + std::strlen(c.json), &v, &errors)) << c.json;
    const std::string text = joined(readings::check_settings(v));
    if (*c.finding)
      EXPECT_NE(text.find(c.finding), std::string::npos) << c.json << ":\n" << text;
    else
      EXPECT_EQ(text, "") << c.json;
  }
}

TEST(ConfigCheck, NearestMember) {
  EXPECT_EQ(readings::nearest_member("A相电压x"), "A相电压");
  EXPECT_EQ(readings::nearest_member("电网频"), "电网频率");
  EXPECT_EQ(readings::nearest_member("一象限无功深谷电能"), "1象限无功深谷电能");
  EXPECT_EQ(readings::nearest_member("completely different"), "");
}

// The point file is looked for relative to the working directory.
class InDirectory : public ::testing::Test {
protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path(""));
  }
  void TearDown() override { std::filesystem::current_path(old_); }
  void write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
  }
  std::string findings(unsigned dataId = 1) {
    return joined(readings::check_point_file(readings::probe_point_file(dataId, "kvrm4410t_q")));
  }
  tools_test::TempDir dir_;
  std::filesystem::path old_;
};

TEST_F(InDirectory, NoPointFileSaysWhereItLooked) {
  const std::string text = findings(7);
  EXPECT_NE(text.find("no point file: looked for ./ini/7.yaml, ./ini/7.ini, ./ini/kvrm4410t_q.yaml"),
            std::string::npos)
      << text;
}

TEST_F(InDirectory, AYamlPointFileIsFoundButNeverRead) {
  write("ini/kvrm4410t_q.ini", "[AI]\n[ALARM]\n");
  write("ini/1.yaml", "AI: {}\n");
  EXPECT_NE(findings().find("./ini/1.yaml is found but never read"), std::string::npos);
}

TEST_F(InDirectory, AnUnreadablePointFile) {
  std::filesystem::create_directories("ini/1.ini");
  EXPECT_NE(findings().find("cannot read the point file ./ini/1.ini"), std::string::npos) << findings();
}

TEST_F(InDirectory, PointFileKeysAreSnapshotMembers) {
  write("ini/kvrm4410t_q.ini",
        "[AI]\nA相电压=0401001001,A相电压\nA相电压x=0401001002,x\n更新时间=0401001003,t\n电网频率=0401,f\n");
  const std::string text = findings();
  EXPECT_NE(text.find("[AI] \"A相电压x\" is not a member of the snapshot (did you mean \"A相电压\"?)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[AI] \"更新时间\" is the update time text: the driver fails on it in every round"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[AI] \"电网频率\" has the id \"0401\", shorter than 9 characters"), std::string::npos) << text;
  EXPECT_NE(text.find("has no [ALARM] section"), std::string::npos) << text;
  EXPECT_EQ(text.find("\"A相电压\" is not"), std::string::npos) << text;
}

TEST_F(InDirectory, AMalformedPointFile) {
  write("ini/1.ini", "[AI]\nno equals sign here\n");
  EXPECT_NE(findings().find("./ini/1.ini is not a point file the driver can read: '=' character not found in line"),
            std::string::npos)
      << findings();
}

TEST_F(InDirectory, TheSamplePointFileIsClean) {
  std::filesystem::create_directories("ini");
  std::filesystem::copy_file(SAMPLES_DIR "/ini/kvrm4410t_q.ini", "ini/kvrm4410t_q.ini");
  EXPECT_EQ(findings(), "");
}

// The program: exit statuses and one line per finding.
TEST(CheckConfigCommand, ExitStatuses) {
  const Ran clean = host({"--check-config", SAMPLES_DIR "/mode5.json"});
  EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
  EXPECT_NE(clean.out.find("no findings"), std::string::npos);

  const Ran bad = host({"--check-config", CONFIGS_DIR "/wrong-side.json"});
  EXPECT_EQ(bad.status, 1) << bad.err;
  EXPECT_EQ(lines_of(bad.out).size(), 2u) << bad.out;
  for (const auto& line : lines_of(bad.out)) EXPECT_EQ(line.rfind(CONFIGS_DIR "/wrong-side.json: ", 0), 0u) << line;

  const Ran notJson = host({"--check-config", CONFIGS_DIR "/not-json.json"});
  EXPECT_EQ(notJson.status, 1) << notJson.err;
  EXPECT_NE(notJson.out.find("is not JSON"), std::string::npos) << notJson.out;

  const Ran missing = host({"--check-config", "nosuch.json"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot read the configuration nosuch.json: No such file or directory"),
            std::string::npos)
      << missing.err;

  EXPECT_EQ(host({"--check-config"}).status, 2);
}

}  // namespace
