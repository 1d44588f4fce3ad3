#pragma once
// The generic part of a device whose whole reading fits in one fixed data
// record: the record, the configuration tables, the JSON snapshot and the
// one driver mutex, with round completion, cache loading, configuration
// loading and the alarm passes.
#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/value.h>

#include "config/limits.h"
#include "config/modes.h"

template <class Data, class Base, unsigned DataId>
class UniDataDevice : public Base {
public:
  UniDataDevice() {
    std::memset(static_cast<void*>(&data_), 0, sizeof data_);
    b_mode_ = kvrm::kPointFileMode;
  }
  ~UniDataDevice() override = default;

  using Base::LoadFromCache;
  bool LoadFromCache(const unsigned char* data, int length) override;
  void RoundDone() override;
  int InitSetting(const Json::Value& config) override;

  virtual void RunCheckThreshold() {}
  virtual void GenJsonData() {}

  // One threshold pass over one table; upper: the entries are upper limits.
  void CheckSignalThresholdMap(kvrm::ThresholdMap& table, bool upper);
  // The analog report check; the host's service of the same name reports.
  using Base::CheckAOReport;
  int CheckAOReport(const std::string& fallbackId, const std::string& signalId, float value);

  unsigned char* block() { return reinterpret_cast<unsigned char*>(&data_); }
  const unsigned char* block() const { return reinterpret_cast<const unsigned char*>(&data_); }

  // Declaration order is part of the object's contract: members are built
  // in this order and destroyed in reverse.
  Data data_;
  // Set by configuration loading, read by round completion and commands
  // without the mutex.
  std::atomic<int> b_mode_{kvrm::kPointFileMode};
  std::map<std::string, std::string> signalIdsMap_;
  std::map<std::string, std::string> signalNameMap_;
  std::map<std::string, std::string> alarmSignalIdMap_;
  kvrm::ThresholdMap upThresholdMap_;
  kvrm::ThresholdMap up2ThresholdMap_;
  kvrm::ThresholdMap lowThresholdMap_;
  kvrm::ThresholdMap low2ThresholdMap_;
  boost::posix_time::ptime snapshotTime_;  // not-a-date-time
  mutable std::mutex mutex_;
  Json::Value jsonSnapshot_;
  std::map<std::string, std::pair<std::string, std::string>> aiSignalMap_;

private:
  // The steps of round completion, in their order.
  using Image = std::array<unsigned char, sizeof(Data)>;
  Image stamp_and_copy();
  void publish(const Image& image);
  void run_mode_alarms();
  void point_file_pass();
  void threshold_passes();
  void report_and_batch_check();
  void store(const Image& image);
};

#include "plugin/uni_data_device_round.h"
#include "plugin/uni_data_device_config.h"
#include "plugin/uni_data_device_alarms.h"
