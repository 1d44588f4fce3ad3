// The MQTT keys of the numeric members: one per member, in catalogue order,
// and never changed once published.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <regex>
#include <set>
#include <string>

#include "member_keys.h"
#include "signal_display.h"

namespace {

using readings::member_keys;

// FNV-1a 64: the same on every platform and standard library, unlike
// std::hash, so the pinned value below holds everywhere.
std::uint64_t fnv1a64(const std::string& text) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

TEST(MemberKeys, FollowTheCatalogueRowByRow) {
  for (std::size_t i = 0; i < kvrm::kNumericSignals; ++i)
    EXPECT_STREQ(member_keys()[i].name, kvrm::kSignalCatalogue[i].name) << "row " << i;
}

TEST(MemberKeys, KeysAreUniqueLowerCaseAscii) {
  const std::regex shape("^[a-z][a-z0-9_]*$");
  std::set<std::string> seen;
  for (const readings::MemberKey& m : member_keys()) {
    EXPECT_TRUE(std::regex_match(m.key, shape)) << m.key;
    EXPECT_TRUE(seen.insert(m.key).second) << "duplicate key " << m.key;
  }
}

TEST(MemberKeys, LabelsAreUniqueAsciiOrTimesSign) {
  const std::string times = "×";
  std::set<std::string> seen;
  for (const readings::MemberKey& m : member_keys()) {
    const std::string label = m.label;
    EXPECT_FALSE(label.empty()) << m.key;
    for (std::size_t i = 0; i < label.size(); ++i) {
      if (label.compare(i, times.size(), times) == 0) {
        i += times.size() - 1;
        continue;
      }
      const auto c = static_cast<unsigned char>(label[i]);
      EXPECT_TRUE(c >= 0x20 && c < 0x7f) << m.key << ": " << label;
    }
    EXPECT_TRUE(seen.insert(label).second) << "duplicate label " << label;
  }
}

// The meta message must not call a member one thing and the host's table
// another.
TEST(MemberKeys, LabelsAgreeWithTheDisplayTable) {
  for (const readings::DisplayGroup& g : readings::display_groups())
    for (std::size_t i = 0; i < g.count; ++i) {
      const readings::MemberKey* found = nullptr;
      for (const readings::MemberKey& m : member_keys())
        if (std::string(m.name) == g.rows[i].name) found = &m;
      ASSERT_NE(found, nullptr) << g.rows[i].name;
      EXPECT_STREQ(found->label, g.rows[i].label) << found->key;
    }
}

TEST(MemberKeys, EveryMemberHasAUnitForTheMeta) {
  for (const readings::MemberKey& m : member_keys()) EXPECT_TRUE(readings::unit_of(m.name).has_value()) << m.key;
}

TEST(MemberKeys, PublishedKeysNeverChange) {
  std::string joined;
  std::size_t total = 0;
  std::size_t longest = 0;
  for (const readings::MemberKey& m : member_keys()) {
    const std::string key = m.key;
    if (!joined.empty()) joined += '\n';
    joined += key;
    total += key.size();
    longest = std::max(longest, key.size());
  }
  EXPECT_EQ(fnv1a64(joined), 0xdd7d53a782d72d82ULL)
      << "the MQTT keys differ from the published ones; a published key must never change or be reused "
         "(add new members with new keys, leave the existing rows as they are)";

  // Every state message carries all the keys, so their length is watched.
  const double average = static_cast<double>(total) / static_cast<double>(member_keys().size());
  std::cout << "member keys: average length " << average << ", longest " << longest << ", \"key\": bytes "
            << total + 4 * member_keys().size() << '\n';
  RecordProperty("average_key_length", std::to_string(average));
}

}  // namespace
