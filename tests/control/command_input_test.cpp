// Reading command input: write words in host byte order from any address,
// the register count of a multiple write, and the checks for signal text.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/command_input.h"

namespace {

// Host-order words, placed one byte past an aligned start.
std::vector<unsigned char> unaligned_words(const std::vector<std::uint16_t>& words) {
  std::vector<unsigned char> buf(1 + 2 * words.size());
  std::memcpy(buf.data() + 1, words.data(), 2 * words.size());
  return buf;
}

}  // namespace

TEST(CommandInput, SingleWriteReadsHostOrderWordsAtAnyAddress) {
  auto buf = unaligned_words({0x9A01, 0xBEEF});
  auto w = kvrm::decode_single_write(buf.data() + 1, 4);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->address, 0x9A01);
  EXPECT_EQ(w->value, 0xBEEF);
}

TEST(CommandInput, SingleWriteNeedsBothWords) {
  const std::uint16_t words[2] = {1, 2};
  EXPECT_FALSE(kvrm::decode_single_write(nullptr, 4));
  EXPECT_FALSE(kvrm::decode_single_write(words, 3));
  EXPECT_FALSE(kvrm::decode_single_write(words, -4));
  EXPECT_TRUE(kvrm::decode_single_write(words, 5));
}

TEST(CommandInput, MultipleWriteCountsWholeWordsAfterTheAddress) {
  struct Case {
    int inLen;
    std::optional<int> count;
  };
  const Case cases[] = {{-2, std::nullopt}, {0, std::nullopt}, {2, std::nullopt}, {3, std::nullopt},
                        {4, 1},             {5, 1},            {10, 4},           {11, 4},
                        {248, 123},         {249, 123},        {250, std::nullopt}};
  std::vector<std::uint16_t> words(130);
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<std::uint16_t>(0x100 + i);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inLen);
    auto w = kvrm::decode_multiple_write(words.data(), c.inLen);
    ASSERT_EQ(w.has_value(), c.count.has_value());
    if (!w) continue;
    EXPECT_EQ(w->address, 0x100);
    EXPECT_EQ(w->count, *c.count);
    EXPECT_EQ(w->values[0], 0x101);
    EXPECT_EQ(w->values[static_cast<std::size_t>(w->count - 1)], 0x100 + w->count);
  }
}

TEST(CommandInput, MultipleWriteReadsValuesAtAnyAddress) {
  auto buf = unaligned_words({0x0200, 0x1234, 0xFFFE});
  auto w = kvrm::decode_multiple_write(buf.data() + 1, 6);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->address, 0x0200);
  ASSERT_EQ(w->count, 2);
  EXPECT_EQ(w->values[0], 0x1234);
  EXPECT_EQ(w->values[1], 0xFFFE);
  EXPECT_FALSE(kvrm::decode_multiple_write(nullptr, 6));
}

TEST(CommandInput, SignalInputReadableOnlyWithBytesToRead) {
  const char text[] = "{}";
  EXPECT_TRUE(kvrm::signal_input_readable(text, 2));
  EXPECT_TRUE(kvrm::signal_input_readable(text, 0));
  EXPECT_TRUE(kvrm::signal_input_readable(nullptr, 0));
  EXPECT_FALSE(kvrm::signal_input_readable(nullptr, 2));
  EXPECT_FALSE(kvrm::signal_input_readable(text, -1));
}

TEST(CommandInput, OnlyPointFileModeSkipsTheCheckOf320) {
  EXPECT_TRUE(kvrm::signal_needs_parse(310, 1));
  EXPECT_TRUE(kvrm::signal_needs_parse(310, 5));
  EXPECT_FALSE(kvrm::signal_needs_parse(320, 1));
  EXPECT_TRUE(kvrm::signal_needs_parse(320, 3));
  EXPECT_TRUE(kvrm::signal_needs_parse(320, 5));
}

TEST(CommandInput, ParseReadsExactlyTheGivenBytes) {
  const std::string doc = R"({"signal_id":"x"})";
  // Exact-size heap copies, so a read past the end shows under the sanitizer.
  std::vector<char> whole(doc.begin(), doc.end());
  EXPECT_TRUE(kvrm::parses_as_json(whole.data(), static_cast<int>(whole.size())));
  EXPECT_FALSE(kvrm::parses_as_json(whole.data(), 5));
  std::vector<char> empty_object{'{', '}'};
  EXPECT_TRUE(kvrm::parses_as_json(empty_object.data(), 2));
  std::vector<char> prose{'n', 'o', 't', ' ', 'j', 's', 'o', 'n'};
  EXPECT_FALSE(kvrm::parses_as_json(prose.data(), 8));
  EXPECT_FALSE(kvrm::parses_as_json(nullptr, 0));
}
