// The command codes other than the writes: the outcome read-back, the
// signal commands passed to the host, and the snapshot hand-over.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "control/command_output.h"
#include "control_fixture.h"
#include "support/json.h"

using ControlCommands = ControlFixture;

TEST_F(ControlCommands, EveryCallPrintsItsCodeOnALine) {
  int ret = 0;
  char buf[4] = {};
  dev.DeviceIoControl(1000, nullptr, 0, buf, 4, ret);
  dev.DeviceIoControl(206, nullptr, 0, nullptr, 0, ret);  // refused, still announced
  dev.DeviceIoControl(-5, nullptr, 0, nullptr, 0, ret);
  EXPECT_EQ(out.text(),
            "KVRM4410T_Q::DeviceIoControl 1000\n"
            "KVRM4410T_Q::DeviceIoControl 206\n"
            "KVRM4410T_Q::DeviceIoControl -5\n");
}

TEST_F(ControlCommands, ReadBackFillsFourBytesThenReachesTheHost) {
  rec.ioControlResult = 42;
  const char in[] = "xy";
  unsigned char buf[5] = {0, 0, 0, 0, 0xAA};
  int ret = -7;
  EXPECT_EQ(dev.DeviceIoControl(77, in, 2, buf, 5, ret), 42);
  std::int32_t v;
  std::memcpy(&v, buf, 4);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(buf[4], 0xAA);
  EXPECT_EQ(ret, 4);
  auto calls = rec.records_of<recorded::DeviceIoControl>();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].code, 77);
  EXPECT_EQ(calls[0].inLen, 2);
  EXPECT_EQ(calls[0].outLen, 5);
  EXPECT_EQ(calls[0].outLenRet, 4);
  EXPECT_EQ(calls[0].in, (std::vector<std::uint8_t>{'x', 'y'}));
  EXPECT_EQ(rec.count("open_port"), 0u);
}

TEST_F(ControlCommands, ReadBackWithoutRoomTellsZeroAndStillReachesTheHost) {
  struct Case {
    bool buffer;
    int outLen;
  };
  for (const Case c : {Case{true, 0}, Case{true, 1}, Case{true, 2}, Case{true, 3}, Case{true, -1},
                       Case{false, 8}}) {
    SCOPED_TRACE(c.outLen);
    rec.clear();
    unsigned char buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    int ret = -7;
    dev.DeviceIoControl(1000, nullptr, 0, c.buffer ? buf : nullptr, c.outLen, ret);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(buf[0], 0xAA);
    auto calls = rec.records_of<recorded::DeviceIoControl>();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].code, 1000);
    EXPECT_EQ(calls[0].inLen, 0);
    EXPECT_EQ(calls[0].outLen, c.outLen);
    EXPECT_EQ(calls[0].outLenRet, 0);
  }
}

struct SignalCase {
  int code;
  int mode;
  std::string text;
  int result;    // -1, or the host handler's answer
  bool passed;   // reached the host's handler
};

TEST_F(ControlCommands, SignalCommandsAreCheckedAsJsonThenPassedOn) {
  const SignalCase cases[] = {
      {310, 1, "{}", 42, true},
      {310, 1, R"({"signal_id":"A"})", 42, true},
      {310, 1, "not json", -1, false},
      {310, 5, "not json", -1, false},
      {320, 1, "not json", 42, true},
      {320, 5, "not json", -1, false},
      {320, 5, "{}", 42, true},
      // Past the reader's nesting limit it throws rather than fail.
      {310, 1, std::string(1001, '[') + std::string(1001, ']'), -1, false},
      {320, 5, std::string(1001, '[') + std::string(1001, ']'), -1, false},
      {320, 1, std::string(1001, '['), 42, true},
  };
  rec.ioControlResult = 42;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + " mode " + std::to_string(c.mode) + " " + c.text.substr(0, 20));
    rec.clear();
    dev.b_mode_ = c.mode;
    dev.requestState_ = 17;
    dev.controlResult_ = 1;
    std::vector<char> in(c.text.begin(), c.text.end());  // no terminator
    int ret = -7;
    char buf[8] = {};
    EXPECT_EQ(dev.DeviceIoControl(c.code, in.data(), static_cast<int>(in.size()), buf, 8, ret), c.result);
    // The steps before the check stand whatever its verdict.
    EXPECT_EQ(dev.requestState_, c.code);
    EXPECT_EQ(dev.controlResult_, -1);
    EXPECT_EQ(rec.count("open_port"), 1u);
    auto calls = rec.records_of<recorded::DeviceIoControl>();
    ASSERT_EQ(calls.size(), c.passed ? 1u : 0u);
    if (!c.passed) continue;
    EXPECT_EQ(calls[0].code, c.code);
    EXPECT_EQ(calls[0].inLen, static_cast<int>(in.size()));
    EXPECT_EQ(calls[0].outLen, 8);
    EXPECT_EQ(calls[0].outLenRet, -7);
    EXPECT_EQ(std::string(calls[0].in.begin(), calls[0].in.end()), c.text);
  }
}

