#pragma once
// Configuration loading of UniDataDevice.
//
// Rounds may run on another thread while the host configures the device
// again: each mode builds its new table contents first and publishes them
// under the driver mutex, so a round's passes never see a half-loaded
// table, and no file is read while the mutex is held. Errors of the INI
// reader, the property tree and the JSON library leave as they are; the
// tables then hold what was loaded before the error.
#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/config_lines.h"
#include "config/listing.h"
#include "config/modes.h"
#include "config/on_exit.h"
#include "config/point_file.h"
#include "config/settings_text.h"
#include "config/threshold_settings.h"

namespace kvrm::detail {

template <class Device>
void stamp_data_id(Device& dev) {
  const std::uint32_t id = dev.DataId();
  std::lock_guard<std::mutex> lock(dev.mutex_);
  std::memcpy(dev.block(), &id, sizeof id);
}

// Point-file mode: "AI" and "ALARM" of the first point file found.
template <class Device>
void load_point_file(Device& dev) {
  const unsigned id = dev.DataId();
  const std::string type = dev.DeviceType();
  const std::string path = choose_point_file(point_file_candidates(id, type));
  if (path.empty()) say(ini_not_found_line(id, type));
  say(point_file_line(path));
  if (path.empty()) return;

  if (!is_yaml_path(path)) {
    const boost::property_tree::ptree tree = read_point_file(path);
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> ai;
    for (const auto& [key, value] : section_lines(tree, "AI")) ai.emplace_back(key, split_first_comma(value));
    {
      std::lock_guard<std::mutex> lock(dev.mutex_);
      for (const auto& [key, parts] : ai) dev.aiSignalMap_[key] = parts;
    }
    // A missing "ALARM" leaves here with the "AI" lines already taken.
    SectionLines alarms = section_lines(tree, "ALARM");
    for (auto& line : alarms) line.second = split_first_comma(line.second).first;
    {
      std::lock_guard<std::mutex> lock(dev.mutex_);
      for (const auto& [key, alarmId] : alarms) dev.alarmSignalIdMap_[key] = alarmId;
    }
    for (const auto& [key, alarmId] : alarms) say(alarm_signal_line(key, alarmId));
  }

  say(ai_header_line(id));
  std::map<std::string, std::pair<std::string, std::string>> listing;
  {
    std::lock_guard<std::mutex> lock(dev.mutex_);
    listing = dev.aiSignalMap_;
  }
  for (const auto& [key, parts] : listing) say(ai_signal_line(key, parts.first, parts.second));
}

// JSON listing mode: the composed ids and signal names, with a log line per
// member.
template <class Device>
void load_listing(Device& dev, const Json::Value& config) {
  say("here 1");
  const Json::Value& setting = config["thresholdSetting"];
  if (setting.isNull()) return;
  say("here 2");

  std::map<std::string, std::string> names, ids;
  OnExit publish([&] {
    std::lock_guard<std::mutex> lock(dev.mutex_);
    for (auto& [member, name] : names) dev.signalNameMap_[member] = std::move(name);
    for (auto& [member, text] : ids) dev.signalIdsMap_[member] = std::move(text);
  });
  // Each member is looked up again by its name, so a "thresholdSetting"
  // that is not an object raises the JSON library's error here.
  for (const std::string& member : setting.getMemberNames()) {
    say("here " + member);
    const Json::Value& value = setting[member];
    if (!value.isObject()) continue;
    if (is_present(value, "SignalName")) names[member] = value["SignalName"].asString();
    const std::string idText = compose_listing_id(dev.DataId(), value, std::cout);
    // The host's level and value tables: a name they lack is entered with 0.
    say(listing_line(member, idText, dev.signalLevelMap_[member], dev.signalValueMap_[member]));
    ids[member] = idText;
  }
}

// JSON threshold mode: the four tables hold exactly this configuration's
// limits afterwards.
template <class Device>
void load_threshold_tables(Device& dev, const Json::Value& config) {
  ThresholdTables fresh;
  OnExit publish([&] {
    std::lock_guard<std::mutex> lock(dev.mutex_);
    swap_threshold_tables(dev, fresh);
  });
  const Json::Value& setting = config["thresholdSetting"];
  if (setting.isObject()) load_thresholds(setting, fresh);
}

}  // namespace kvrm::detail

template <class Data, class Base, unsigned DataId>
int UniDataDevice<Data, Base, DataId>::InitSetting(const Json::Value& config) {
  kvrm::detail::stamp_data_id(*this);

  if (const std::optional<int> mode = kvrm::configured_mode(config)) {
    b_mode_ = *mode;
    kvrm::say(kvrm::mode_line(this->DataId(), *mode));
  }

  switch (b_mode_) {
    case kvrm::kPointFileMode:
      kvrm::detail::load_point_file(*this);
      break;
    case kvrm::kListingMode:
      kvrm::detail::load_listing(*this, config);
      break;
    case kvrm::kThresholdMode:
      kvrm::detail::load_threshold_tables(*this, config);
      break;
    default:
      break;
  }
  return Base::InitSetting(config);
}
