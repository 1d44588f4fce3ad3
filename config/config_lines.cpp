#include "config/config_lines.h"

#include <iostream>

namespace kvrm {

void say(const std::string& line) { std::cout << line << std::endl; }

std::string mode_line(unsigned dataId, int mode) {
  return "InitSetting " + std::to_string(dataId) + " b_mode_:" + std::to_string(mode);
}

std::string ini_not_found_line(unsigned dataId, const std::string& deviceType) {
  return "data_id:" + std::to_string(dataId) + " model:" + deviceType + " b ini not found";
}

std::string point_file_line(const std::string& path) { return "parse ini/yaml filename:" + path; }

std::string alarm_signal_line(const std::string& key, const std::string& id) {
  return "alarmSignalIdMap_ " + key + " : " + id;
}

std::string ai_header_line(unsigned dataId) { return "AI " + std::to_string(dataId); }

std::string ai_signal_line(const std::string& key, const std::string& first, const std::string& second) {
  return "first:" + key + " second:" + first + " name:" + second;
}

}  // namespace kvrm
