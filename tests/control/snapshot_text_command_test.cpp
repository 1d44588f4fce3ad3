// Command 801 keeps its text between rounds, yet never hands out a text
// that no longer matches the snapshot: a new round, the point-file pass's
// inserting lookup, or a write through the address that 803 handed out.
#include <string>
#include <vector>

#include "control_fixture.h"
#include "publication/snapshot_text.h"

namespace {

struct SnapshotTextCommand : ControlFixture {
  std::vector<char> buf = std::vector<char>(64 * 1024);

  std::string text() {
    int ret = 0;
    EXPECT_EQ(dev.DeviceIoControl(801, nullptr, 0, buf.data(), static_cast<int>(buf.size()), ret), 0);
    return std::string(buf.data(), static_cast<std::size_t>(ret));
  }
  std::string writer_text() { return kvrm::fast_writer_text(dev.jsonSnapshot_); }
  void round() {
    dev.snapshotTime_ = boost::posix_time::ptime();  // a new round even within the same second
    dev.RefreshStatus();
    ASSERT_EQ(host::pump(rec, dev, meter), 22);
  }
  Json::Value& lent() {
    void* address = nullptr;
    int ret = 0;
    EXPECT_EQ(dev.DeviceIoControl(803, nullptr, 0, &address, static_cast<int>(sizeof address), ret), 0);
    return *static_cast<Json::Value*>(address);
  }
};

}  // namespace

TEST_F(SnapshotTextCommand, AsTheWriterWritesItRoundAfterRound) {
  EXPECT_EQ(text(), "null\n");
  for (unsigned r = 0; r < 3; ++r) {
    meter.set(409, static_cast<std::uint16_t>(4990 + r));
    round();
    EXPECT_EQ(text(), writer_text());
    EXPECT_EQ(text(), writer_text());
  }
}

TEST_F(SnapshotTextCommand, PointFilePassMemberAppearsInTheText) {
  round();
  const std::string before = text();
  dev.aiSignalMap_["不在快照中"] = {"0010110001", "x"};
  round();
  EXPECT_NE(text(), before);
  EXPECT_NE(text().find("null"), std::string::npos);
  EXPECT_EQ(text(), writer_text());
}

TEST_F(SnapshotTextCommand, WritesThroughTheLentAddressAppearInTheText) {
  round();
  Json::Value& snapshot = lent();
  const std::string before = text();
  snapshot["电网频率"] = 49.5;
  EXPECT_EQ(text(), writer_text());
  EXPECT_NE(text(), before);
  snapshot.removeMember("A相电压");
  EXPECT_EQ(text(), writer_text());
  snapshot = Json::Value(Json::objectValue);
  EXPECT_EQ(text(), "{}\n");
  round();  // the rebuild finds its members again
  EXPECT_EQ(dev.jsonSnapshot_.size(), 231u);
  EXPECT_EQ(text(), writer_text());
}
