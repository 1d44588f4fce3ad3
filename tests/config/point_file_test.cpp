// Choosing the point file and splitting its values.
#include "config/point_file.h"

#include <set>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

TEST(PointFile, CandidatesInOrderOfPreference) {
  const kvrm::PointFileCandidates expected = {
      "./ini/12.yaml",         "./ini/12.ini",         "./ini/kvrm4410t_q.yaml",
      "./ini/kvrm4410t_q.ini", "./ini/zediro/12.yaml", "./ini/zediro/12.ini",
      "./ini/zediro/kvrm4410t_q.yaml", "./ini/zediro/kvrm4410t_q.ini",
  };
  EXPECT_EQ(kvrm::point_file_candidates(12, "kvrm4410t_q"), expected);
  EXPECT_EQ(kvrm::point_file_candidates(4294967295u, "t")[1], "./ini/4294967295.ini");
}

struct ChoiceCase {
  std::set<std::string> existing;
  std::string chosen;
};

TEST(PointFile, FirstExistingCandidateWins) {
  const ChoiceCase cases[] = {
      {{}, ""},
      {{"./ini/zediro/kvrm4410t_q.ini"}, "./ini/zediro/kvrm4410t_q.ini"},
      {{"./ini/12.ini", "./ini/kvrm4410t_q.ini"}, "./ini/12.ini"},
      {{"./ini/12.ini", "./ini/12.yaml"}, "./ini/12.yaml"},
      {{"./ini/kvrm4410t_q.ini", "./ini/zediro/12.yaml"}, "./ini/kvrm4410t_q.ini"},
      {{"./ini/zediro/12.ini", "./ini/zediro/kvrm4410t_q.yaml"}, "./ini/zediro/12.ini"},
  };
  const auto candidates = kvrm::point_file_candidates(12, "kvrm4410t_q");
  for (const ChoiceCase& c : cases) {
    const auto exists = [&](const std::string& p) { return c.existing.count(p) > 0; };
    EXPECT_EQ(kvrm::choose_point_file(candidates, exists), c.chosen);
  }
}

TEST(PointFile, RealFilesAreFoundRelativeToTheWorkingDirectory) {
  kvtest::TempWorkDir wd;
  const auto candidates = kvrm::point_file_candidates(12, "kvrm4410t_q");
  EXPECT_EQ(kvrm::choose_point_file(candidates), "");
  wd.write("ini/zediro/12.ini", "");
  EXPECT_EQ(kvrm::choose_point_file(candidates), "./ini/zediro/12.ini");
  wd.write("ini/kvrm4410t_q.ini", "");
  EXPECT_EQ(kvrm::choose_point_file(candidates), "./ini/kvrm4410t_q.ini");
  wd.write("ini/12.ini", "");
  EXPECT_EQ(kvrm::choose_point_file(candidates), "./ini/12.ini");
  wd.write("ini/12.yaml", "");
  EXPECT_EQ(kvrm::choose_point_file(candidates), "./ini/12.yaml");
}

TEST(PointFile, CommaRule) {
  struct Case {
    std::string value, first, second;
  } const cases[] = {
      {"AI001", "AI001", "AI001"},
      {"AI001,voltage", "AI001", "voltage"},
      {"AI001,a,b", "AI001", "a,b"},
      {",x", "", "x"},
      {"x,", "x", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    const auto [first, second] = kvrm::split_first_comma(c.value);
    EXPECT_EQ(first, c.first) << c.value;
    EXPECT_EQ(second, c.second) << c.value;
  }
}

}  // namespace
