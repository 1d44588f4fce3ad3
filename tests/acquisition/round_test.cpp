// Round completion: the stamp, the publication, the alarm work of each mode,
// the rule list, and the lock discipline around the snapshot rebuild.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "acquisition/round_helpers.h"
#include "support/capture_stdout.h"

namespace {

using kvtest::completion_ops;
namespace recorded = kvtest::recorded;
using Ops = std::vector<std::string>;

// Phase A voltage 230.1 and phase B voltage 231.0 (raw / 10000).
host::MeterImage voltage_meter() {
  host::MeterImage meter;
  meter.set(366, 35);
  meter.set(367, 7240);
  meter.set(368, 35);
  meter.set(369, 16240);
  return meter;
}

class Round : public kvtest::DriverTest {
protected:
  host::MeterImage meter = voltage_meter();

  void round() { kvtest::run_round(rec, dev, meter); }
};

TEST_F(Round, CompletionCallsComeInTheirOrder) {
  dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
  dev.aiSignalMap_["B相电压"] = {"klmnopqrst", "UB"};
  round();
  EXPECT_EQ(completion_ops(rec),
            (Ops{"send_sp", "reset", "check_threshold", "check_threshold", "batch_check_threshold", "save_history"}));
  EXPECT_TRUE(dev.rules_.empty());
}

TEST_F(Round, BlockIsSentAndStoredStampedWithTheLocalTime) {
  const auto now = kvtest::within_one_second([&](const boost::posix_time::ptime&) {
    rec.clear();
    round();
  });
  ASSERT_TRUE(now);
  const ttime_t expected = get_ttime(*now);
  const auto block = kvtest::block_bytes(dev);
  EXPECT_EQ(std::memcmp(block.data() + kvrm::kTimeOffset, &expected, sizeof expected), 0);
  EXPECT_EQ(dev.lastUpdateTime_.load(), *now);
  const auto sent = rec.records_of<recorded::SendSp>();
  const auto stored = rec.records_of<recorded::SaveHistory>();
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(sent[0].dataId, 5156);
  EXPECT_EQ(sent[0].bytes.size(), 915u);
  EXPECT_FALSE(sent[0].flag);
  EXPECT_EQ(sent[0].bytes, block);
  EXPECT_EQ(stored[0].bytes.size(), 915u);
  EXPECT_EQ(stored[0].bytes, block);
  EXPECT_TRUE(dev.dataReady_);
  EXPECT_EQ(dev.status_, 1);
  EXPECT_EQ(dev.lastUpdateTime_.load().time_of_day().fractional_seconds(), 0);
}

TEST_F(Round, RuleListIsReportedBatchCheckedAndEmptied) {
  dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
  dev.aiSignalMap_["B相电压"] = {"klmnopqrst", "UB"};
  dev.rules_.push_back(rule_value{"earlier", "added between rounds", 1.0f, 0});
  dev.checkResult_ = 0;
  rec.batchResult = 1;

  std::string out;
  {
    kvtest::CaptureStdout capture;
    round();
    out = capture.text();
  }

  EXPECT_NE(out.find("rvSize is 3\n"), std::string::npos) << out;
  const auto batch = rec.records_of<recorded::BatchCheckThreshold>();
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(batch[0].signalIds, (Ops{"earlier", "abc6efgh1j", "klm6opqr1t"}));
  EXPECT_TRUE(dev.rules_.empty());
  EXPECT_EQ(dev.checkResult_, 1);
}

TEST_F(Round, BatchResultIsOredIntoAClearedFlag) {
  dev.checkResult_ = 0xF0;
  rec.batchResult = 0;
  round();
  EXPECT_EQ(dev.checkResult_, 0);  // cleared at completion, then nothing to OR in
}

TEST_F(Round, PointFilePassOffersEachSignalUnderItsDerivedId) {
  dev.aiSignalMap_["B相电压"] = {"klmnopqrst", "UB"};
  dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
  round();
  const auto checks = rec.records_of<recorded::CheckThreshold>();
  ASSERT_EQ(checks.size(), 2u);
  EXPECT_EQ(checks[0].signalId, "abc6efgh1j");  // ascending names
  EXPECT_EQ(checks[0].name, "UA");
  EXPECT_EQ(checks[0].value, 230.10000610351562);
  EXPECT_EQ(checks[0].flag, 1);
  EXPECT_EQ(checks[1].signalId, "klm6opqr1t");
  EXPECT_EQ(checks[1].name, "UB");
  EXPECT_EQ(checks[1].value, 231.0);
  EXPECT_EQ(dev.aiSignalMap_.at("A相电压").first, "abcdefghij");  // the id itself unchanged
}

TEST_F(Round, PointFilePassOffersTheAnalogReportWithTheDerivedIdAsFallback) {
  dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
  SMDVDevice::BAOSetting rule;
  rule.changeEnabled = true;
  rule.changeDelta = 1.0f;
  dev.aoReportRuleMap_["abc6efgh1j"] = rule;  // only the derived id has a rule
  round();
  EXPECT_EQ(completion_ops(rec),
            (Ops{"send_sp", "reset", "check_threshold", "check_ao_report", "batch_check_threshold", "save_history"}));
  const auto reports = rec.records_of<recorded::CheckAoReport>();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].signalId, "abcdefghij");
  EXPECT_EQ(reports[0].value, 230.10000610351562);
  EXPECT_EQ(dev.aoReportRuleMap_.count("abcdefghij"), 1u);
}

