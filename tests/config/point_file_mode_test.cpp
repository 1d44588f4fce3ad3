// Configuration loading in the point-file mode, on real files in a fresh
// working directory.
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/ini_parser.hpp>
#include <gtest/gtest.h>

#include "acquisition/data_block.h"
#include "support/capture_stdout.h"
#include "support/driver_fixture.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;
using AiMap = std::map<std::string, std::pair<std::string, std::string>>;

class PointFileMode : public kvtest::DriverTest {
protected:
  kvtest::TempWorkDir wd;
  const Json::Value config{Json::objectValue};
};

TEST_F(PointFileMode, NoPointFilePrintsExactlyTwoLinesAndRunsTheBaseStep) {
  rec.initSettingResult = 7;
  kvtest::CaptureStdout out;
  EXPECT_EQ(dev.InitSetting(config), 7);
  EXPECT_EQ(out.lines(), (Lines{"data_id:12 model:kvrm4410t_q b ini not found", "parse ini/yaml filename:"}));
  EXPECT_EQ(rec.count("init_setting"), 1u);
  EXPECT_EQ(kvrm::read_uint16(dev.block(), 0), 12);
  EXPECT_TRUE(dev.aiSignalMap_.empty());
}

TEST_F(PointFileMode, IniFileFillsBothTablesAndListsThem) {
  wd.write("ini/12.ini",
           "; analog signals\n"
           "[AI]\n"
           "  A相电压 = 0101001001,Ua \n"
           "B相电压=0101002001\n"
           "[OTHER]\n"
           "ignored = 1\n"
           "[ALARM]\n"
           "z = 0301001001,door\n"
           "a = 0301002001\n");
  wd.write("ini/kvrm4410t_q.ini", "[AI]\nwrong=file\n[ALARM]\nwrong=file\n");
  kvtest::CaptureStdout out;
  dev.InitSetting(config);
  EXPECT_EQ(out.lines(), (Lines{
                             "parse ini/yaml filename:./ini/12.ini",
                             "alarmSignalIdMap_ z : 0301001001",
                             "alarmSignalIdMap_ a : 0301002001",
                             "AI 12",
                             "first:A相电压 second:0101001001 name:Ua",
                             "first:B相电压 second:0101002001 name:0101002001",
                         }));
  EXPECT_EQ(dev.aiSignalMap_, (AiMap{{"A相电压", {"0101001001", "Ua"}}, {"B相电压", {"0101002001", "0101002001"}}}));
  EXPECT_EQ(dev.alarmSignalIdMap_,
            (std::map<std::string, std::string>{{"a", "0301002001"}, {"z", "0301001001"}}));
  EXPECT_EQ(rec.count("init_setting"), 1u);
}

TEST_F(PointFileMode, SecondLoadOverwritesAddsAndKeeps) {
  wd.write("ini/12.ini", "[AI]\na=1,one\nb=2,two\n[ALARM]\nx=X\n");
  { kvtest::CaptureStdout quiet; dev.InitSetting(config); }
  wd.write("ini/12.ini", "[AI]\nb=3,three\nc=4,four\n[ALARM]\ny=Y\n");
  kvtest::CaptureStdout out;
  dev.InitSetting(config);
  EXPECT_EQ(out.lines(), (Lines{"parse ini/yaml filename:./ini/12.ini", "alarmSignalIdMap_ y : Y", "AI 12",
                                "first:a second:1 name:one", "first:b second:3 name:three",
                                "first:c second:4 name:four"}));
  EXPECT_EQ(dev.alarmSignalIdMap_, (std::map<std::string, std::string>{{"x", "X"}, {"y", "Y"}}));
}

TEST_F(PointFileMode, YamlFileIsFoundButNotRead) {
  dev.aiSignalMap_["earlier"] = {"e1", "e2"};
  wd.write("ini/12.yaml", "AI: [this is not read]\n");
  wd.write("ini/12.ini", "[AI]\na=1\n[ALARM]\nb=2\n");
  kvtest::CaptureStdout out;
  dev.InitSetting(config);
  EXPECT_EQ(out.lines(), (Lines{"parse ini/yaml filename:./ini/12.yaml", "AI 12", "first:earlier second:e1 name:e2"}));
  EXPECT_EQ(dev.aiSignalMap_.size(), 1u);
  EXPECT_TRUE(dev.alarmSignalIdMap_.empty());
  EXPECT_EQ(rec.count("init_setting"), 1u);
}

TEST_F(PointFileMode, AiWithoutAlarmTakesAiThenFailsBeforeTheBaseStep) {
  wd.write("ini/12.ini", "[AI]\na=1,one\n");
  kvtest::CaptureStdout out;
  EXPECT_THROW(dev.InitSetting(config), boost::property_tree::ptree_bad_path);
  EXPECT_EQ(out.lines(), (Lines{"parse ini/yaml filename:./ini/12.ini"}));
  EXPECT_EQ(dev.aiSignalMap_, (AiMap{{"a", {"1", "one"}}}));
  EXPECT_TRUE(dev.alarmSignalIdMap_.empty());
  EXPECT_EQ(rec.count("init_setting"), 0u);
  EXPECT_EQ(kvrm::read_uint16(dev.block(), 0), 12);
}

