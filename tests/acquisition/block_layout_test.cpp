// The data block is a file format shared with the host: size, offsets and
// the four slot encodings.
#include <cstring>

#include <gtest/gtest.h>

#include "acquisition/data_block.h"
#include "acquisition/read_sequence.h"

namespace {

struct Block {
  unsigned char bytes[kvrm::kBlockSize] = {};
  void slot(std::size_t offset, std::uint16_t v) { kvrm::write_uint16(bytes, offset, v); }
};

}  // namespace

// Size, alignment and the worked offsets are checked where the block is
// defined, at compile time.
TEST(BlockLayout, RegistersOutsideTheImagesHaveNoSlot) {
  EXPECT_EQ(kvrm::register_offset(255), 0u);
  EXPECT_EQ(kvrm::register_offset(576), 0u);
  EXPECT_EQ(kvrm::register_offset(39534), 0u);
}

TEST(BlockLayout, SlotIsTheRegisterLittleEndian) {
  Block b;
  const std::uint16_t reg = 0x1234;
  kvrm::store_registers(b.bytes, 310, &reg, 1);
  EXPECT_EQ(b.bytes[310], 0x34);
  EXPECT_EQ(b.bytes[311], 0x12);
}

TEST(BlockLayout, Int32TakesTheFirstSlotAsHighHalf) {
  Block b;
  b.slot(24, 0xFFFF);
  b.slot(26, 0xFFFE);
  EXPECT_EQ(kvrm::read_int32(b.bytes, 24), -2);
  b.slot(224, 35);
  b.slot(226, 7240);
  EXPECT_EQ(kvrm::read_int32(b.bytes, 224), 2301000);
}

TEST(BlockLayout, Float32TakesTheFirstSlotAsLowHalf) {
  Block b;
  b.slot(644, 0x0000);
  b.slot(646, 0x3F80);
  EXPECT_EQ(b.bytes[644], 0x00);
  EXPECT_EQ(b.bytes[645], 0x00);
  EXPECT_EQ(b.bytes[646], 0x80);
  EXPECT_EQ(b.bytes[647], 0x3F);
  EXPECT_EQ(kvrm::read_float32(b.bytes, 644), 1.0f);
}

TEST(BlockLayout, OneSlotSignedAndUnsigned) {
  Block b;
  b.slot(296, 0xFC18);
  b.slot(304, 0xFC18);
  EXPECT_EQ(kvrm::read_int16(b.bytes, 296), -1000);
  EXPECT_EQ(kvrm::read_uint16(b.bytes, 304), 64536);
}

TEST(BlockLayout, ReadsAtOddOffsetsOfThePackedRecord) {
  // The record has no alignment: reading through it must not assume any.
  KVRM4410T_Q_Data_t rec;
  std::memset(&rec, 0, sizeof rec);
  auto* bytes = reinterpret_cast<unsigned char*>(&rec);
  kvrm::write_uint16(bytes, 909, 0xABCD);
  EXPECT_EQ(kvrm::read_uint16(bytes, 909), 0xABCD);
}

TEST(ReadSequence, TwentyTwoReadsOf452Registers) {
  unsigned total = 0, largest = 0;
  for (const auto& s : kvrm::kReadSequence) {
    total += s.count;
    largest = std::max<unsigned>(largest, s.count);
  }
  EXPECT_EQ(kvrm::kReadSequence.size(), 22u);
  EXPECT_EQ(total, 452u);
  EXPECT_EQ(largest, 110u);
  EXPECT_EQ(kvrm::step_for_state(10), nullptr);
  EXPECT_EQ(kvrm::step_for_state(33), nullptr);
  EXPECT_EQ(kvrm::step_for_state(17)->offset, 248);
  EXPECT_EQ(kvrm::step_for_state(17)->count, 2);
}