TEST_F(ControlCommands, ReplyInASignalStateIsIgnored) {
  std::vector<char> in{'{', '}'};
  int ret = 0;
  dev.DeviceIoControl(310, in.data(), 2, nullptr, 0, ret);
  dev.response_[0] = 16;
  dev.controlExpected_ = 16;
  EXPECT_EQ(dev.process_payload(SPModbus::TAB_REGISTERS, 1), 1);
  EXPECT_EQ(dev.controlResult_, -1);
  EXPECT_EQ(rec.count("reset"), 0u);
}

TEST_F(ControlCommands, SnapshotTextNeedsRoomForAllOfIt) {
  // No round yet: the snapshot is null, written as one line.
  const std::string text = "null\n";
  const int n = static_cast<int>(text.size());
  std::vector<char> buf(text.size() + 1, '#');
  int ret = -7;
  EXPECT_EQ(dev.DeviceIoControl(801, nullptr, 0, buf.data(), n - 1, ret), -1);
  EXPECT_EQ(ret, n);
  EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(text.size() + 1, '#'));
  EXPECT_EQ(dev.DeviceIoControl(801, nullptr, 0, buf.data(), -1, ret), -1);
  EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(text.size() + 1, '#'));
  EXPECT_EQ(dev.DeviceIoControl(801, nullptr, 0, nullptr, 64, ret), -1);

  ret = -7;
  EXPECT_EQ(dev.DeviceIoControl(801, nullptr, 0, buf.data(), n, ret), 0);
  EXPECT_EQ(ret, n);
  EXPECT_EQ(std::string(buf.begin(), buf.end()), text + "#");  // no terminator
  EXPECT_EQ(rec.count("device_io_control"), 0u);
}

TEST_F(ControlCommands, SnapshotAddressNeedsRoomForAnAddress) {
  const int size = static_cast<int>(kvrm::kAddressSize);
  std::vector<unsigned char> buf(kvrm::kAddressSize + 1, 0xAA);
  int ret = -7;
  EXPECT_EQ(dev.DeviceIoControl(803, nullptr, 0, buf.data(), size - 1, ret), -1);
  EXPECT_EQ(ret, size);
  EXPECT_EQ(buf[0], 0xAA);
  EXPECT_EQ(dev.DeviceIoControl(803, nullptr, 0, buf.data(), -size, ret), -1);
  EXPECT_EQ(dev.DeviceIoControl(803, nullptr, 0, nullptr, size, ret), -1);

  ret = -7;
  EXPECT_EQ(dev.DeviceIoControl(803, nullptr, 0, buf.data(), size, ret), 0);
  EXPECT_EQ(ret, size);
  const Json::Value* stored = nullptr;
  std::memcpy(&stored, buf.data(), sizeof stored);
  EXPECT_EQ(stored, &dev.jsonSnapshot_);
  EXPECT_EQ(buf[kvrm::kAddressSize], 0xAA);
  EXPECT_EQ(rec.count("device_io_control"), 0u);
}

TEST_F(ControlCommands, SnapshotTextCarriesTheLastRound) {
  meter.set(366, 35);  // phase A voltage, raw 2301000
  meter.set(367, 7240);
  dev.RefreshStatus();
  ASSERT_EQ(host::pump(rec, dev, meter), 22);
  std::vector<char> buf(64 * 1024);
  int ret = 0;
  ASSERT_EQ(dev.DeviceIoControl(801, nullptr, 0, buf.data(), static_cast<int>(buf.size()), ret), 0);
  const std::string text(buf.data(), static_cast<std::size_t>(ret));
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  Json::Value v;
  EXPECT_TRUE(kvtest::parse_json(text, v));
  ASSERT_TRUE(v.isObject());
  EXPECT_EQ(v["A相电压"].asDouble(), 230.10000610351562);
}

TEST_F(ControlCommands, SnapshotCommandsRebuildWhenRoundsDoNot) {
  dev.b_mode_ = 3;  // rounds leave the snapshot alone in this mode
  dev.RefreshStatus();
  ASSERT_EQ(host::pump(rec, dev, meter), 22);
  ASSERT_TRUE(dev.jsonSnapshot_.isNull());
  std::vector<unsigned char> buf(kvrm::kAddressSize);
  int ret = 0;
  ASSERT_EQ(dev.DeviceIoControl(803, nullptr, 0, buf.data(), static_cast<int>(buf.size()), ret), 0);
  EXPECT_TRUE(dev.jsonSnapshot_.isObject());
}
