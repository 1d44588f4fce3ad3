// The snapshot text against the compact writer's, byte for byte: random
// blocks with every special number, extra null members, and objects changed
// behind the writer's back (as a holder of the snapshot's address may).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <json/value.h>

#include "acquisition/data_block.h"
#include "publication/json_number.h"
#include "publication/signal_catalogue.h"
#include "publication/snapshot.h"
#include "publication/snapshot_text.h"

namespace {

using Block = std::array<unsigned char, kvrm::kBlockSize>;

void put32(Block& b, std::size_t offset, std::uint32_t bits, bool lowFirst) {
  const auto hi = static_cast<std::uint16_t>(bits >> 16), lo = static_cast<std::uint16_t>(bits);
  kvrm::write_uint16(b.data(), offset, lowFirst ? lo : hi);
  kvrm::write_uint16(b.data(), offset + 2, lowFirst ? hi : lo);
}

// Bit patterns that reach every special text: NaNs of both signs, the
// infinities, both zeros, subnormals, the extremes of every decoding.
const std::uint32_t kSpecialBits[] = {
    0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFFFFFFFFu, 0x7F800000u, 0xFF800000u, 0x00000000u, 0x80000000u,
    0x00000001u, 0x80000001u, 0x007FFFFFu, 0x807FFFFFu, 0x00800000u, 0x7F7FFFFFu, 0xFF7FFFFFu, 0x7FFFFFFFu,
    0x3F800000u, 0x4B800000u, 0x5A0E1BCAu, 0x1DC3A2F5u,
};

Block random_block(std::mt19937& gen) {
  Block b{};
  for (auto& byte : b) byte = static_cast<unsigned char>(gen());
  std::uniform_int_distribution<int> pick(0, 3);
  for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue) {
    if (pick(gen) != 0) continue;
    const std::uint32_t special = kSpecialBits[gen() % std::size(kSpecialBits)];
    if (row.decoding == kvrm::Decoding::F32 || row.decoding == kvrm::Decoding::I32)
      put32(b, row.offset, special, row.decoding == kvrm::Decoding::F32);
    else if (row.decoding != kvrm::Decoding::Time)
      kvrm::write_uint16(b.data(), row.offset, static_cast<std::uint16_t>(special >> (gen() % 2 ? 16 : 0)));
  }
  return b;
}

// Names the point-file pass may add: catalogue-like, ASCII, escapes,
// embedded NUL, invalid UTF-8, sorting before, between and after.
const std::string kExtraNames[] = {
    "A相电压x", "", "0", "zz", "\"quote\\", std::string("nul\0byte", 8), "\x01\x1f\x7f", "\xff\xfe", "\xe4\xb8",
    "一象限无功总电能（0.001", "组合有功总电能 ", "emoji\xf0\x9f\x98\x80", "/slash", "tab\tline\n",
};

std::string writer_text(const Json::Value& v) { return kvrm::fast_writer_text(v); }

}  // namespace

TEST(JsonNumber, AsTheWriterPrintsEverySpecialAndRandomDouble) {
  using lim = std::numeric_limits<double>;
  const double specials[] = {0.0,          -0.0,          1.0,          -1.0,        50.0,       0.1,
                             1e16,         1e17,          -1e16,        1e-5,        1e-4,       123456789.0,
                             lim::quiet_NaN(), -lim::quiet_NaN(), lim::infinity(), -lim::infinity(), lim::denorm_min(),
                             -lim::denorm_min(), lim::min(), lim::max(),  -lim::max(), 2147483647.0, -2147483648.0,
                             9007199254740993.0, 18446744073709551615.0, 4294967295.0, 65535.0, -32768.0};
  char buf[kvrm::kJsonNumberRoom];
  for (double d : specials) {
    const std::string expected = writer_text(Json::Value(d));
    EXPECT_EQ(std::string(buf, kvrm::write_json_number(buf, d)) + "\n", expected) << d;
  }
  std::mt19937_64 gen(7);
  int differing = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t bits = gen();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (i % 2) d = static_cast<double>(static_cast<float>(d));  // the snapshot's numbers are floats
    const std::string now = std::string(buf, kvrm::write_json_number(buf, d)) + "\n";
    if (now != writer_text(Json::Value(d)) && ++differing <= 10) ADD_FAILURE() << now;
  }
  EXPECT_EQ(differing, 0);
}

TEST(SnapshotText, RandomBlocksAsTheWriterWritesThem) {
  std::mt19937 gen(20261208);
  kvrm::SnapshotText text;
  kvrm::SnapshotMembers members;
  Json::Value snapshot;
  EXPECT_EQ(text.text(snapshot), "null\n");
  for (int round = 0; round < 300; ++round) {
    const Block block = random_block(gen);
    text.values_changed();
    members.write(snapshot, block.data());
    if (round % 7 == 3) snapshot[kExtraNames[gen() % std::size(kExtraNames)]];  // the inserting lookup
    ASSERT_EQ(text.text(snapshot), writer_text(snapshot)) << "round " << round;
    ASSERT_EQ(text.text(snapshot), writer_text(snapshot)) << "kept text, round " << round;
  }
}

