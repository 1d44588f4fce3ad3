#pragma once
// Round completion and cache loading of UniDataDevice.
//
// The driver mutex guards the block, the update time and the snapshot
// against host threads (snapshot commands, cache loads, point reads). It is
// never held across a call that may take it again (the snapshot rebuild)
// or across the host's publication and history services.
#include <iostream>
#include <mutex>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "acquisition/round_completion.h"
#include "host/types.h"

template <class Data, class Base, unsigned DataId>
bool UniDataDevice<Data, Base, DataId>::LoadFromCache(const unsigned char* data, int length) {
  // A missing image is refused like one of the wrong size.
  if (data == nullptr || length != static_cast<int>(sizeof(Data))) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(block(), data, sizeof(Data));
    this->dataReady_ = true;
  }
  RoundDone();
  return true;
}

template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::RoundDone() {
  // The record ends with the packed local time of its reading.
  constexpr std::size_t timeOffset = sizeof(Data) - sizeof(ttime_t);

  {
    std::lock_guard<std::mutex> lock(mutex_);
    this->dataReady_ = true;
  }

  // The clock may throw; then nothing has been stamped, sent or stored.
  const boost::posix_time::ptime now = boost::posix_time::second_clock::local_time();
  const ttime_t stamp = get_ttime(now);

  // What is sent and stored is the round as stamped, copied whole so that
  // the host's services read it without the mutex.
  unsigned char image[sizeof(Data)];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    this->lastUpdateTime_ = now;
    std::memcpy(block() + timeOffset, &stamp, sizeof stamp);
    std::memcpy(image, block(), sizeof image);
  }

  this->SendSP(static_cast<int>(DataId), image, sizeof image, false);
  this->Reset();
  this->checkResult_ = 0;
  this->status_ = 1;
  RunCheckThreshold();

  int mode;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    mode = b_mode_;
  }
  switch (kvrm::round_alarms(mode)) {
    case kvrm::RoundAlarms::PointFile: {
      GenJsonData();
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& [name, ids] : aiSignalMap_) {
        // The inserting lookup: a name the snapshot lacks stays as a null member.
        const std::optional<float> value = kvrm::alarm_value(jsonSnapshot_[name]);
        if (!value) continue;
        const std::string derivedId = kvrm::derived_signal_id(ids.first);
        this->CheckThreshold(derivedId, ids.second, *value, 1);
        this->CheckAOReport(derivedId, ids.first, *value);
      }
      break;
    }
    case kvrm::RoundAlarms::Thresholds: {
      GenJsonData();
      std::lock_guard<std::mutex> lock(mutex_);
      CheckSignalThresholdMap(upThresholdMap_, true);
      CheckSignalThresholdMap(up2ThresholdMap_, true);
      CheckSignalThresholdMap(lowThresholdMap_, false);
      CheckSignalThresholdMap(low2ThresholdMap_, false);
      break;
    }
    case kvrm::RoundAlarms::None:
      break;
  }

  std::cout << "rvSize is " << this->rules_.size() << std::endl;
  this->checkResult_ = static_cast<std::uint8_t>(this->checkResult_ | this->DoBatchCheckThreshold(this->rules_));
  this->SaveDeviceHistory(image, sizeof image);
  this->rules_.clear();
}
