#pragma once
// Round completion and cache loading of UniDataDevice.
//
// The driver mutex guards what the serial path shares with host threads
// (the block, the snapshot and the configuration tables); round completion
// never holds it across the snapshot rebuild, which takes it itself, nor
// across the host's services that publish and store the block. The ready
// flag, the update time and the mode are atomics, read without the mutex,
// since the host may read them from inside a service called under it.
#include <iostream>
#include <mutex>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "alarms/round_alarms.h"
#include "host/types.h"

template <class Data, class Base, unsigned DataId>
bool UniDataDevice<Data, Base, DataId>::LoadFromCache(const unsigned char* data, int length) {
  // A missing image is refused like one of the wrong size.
  if (data == nullptr || length != static_cast<int>(sizeof(Data))) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(block(), data, sizeof(Data));
  }
  this->dataReady_ = true;
  RoundDone();
  return true;
}

template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::RoundDone() {
  const Image image = stamp_and_copy();
  publish(image);
  run_mode_alarms();
  report_and_batch_check();
  store(image);
}

// Marks the data ready, stamps the block with the local time to the second
// and returns a copy of it, so that the host's services read the round as
// stamped without the mutex. The clock may throw: then the data is ready
// but nothing has been stamped, sent or stored.
template <class Data, class Base, unsigned DataId>
auto UniDataDevice<Data, Base, DataId>::stamp_and_copy() -> Image {
  // The record ends with the packed local time of its reading.
  constexpr std::size_t timeOffset = sizeof(Data) - sizeof(ttime_t);
  this->dataReady_ = true;
  const boost::posix_time::ptime now = boost::posix_time::second_clock::local_time();
  const ttime_t stamp = get_ttime(now);
  Image image;
  std::lock_guard<std::mutex> lock(mutex_);
  this->lastUpdateTime_.store(now);
  std::memcpy(block() + timeOffset, &stamp, sizeof stamp);
  std::memcpy(image.data(), block(), image.size());
  return image;
}

// Sends the round to the host and ends the serial exchange.
template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::publish(const Image& image) {
  this->SendSP(static_cast<int>(DataId), image.data(), image.size(), false);
  this->Reset();
  this->checkResult_ = 0;
  this->status_ = 1;
  RunCheckThreshold();
}

// The alarm work of the mode, on a freshly rebuilt snapshot; other modes
// neither rebuild nor check.
template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::run_mode_alarms() {
  const kvrm::RoundAlarms alarms = kvrm::round_alarms(b_mode_.load());
  if (alarms == kvrm::RoundAlarms::None) return;
  GenJsonData();
  std::lock_guard<std::mutex> lock(mutex_);
  if (alarms == kvrm::RoundAlarms::PointFile)
    point_file_pass();
  else
    threshold_passes();
}

// Every point-file signal with a number in the snapshot, to the host's
// threshold service and to the analog report check.
template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::point_file_pass() {
  for (const auto& [name, ids] : aiSignalMap_) {
    // The inserting lookup: a name the snapshot lacks stays as a null member.
    const std::optional<float> value = kvrm::alarm_value(jsonSnapshot_[name]);
    if (!value) continue;
    const std::string derivedId = kvrm::derived_signal_id(ids.first);
    this->CheckThreshold(derivedId, ids.second, *value, 1);
    this->CheckAOReport(derivedId, ids.first, *value);
  }
}

// One hysteresis pass per limit, in the order of the limits table.
template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::threshold_passes() {
  for (const auto& limit : kvrm::kLimits<UniDataDevice>) CheckSignalThresholdMap(this->*limit.table, limit.upper);
}

// The rules that the host's alarm services collected, counted on standard
// output and handed to the host's batch check.
template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::report_and_batch_check() {
  std::cout << "rvSize is " << this->rules_.size() << std::endl;
  this->checkResult_ = static_cast<std::uint8_t>(this->checkResult_ | this->DoBatchCheckThreshold(this->rules_));
}

// The round as history; the next round collects its rules afresh.
template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::store(const Image& image) {
  this->SaveDeviceHistory(image.data(), image.size());
  this->rules_.clear();
}
