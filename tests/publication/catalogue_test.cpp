// The signal catalogue against the member names and register rules of the
// meter: every name byte for byte, in order, at its register's offset.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "publication/signal_catalogue.h"

namespace {

using kvrm::Decoding;
using kvrm::kSignalCatalogue;

std::vector<std::string> listed_names() {
  std::ifstream in(KV_TEST_DATA_DIR "/signal_names.txt");
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

std::set<std::string> catalogue_names() {
  std::set<std::string> names;
  for (const auto& row : kSignalCatalogue) names.insert(row.name);
  return names;
}

TEST(Catalogue, NamesAreTheListedOnesInOrder) {
  const auto listed = listed_names();
  ASSERT_EQ(listed.size(), 231u);
  ASSERT_EQ(kSignalCatalogue.size(), listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i) EXPECT_EQ(kSignalCatalogue[i].name, listed[i]) << "row " << i;
  EXPECT_EQ(catalogue_names().size(), 231u);  // no name twice
}

struct Expected {
  unsigned reg;
  Decoding decoding;
  float divisor;
};

// Where the i-th energy member of the list sits: each variant lists the
// tariffs by group, the deep valleys apart except at resolution 0.001.
Expected energy_member(std::size_t i) {
  const unsigned k = static_cast<unsigned>(i % 66);
  switch (i / 66) {
    case 0:
      return k < 55 ? Expected{256 + 10 * (k / 5) + 2 * (k % 5), Decoding::I32, 100.0f}
                    : Expected{422 + 2 * (k - 55), Decoding::I32, 100.0f};
    case 1:
      return Expected{444 + 12 * (k / 6) + 2 * (k % 6), Decoding::I32, 1000.0f};
    default:
      return k < 55 ? Expected{39424 + 10 * (k / 5) + 2 * (k % 5), Decoding::F32, 0.0f}
                    : Expected{39624 + 2 * (k - 55), Decoding::F32, 0.0f};
  }
}

TEST(Catalogue, EnergyMembersFollowTheRegisterRules) {
  for (std::size_t i = 0; i < 198; ++i) {
    const Expected e = energy_member(i);
    EXPECT_EQ(kSignalCatalogue[i].offset, kvrm::register_offset(e.reg)) << kSignalCatalogue[i].name;
    EXPECT_EQ(kSignalCatalogue[i].decoding, e.decoding) << kSignalCatalogue[i].name;
    EXPECT_EQ(kSignalCatalogue[i].divisor, e.divisor) << kSignalCatalogue[i].name;
  }
}

struct Instantaneous {
  const char* name;
  unsigned reg;
  Decoding decoding;
  float divisor;
};

const Instantaneous kInstantaneous[] = {
    {"A相电压", 366, Decoding::I32, 10000.0f},
    {"B相电压", 368, Decoding::I32, 10000.0f},
    {"C相电压", 370, Decoding::I32, 10000.0f},
    {"A相电流", 372, Decoding::I32, 10000.0f},
    {"B相电流", 374, Decoding::I32, 10000.0f},
    {"C相电流", 376, Decoding::I32, 10000.0f},
    {"有功总功率", 378, Decoding::I32, 10000.0f},
    {"A相有功总功率", 380, Decoding::I32, 10000.0f},
    {"B相有功总功率", 382, Decoding::I32, 10000.0f},
    {"C相有功总功率", 384, Decoding::I32, 10000.0f},
    {"无功总功率", 386, Decoding::I32, 10000.0f},
    {"A相无功总功率", 388, Decoding::I32, 10000.0f},
    {"B相无功总功率", 390, Decoding::I32, 10000.0f},
    {"C相无功总功率", 392, Decoding::I32, 10000.0f},
    {"总视在功率", 394, Decoding::I32, 10000.0f},
    {"A相视在功率", 396, Decoding::I32, 10000.0f},
    {"B相视在功率", 398, Decoding::I32, 10000.0f},
    {"C相视在功率", 400, Decoding::I32, 10000.0f},
    {"总功率因数", 402, Decoding::S16, 1000.0f},
    {"A相功率因数", 403, Decoding::S16, 1000.0f},
    {"B相功率因数", 404, Decoding::S16, 1000.0f},
    {"C相功率因数", 405, Decoding::S16, 1000.0f},
    {"A相相角", 406, Decoding::U16, 10.0f},
    {"B相相角", 407, Decoding::U16, 10.0f},
    {"C相相角", 408, Decoding::U16, 10.0f},
    {"电网频率", 409, Decoding::U16, 100.0f},
    {"A相线电压", 410, Decoding::I32, 10000.0f},
    {"B相线电压", 412, Decoding::I32, 10000.0f},
    {"C相线电压", 414, Decoding::I32, 10000.0f},
    {"三相平均线电压", 416, Decoding::I32, 10000.0f},
    {"三相平均相电压", 418, Decoding::I32, 10000.0f},
    {"三相平均电流", 420, Decoding::I32, 10000.0f},
};

TEST(Catalogue, InstantaneousMembersReadTheirRegisters) {
  ASSERT_EQ(std::size(kInstantaneous), 32u);
  for (std::size_t i = 0; i < 32; ++i) {
    const auto& row = kSignalCatalogue[198 + i];
    const auto& e = kInstantaneous[i];
    EXPECT_STREQ(row.name, e.name);
    EXPECT_EQ(row.offset, kvrm::register_offset(e.reg)) << e.name;
    EXPECT_EQ(row.decoding, e.decoding) << e.name;
    EXPECT_EQ(row.divisor, e.divisor) << e.name;
  }
}

TEST(Catalogue, UpdateTimeIsTheLastMemberReadFromTheStamp) {
  const auto& row = kSignalCatalogue.back();
  EXPECT_STREQ(row.name, "更新时间");
  EXPECT_EQ(row.decoding, Decoding::Time);
  EXPECT_EQ(row.offset, kvrm::kTimeOffset);
}

TEST(Catalogue, QuadrantDeepValleysUseTheDigitExceptAtResolutionThousandth) {
  const auto names = catalogue_names();
  const char* const numerals[] = {"一", "二", "三", "四"};
  const char* const digits[] = {"1", "2", "3", "4"};
  for (int q = 0; q < 4; ++q) {
    const std::string digit = std::string(digits[q]) + "象限无功深谷电能";
    const std::string numeral = std::string(numerals[q]) + "象限无功深谷电能";
    EXPECT_EQ(names.count(digit), 1u) << digit;
    EXPECT_EQ(names.count(digit + "（乘变比）"), 1u) << digit;
    EXPECT_EQ(names.count(numeral + "（0.001）"), 1u) << numeral;
    EXPECT_EQ(names.count(numeral), 0u) << numeral;
    EXPECT_EQ(names.count(numeral + "（乘变比）"), 0u) << numeral;
    EXPECT_EQ(names.count(digit + "（0.001）"), 0u) << digit;
  }
}

TEST(Catalogue, SuffixBracketsAreFullWidth) {
  int withSuffix = 0;
  for (const auto& row : kSignalCatalogue) {
    const std::string name = row.name;
    EXPECT_EQ(name.find_first_of("()"), std::string::npos) << name;
    if (name.find("\xEF\xBC\x88") != std::string::npos) {  // U+FF08
      ++withSuffix;
      EXPECT_EQ(name.substr(name.size() - 3), "\xEF\xBC\x89") << name;  // U+FF09 closes the name
    }
  }
  EXPECT_EQ(withSuffix, 132);
}

}  // namespace