TEST_F(PointFileMode, MissingAiChangesNothing) {
  wd.write("ini/12.ini", "[ALARM]\nx=1\n");
  kvtest::CaptureStdout out;
  EXPECT_THROW(dev.InitSetting(config), boost::property_tree::ptree_bad_path);
  EXPECT_TRUE(dev.aiSignalMap_.empty());
  EXPECT_TRUE(dev.alarmSignalIdMap_.empty());
  EXPECT_EQ(rec.count("init_setting"), 0u);
}

// The INI reader drops a section without lines, so an empty [AI] is a
// missing one.
TEST_F(PointFileMode, EmptySectionCountsAsMissing) {
  wd.write("ini/12.ini", "[AI]\n[ALARM]\nx=1\n");
  kvtest::CaptureStdout out;
  EXPECT_THROW(dev.InitSetting(config), boost::property_tree::ptree_bad_path);
  EXPECT_TRUE(dev.alarmSignalIdMap_.empty());
}

TEST_F(PointFileMode, MalformedFileRaisesTheReadersErrorAndChangesNothing) {
  struct Case {
    const char* text;
    const char* message;
  } const cases[] = {
      {"[AI\na=1\n", "unmatched '['"},
      {"[AI]\na=1\njust text\n[ALARM]\n", "'=' character not found in line"},
      {"[AI]\n=1\n", "key expected"},
      {"[AI]\na=1\n[ALARM]\nb=1\n[AI]\nc=1\n", "duplicate section name"},
      {"[AI]\na=1\na=2\n", "duplicate key name"},
  };
  for (const Case& c : cases) {
    wd.write("ini/12.ini", c.text);
    kvtest::CaptureStdout out;
    try {
      dev.InitSetting(config);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const boost::property_tree::ini_parser_error& e) {
      EXPECT_EQ(e.message(), c.message);
      EXPECT_EQ(e.filename(), "./ini/12.ini");
    }
    EXPECT_TRUE(dev.aiSignalMap_.empty()) << c.text;
    EXPECT_TRUE(dev.alarmSignalIdMap_.empty()) << c.text;
  }
  EXPECT_EQ(rec.count("init_setting"), 0u);
}

TEST_F(PointFileMode, DirectoryInPlaceOfTheFileIsAReadError) {
  std::filesystem::create_directories(wd.dir() / "ini/12.ini");
  kvtest::CaptureStdout out;
  try {
    dev.InitSetting(config);
    ADD_FAILURE() << "no error";
  } catch (const boost::property_tree::ini_parser_error& e) {
    EXPECT_EQ(e.message(), "read error");
  }
}

// Root reads any file: as root, the read runs in a child that has given
// its rights up for those of "nobody".
TEST_F(PointFileMode, UnreadableFileCannotBeOpened) {
  wd.write("ini/12.ini", "[AI]\na=1\n[ALARM]\nb=1\n");
  std::filesystem::permissions(wd.dir() / "ini/12.ini", std::filesystem::perms::none);
  auto outcome = [this]() -> std::string {
    kvtest::CaptureStdout out;
    try {
      dev.InitSetting(config);
      return "no error";
    } catch (const boost::property_tree::ini_parser_error& e) {
      return e.message();
    }
  };
  if (::geteuid() != 0) {
    EXPECT_EQ(outcome(), "cannot open file");
    return;
  }
  const auto passable = std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                        std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                        std::filesystem::perms::others_exec;
  std::filesystem::permissions(wd.dir(), passable);
  std::filesystem::permissions(wd.dir() / "ini", passable);
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    std::string said;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      said = "cannot give up root";
    else if (::access("ini", X_OK) != 0)
      said = "the working directory is closed to nobody: " + wd.dir().string();
    else
      said = outcome();
    (void)!::write(report[1], said.data(), said.size());
    ::_exit(0);
  }
  ::close(report[1]);
  std::string said;
  char buffer[256];
  for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(said, "cannot open file");
}

TEST_F(PointFileMode, VeryLongLineIsTakenWhole) {
  const std::string id(1 << 20, '7');
  wd.write("ini/12.ini", "[AI]\nlong=" + id + ",name\n[ALARM]\nlong=" + id + "\n");
  kvtest::CaptureStdout out;
  dev.InitSetting(config);
  EXPECT_EQ(dev.aiSignalMap_.at("long"), std::make_pair(id, std::string("name")));
  EXPECT_EQ(dev.alarmSignalIdMap_.at("long"), id);
  EXPECT_EQ(out.lines().back(), "first:long second:" + id + " name:name");
}

// A round may hold the driver mutex at any time; reading the point file
// must not need it. The file is a FIFO, so the reader is caught inside the
// read, and the mutex must be free at that moment.
TEST_F(PointFileMode, FileIsReadWithoutTheDriverMutex) {
  std::filesystem::create_directories(wd.dir() / "ini");
  ASSERT_EQ(::mkfifo("ini/12.ini", 0600), 0);
  std::exception_ptr failure;
  std::thread loader([&] {
    try {
      kvtest::CaptureStdout quiet;
      dev.InitSetting(config);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  const int fd = ::open("ini/12.ini", O_WRONLY);  // returns once the loader has opened it
  EXPECT_GE(fd, 0);
  const bool free = dev.mutex_.try_lock();
  if (free) dev.mutex_.unlock();
  const std::string text = "[AI]\na=1\n[ALARM]\nb=2\n";
  EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
  loader.join();
  EXPECT_TRUE(free);
  EXPECT_FALSE(failure);
  EXPECT_EQ(dev.alarmSignalIdMap_.at("b"), "2");
}

}  // namespace
