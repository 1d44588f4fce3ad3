// Cache loading: a stored image of the exact size is taken over whole and
// completes a round; anything else is refused without effect.
#include <gtest/gtest.h>

#include "acquisition/round_helpers.h"

namespace {

using Ops = std::vector<std::string>;

std::vector<std::uint8_t> stored_image() {
  std::vector<std::uint8_t> image(kvrm::kBlockSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  // Phase A voltage 230.1, and a time stamp from long ago.
  kvrm::write_uint16(image.data(), kvrm::register_offset(366), 35);
  kvrm::write_uint16(image.data(), kvrm::register_offset(367), 7240);
  return image;
}

class Cache : public kvtest::DriverTest {};

TEST_F(Cache, RefusesAnyLengthButTheBlockSize) {
  const auto image = stored_image();
  dev.block()[0] = 0x42;
  const auto before = kvtest::block_bytes(dev);
  for (int length : {914, 916, 0, -1, 1830}) {
    std::vector<std::uint8_t> buffer(2000, 0xEE);
    EXPECT_FALSE(dev.LoadFromCache(buffer.data(), length)) << length;
  }
  EXPECT_FALSE(dev.LoadFromCache(std::string(914, 'x')));
  EXPECT_TRUE(rec.records().empty());
  EXPECT_EQ(kvtest::block_bytes(dev), before);
  EXPECT_FALSE(dev.dataReady_);
  EXPECT_TRUE(dev.lastUpdateTime_.load().is_not_a_date_time());
}

TEST_F(Cache, RefusesAMissingImage) {
  EXPECT_FALSE(dev.LoadFromCache(nullptr, 915));
  EXPECT_TRUE(rec.records().empty());
  EXPECT_FALSE(dev.dataReady_);
}

TEST_F(Cache, TakesTheImageWholeAndCompletesARoundOnIt) {
  const auto image = stored_image();
  bool taken = false;
  const auto now = kvtest::within_one_second([&](const boost::posix_time::ptime&) {
    rec.clear();
    taken = dev.LoadFromCache(image.data(), static_cast<int>(image.size()));
  });
  ASSERT_TRUE(now);
  EXPECT_TRUE(taken);
  const auto block = kvtest::block_bytes(dev);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + kvrm::kTimeOffset, block.begin()));  // id included
  const ttime_t stamp = get_ttime(*now);
  EXPECT_EQ(std::memcmp(block.data() + kvrm::kTimeOffset, &stamp, sizeof stamp), 0);
  EXPECT_EQ(dev.lastUpdateTime_.load(), *now);
  EXPECT_EQ(kvtest::completion_ops(rec), (Ops{"send_sp", "reset", "batch_check_threshold", "save_history"}));
  EXPECT_EQ(rec.records_of<kvtest::recorded::SendSp>().at(0).bytes, block);
  EXPECT_EQ(rec.records_of<kvtest::recorded::SaveHistory>().at(0).bytes, block);
  EXPECT_TRUE(dev.dataReady_);
  EXPECT_EQ(dev.jsonSnapshot_["A相电压"].asDouble(), 230.10000610351562);
}

TEST_F(Cache, TextFormReachesTheSameLoader) {
  const auto image = stored_image();
  EXPECT_TRUE(dev.LoadFromCache(std::string(image.begin(), image.end())));
  EXPECT_EQ(dev.block()[0], image[0]);
  EXPECT_EQ(rec.count("save_history"), 1u);
}

}  // namespace