TEST(SnapshotText, ObjectChangedBehindItsBackIsWrittenAnew) {
  Block block{};
  kvrm::write_uint16(block.data(), 310, 5000);
  Json::Value snapshot;
  kvrm::write_snapshot(snapshot, block.data());
  kvrm::SnapshotText text;
  text.lend();
  // Each change keeps the member count, so only a comparison of the
  // members themselves can notice it.
  const auto changes = {
      +[](Json::Value& s) { s["电网频率"] = 50.000003814697266; },
      +[](Json::Value& s) { s["电网频率"] = -0.0; },
      +[](Json::Value& s) { s["电网频率"] = 0.0; },
      +[](Json::Value& s) { s["电网频率"] = 50; },
      +[](Json::Value& s) { s["电网频率"] = 50u; },
      +[](Json::Value& s) { s["电网频率"] = true; },
      +[](Json::Value& s) { s["电网频率"] = Json::Value(); },
      +[](Json::Value& s) { s["电网频率"] = "50"; },
      +[](Json::Value& s) { s["电网频率"] = "5\"0"; },
      +[](Json::Value& s) { s["电网频率"] = Json::Value(Json::arrayValue); },
      +[](Json::Value& s) {
        s["电网频率"] = Json::Value(Json::objectValue);
        s["电网频率"]["x"] = 1.5;
      },
      +[](Json::Value& s) { s["电网频率"] = std::nan(""); },
      +[](Json::Value& s) { s["更新时间"] = "2024-3-5 7:4:9"; },
      +[](Json::Value& s) { s["更新时间"] = "2024-3-5 7:4:8"; },
      +[](Json::Value& s) { s["更新时间"] = Json::Value(Json::stringValue); },
      +[](Json::Value& s) {
        s.removeMember("电网频率");
        s["电网频率X"] = 50.0;
      },
      +[](Json::Value& s) { s = Json::Value(Json::objectValue); },
      +[](Json::Value& s) { s = Json::Value(2.5); },
      +[](Json::Value& s) { s = Json::Value(); },
  };
  for (auto change : changes) {
    ASSERT_EQ(text.text(snapshot), writer_text(snapshot));
    change(snapshot);
    ASSERT_EQ(text.text(snapshot), writer_text(snapshot)) << writer_text(snapshot);
    if (!snapshot.isObject()) snapshot = Json::Value();  // a rebuild needs an object or null
    kvrm::write_snapshot(snapshot, block.data());
  }
}

TEST(SnapshotText, KeptUntilARebuildOrANewMemberWhenNotLent) {
  Block block{};
  Json::Value snapshot;
  kvrm::write_snapshot(snapshot, block.data());
  kvrm::SnapshotText text;
  const std::string first = text.text(snapshot);
  EXPECT_EQ(&text.text(snapshot), &text.text(snapshot));
  snapshot["新的"];  // the inserting lookup
  EXPECT_EQ(text.text(snapshot), writer_text(snapshot));
  kvrm::write_uint16(block.data(), 310, 5000);
  text.values_changed();
  kvrm::write_snapshot(snapshot, block.data());
  EXPECT_EQ(text.text(snapshot), writer_text(snapshot));
  EXPECT_NE(text.text(snapshot), first);
}

TEST(SnapshotMembers, RebuildAfterTheObjectWasChangedIsAsAFreshOne) {
  std::mt19937 gen(5);
  const auto changes = {
      +[](Json::Value&) {},
      +[](Json::Value& s) { s.removeMember("A相电压"); },
      +[](Json::Value& s) { s["extra"] = 1; },
      +[](Json::Value& s) { s["电网频率"] = "text"; },
      +[](Json::Value& s) { s = Json::Value(); },
      +[](Json::Value& s) {
        Json::Value copy = s;
        s = copy;  // equal members in new places
      },
      +[](Json::Value& s) {
        s.removeMember("组合有功总电能");
        s.removeMember("反向视在深谷电能（乘变比）");
        s["组合有功总电能"] = 1.0;  // back, in another node
      },
  };
  for (bool lent : {false, true}) {
    kvrm::SnapshotMembers members;
    if (lent) members.lend();
    Json::Value snapshot;
    for (auto change : changes) {
      Block block = random_block(gen);
      members.write(snapshot, block.data());
      change(snapshot);
      Json::Value expected = snapshot;
      block = random_block(gen);
      members.write(snapshot, block.data());
      kvrm::write_snapshot(expected, block.data());
      // Compared as text: NaN members compare unequal as values.
      ASSERT_EQ(writer_text(snapshot), writer_text(expected)) << "lent " << lent;
    }
  }
}
