// Defaults of the host's device classes that drivers rely on.
#include <cstring>
#include <stdexcept>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "host/sp_modbus.h"
#include "recording_backend.h"
#include "support/capture_stdout.h"

namespace {

class PlainDevice : public SPModbus {
public:
  using SPModbus::LoadFromCache;
  int process_payload(tab_type, unsigned int) override { return 1; }
  bool LoadFromCache(const unsigned char* data, int length) override {
    seen.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    return true;
  }
  std::string seen;
};

}  // namespace

TEST(HostDefaults, OnErrorPrintsAndAnswersZero) {
  PlainDevice dev;
  kvtest::CaptureStdout out;
  EXPECT_EQ(dev.on_error(), 0);
  EXPECT_EQ(out.text(), "SPModbus get error\n");
}

TEST(HostDefaults, GetValueSaysDataNotReady) {
  PlainDevice dev;
  try {
    dev.Get_Value(3, "x");
    FAIL() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "数据未就绪");
  }
}

TEST(HostDefaults, TextCachePassesBytesAndLengthOn) {
  PlainDevice dev;
  const std::string image("a\0b", 3);
  VDeviceInterface& base = dev;
  EXPECT_TRUE(base.LoadFromCache(image));
  EXPECT_EQ(dev.seen, image);
}

TEST(HostDefaults, IdentityAndNoChildren) {
  PlainDevice dev;
  dev.dataId_ = 4242;
  dev.deviceType_ = "meter";
  EXPECT_EQ(dev.DataId(), 4242u);
  EXPECT_EQ(dev.DeviceType(), "meter");
  EXPECT_EQ(dev.GetChildVDevice(1), nullptr);
  EXPECT_TRUE(dev.GetAllChildVDevices().empty());
  EXPECT_TRUE(dev.IsSupportDevice("meter"));
  EXPECT_TRUE(dev.lastUpdateTime_.load().is_not_a_date_time());
  EXPECT_FALSE(dev.dataReady_);
}

TEST(HostDefaults, ServicesReachTheBackEndWithCopies) {
  host::RecordingBackend rec;
  host::ScopedBackend scoped(rec);
  PlainDevice dev;
  unsigned char block[5] = {1, 2, 3, 4, 5};
  dev.SendSP(5156, block, 5, false);
  block[0] = 9;
  dev.SaveDeviceHistory(block, 5);
  dev.CheckThreshold("id", "name", 1.5f, 1);
  std::vector<rule_value> rules(2);
  rec.batchResult = 3;
  EXPECT_EQ(dev.DoBatchCheckThreshold(rules), 3);
  using namespace host::recorded;
  ASSERT_EQ(rec.ops(), (std::vector<std::string>{"send_sp", "save_history", "check_threshold", "batch_check_threshold"}));
  const auto sent = rec.records_of<SendSp>().at(0);
  EXPECT_EQ(sent.dataId, 5156);
  EXPECT_FALSE(sent.flag);
  EXPECT_EQ(sent.bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(rec.records_of<SaveHistory>().at(0).bytes.at(0), 9);
  const auto check = rec.records_of<CheckThreshold>().at(0);
  EXPECT_EQ(check.signalId, "id");
  EXPECT_EQ(check.name, "name");
  EXPECT_EQ(dev.rules_.size(), 1u);
  EXPECT_EQ(rec.records_of<BatchCheckThreshold>().at(0).signalIds.size(), 2u);
}

TEST(HostDefaults, PackedTimeIsYearThenFiveBytes) {
  const auto t = boost::posix_time::ptime(boost::gregorian::date(2024, 3, 5), boost::posix_time::hours(7) +
                                                                               boost::posix_time::minutes(4) +
                                                                               boost::posix_time::seconds(9));
  const ttime_t packed = get_ttime(t);
  unsigned char bytes[7];
  std::memcpy(bytes, &packed, sizeof bytes);
  EXPECT_EQ(bytes[0] | (bytes[1] << 8), 2024);
  EXPECT_EQ(bytes[2], 3);
  EXPECT_EQ(bytes[3], 5);
  EXPECT_EQ(bytes[4], 7);
  EXPECT_EQ(bytes[5], 4);
  EXPECT_EQ(bytes[6], 9);
}