TEST_F(Round, ThresholdModeRunsTheFourPassesInOrder) {
  dev.b_mode_ = kvrm::kThresholdMode;
  dev.upThresholdMap_["A相电压"] = kvrm::ThresholdEntry{"up", 250.0f, 245.0f, false, 1};
  dev.up2ThresholdMap_["A相电压"] = kvrm::ThresholdEntry{"up2", 260.0f, 255.0f, false, 2};
  dev.lowThresholdMap_["A相电压"] = kvrm::ThresholdEntry{"low", 180.0f, 185.0f, false, 3};
  dev.low2ThresholdMap_["A相电压"] = kvrm::ThresholdEntry{"low2", 170.0f, 175.0f, false, 4};
  round();
  const auto passes = rec.records_of<recorded::CheckThresholdBool>();
  ASSERT_EQ(passes.size(), 4u);
  const char* const ids[] = {"up", "up2", "low", "low2"};
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(passes[i].id, ids[i]);
  // the passes' rules, batch-checked
  EXPECT_EQ(rec.records_of<recorded::BatchCheckThreshold>().at(0).signalIds.size(), 4u);
  EXPECT_TRUE(dev.rules_.empty());
  EXPECT_EQ(completion_ops(rec).back(), "save_history");
}

TEST_F(Round, ShortSignalIdIsOfferedWithoutWritingPastItsEnd) {
  dev.aiSignalMap_["A相电压"] = {"ab", "UA"};
  round();
  const auto checks = rec.records_of<recorded::CheckThreshold>();
  ASSERT_EQ(checks.size(), 1u);
  EXPECT_EQ(checks[0].signalId, "ab");
}

TEST_F(Round, NameMissingFromTheSnapshotIsAddedAsNullAndNotOffered) {
  dev.aiSignalMap_["没有这个信号"] = {"abcdefghij", "X"};
  round();
  EXPECT_EQ(rec.count("check_threshold"), 0u);
  ASSERT_TRUE(dev.jsonSnapshot_.isMember("没有这个信号"));
  EXPECT_TRUE(dev.jsonSnapshot_["没有这个信号"].isNull());
  EXPECT_EQ(dev.jsonSnapshot_.size(), 232u);
}

