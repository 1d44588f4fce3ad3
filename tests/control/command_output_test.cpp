// Filling the caller's buffer: room, the snapshot text, the outcome.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/command_output.h"

TEST(CommandOutput, NegativeOrBufferlessCapacityIsNoRoom) {
  char buf[8] = {};
  EXPECT_EQ(kvrm::output_room(buf, 8), 8u);
  EXPECT_EQ(kvrm::output_room(buf, 0), 0u);
  EXPECT_EQ(kvrm::output_room(buf, -1), 0u);
  EXPECT_EQ(kvrm::output_room(buf, INT32_MIN), 0u);
  EXPECT_EQ(kvrm::output_room(nullptr, 8), 0u);
}

TEST(CommandOutput, TextCopiedWithoutTerminatorOnlyWhenItFits) {
  const std::string text = "{\"a\":1}\n";
  std::vector<char> buf(text.size() + 1, '#');
  EXPECT_FALSE(kvrm::copy_text(text, buf.data(), text.size() - 1));
  EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(text.size() + 1, '#'));
  EXPECT_TRUE(kvrm::copy_text(text, buf.data(), text.size()));
  EXPECT_EQ(std::string(buf.begin(), buf.end()), text + "#");
}

TEST(CommandOutput, OutcomeStoredAsInt32AtAnyAddress) {
  unsigned char buf[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(kvrm::store_outcome(-1, buf + 1, 3), 0);
  EXPECT_EQ(buf[1], 0xAA);
  EXPECT_EQ(kvrm::store_outcome(3, buf + 1, 4), 4);
  std::int32_t v;
  std::memcpy(&v, buf + 1, 4);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(buf[5], 0xAA);
}

TEST(CommandOutput, AddressStoredInItsNativeSize) {
  int target = 0;
  std::vector<unsigned char> buf(kvrm::kAddressSize + 1, 0xAA);
  EXPECT_FALSE(kvrm::store_address(&target, buf.data(), kvrm::kAddressSize - 1));
  EXPECT_EQ(buf[0], 0xAA);
  EXPECT_TRUE(kvrm::store_address(&target, buf.data(), kvrm::kAddressSize));
  void* stored;
  std::memcpy(&stored, buf.data(), sizeof stored);
  EXPECT_EQ(stored, &target);
  EXPECT_EQ(buf[kvrm::kAddressSize], 0xAA);
}