TEST_F(Round, NonNumericMemberIsSkippedAndTheRoundStillCompletes) {
  dev.aiSignalMap_["更新时间"] = {"abcdefghij", "T"};
  dev.aiSignalMap_["A相电压"] = {"klmnopqrst", "UA"};
  round();
  const auto checks = rec.records_of<recorded::CheckThreshold>();
  ASSERT_EQ(checks.size(), 1u);
  EXPECT_EQ(checks[0].name, "UA");
  EXPECT_EQ(completion_ops(rec), (Ops{"send_sp", "reset", "check_threshold", "batch_check_threshold", "save_history"}));
  EXPECT_TRUE(dev.rules_.empty());
}

TEST_F(Round, ListingModeSendsAndStoresWithoutRebuildOrAlarms) {
  dev.b_mode_ = kvrm::kListingMode;
  dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
  std::string out;
  {
    kvtest::CaptureStdout capture;
    round();
    out = capture.text();
  }
  EXPECT_NE(out.find("rvSize is 0\n"), std::string::npos) << out;
  EXPECT_EQ(completion_ops(rec), (Ops{"send_sp", "reset", "batch_check_threshold", "save_history"}));
  EXPECT_TRUE(dev.jsonSnapshot_.isNull());
}

TEST_F(Round, OtherModesNeitherRebuildNorCheck) {
  for (int mode : {0, 2, 4, 6, -1}) {
    KVRM4410T_Q d;
    d.b_mode_ = mode;
    d.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
    rec.clear();
    kvtest::run_round(rec, d, meter);
    EXPECT_EQ(completion_ops(rec), (Ops{"send_sp", "reset", "batch_check_threshold", "save_history"})) << mode;
    EXPECT_TRUE(d.jsonSnapshot_.isNull()) << mode;
  }
}

TEST_F(Round, ThresholdModeRebuildsTheSnapshotAndSkipsThePointFile) {
  dev.b_mode_ = kvrm::kThresholdMode;
  dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
  round();
  ASSERT_TRUE(dev.jsonSnapshot_.isObject());
  EXPECT_EQ(dev.jsonSnapshot_["A相电压"].asDouble(), 230.10000610351562);
  EXPECT_EQ(rec.count("check_threshold"), 0u);
  EXPECT_EQ(rec.count("save_history"), 1u);
}

// A rebuild that records whether the driver mutex was free while it ran,
// judged from another thread (a try_lock by the owner would be undefined).
class RebuildProbe : public KVRM4410T_Q {
public:
  std::atomic<int> rebuilds{0};
  std::atomic<int> rebuildsUnderLock{0};
  void GenJsonData() override {
    ++rebuilds;
    std::thread([this] {
      if (mutex_.try_lock())
        mutex_.unlock();
      else
        ++rebuildsUnderLock;
    }).join();
    KVRM4410T_Q::GenJsonData();
  }
};

TEST_F(Round, RebuildIsCalledWithoutTheMutexInBothAlarmModes) {
  for (int mode : {kvrm::kPointFileMode, kvrm::kThresholdMode}) {
    RebuildProbe probe;
    probe.b_mode_ = mode;
    kvtest::run_round(rec, probe, meter);
    EXPECT_EQ(probe.rebuilds, 1) << mode;
    EXPECT_EQ(probe.rebuildsUnderLock, 0) << mode;
  }
}

// A threshold service that sees whether the pass holds the driver mutex,
// then fails.
class FailingThresholds : public host::RecordingBackend {
public:
  KVRM4410T_Q* dev = nullptr;
  bool heldDuringPass = false;
  bool check_threshold(SMDVDevice&, const std::string&, const std::string&, float, int) override {
    std::thread([this] {
      if (dev->mutex_.try_lock())
        dev->mutex_.unlock();
      else
        heldDuringPass = true;
    }).join();
    throw std::runtime_error("threshold service down");
  }
};

// A boolean threshold service that sees whether the passes hold the mutex.
class LockWatchingThresholds : public host::RecordingBackend {
public:
  KVRM4410T_Q* dev = nullptr;
  int calls = 0;
  int callsUnderLock = 0;
  bool check_threshold_bool(SMDVDevice&, int, const std::string&, const std::string&, const std::string&,
                            const std::string&, bool, unsigned short) override {
    ++calls;
    std::thread([this] {
      if (dev->mutex_.try_lock())
        dev->mutex_.unlock();
      else
        ++callsUnderLock;
    }).join();
    return false;
  }
};

TEST(RoundLock, ThresholdPassesRunUnderTheMutex) {
  kvtest::Driver<LockWatchingThresholds> d;
  auto& watching = d.rec;
  auto& dev = d.dev;
  watching.dev = &dev;
  dev.b_mode_ = kvrm::kThresholdMode;
  dev.upThresholdMap_["A相电压"] = kvrm::ThresholdEntry{"up", 250.0f, 245.0f, false, 1};
  dev.low2ThresholdMap_["B相电压"] = kvrm::ThresholdEntry{"low2", 170.0f, 175.0f, false, 4};
  auto meter = voltage_meter();
  kvtest::run_round(watching, dev, meter);
  EXPECT_EQ(watching.calls, 2);
  EXPECT_EQ(watching.callsUnderLock, 2);
  ASSERT_TRUE(dev.mutex_.try_lock());
  dev.mutex_.unlock();
}

TEST(RoundLock, PointFilePassHoldsTheMutexAndReleasesItWhenItThrows) {
  kvtest::Driver<FailingThresholds> d;
  auto& failing = d.rec;
  auto& dev = d.dev;
  failing.dev = &dev;
  dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
  auto meter = voltage_meter();
  dev.RefreshStatus();
  EXPECT_THROW(host::pump(failing, dev, meter), std::runtime_error);
  EXPECT_TRUE(failing.heldDuringPass);
  ASSERT_TRUE(dev.mutex_.try_lock());
  dev.mutex_.unlock();
}

// A host whose threshold services ask the device for a point value and
// send it command 320 while the pass runs, as a real host may.
class AskingThresholds : public host::RecordingBackend {
public:
  KVRM4410T_Q* dev = nullptr;
  std::vector<std::string> answers;
  std::vector<int> commandResults;

  bool check_threshold(SMDVDevice& d, const std::string& id, const std::string& name, float value,
                       int flag) override {
    ask();
    return RecordingBackend::check_threshold(d, id, name, value, flag);
  }
  bool check_threshold_bool(SMDVDevice& d, int level, const std::string& signalName, const std::string& alarmId,
                            const std::string& valueText, const std::string& alarmText, bool active,
                            unsigned short flag) override {
    ask();
    return RecordingBackend::check_threshold_bool(d, level, signalName, alarmId, valueText, alarmText, active, flag);
  }

private:
  void ask() {
    try {
      dev->Get_Value(1, "A相电压");
    } catch (const std::out_of_range& e) {
      answers.push_back(e.what());
    }
    const std::string text = "{}";
    int outLen = 0;
    commandResults.push_back(dev->DeviceIoControl(320, text.data(), static_cast<int>(text.size()), nullptr, 0, outLen));
  }
};

TEST(RoundLock, ServicesThatReadThePointAndSendCommand320DoNotDeadlock) {
  for (int mode : {kvrm::kPointFileMode, kvrm::kThresholdMode}) {
    kvtest::Driver<AskingThresholds> d;
    d.rec.dev = &d.dev;
    d.dev.b_mode_ = mode;
    d.dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
    d.dev.upThresholdMap_["A相电压"] = kvrm::ThresholdEntry{"up", 250.0f, 245.0f, false, 1};
    auto meter = voltage_meter();
    kvtest::run_round(d.rec, d.dev, meter);
    EXPECT_EQ(d.rec.answers, std::vector<std::string>{"不支持变量"}) << mode;
    EXPECT_EQ(d.rec.commandResults.size(), 1u) << mode;
    EXPECT_EQ(d.rec.count("save_history"), 1u) << mode;
  }
}

}  // namespace
