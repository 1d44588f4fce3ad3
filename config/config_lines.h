#pragma once
// The diagnostic lines of configuration loading. Each goes to standard
// output on its own line and is flushed at once.
#include <string>

namespace kvrm {

void say(const std::string& line);

std::string mode_line(unsigned dataId, int mode);
std::string ini_not_found_line(unsigned dataId, const std::string& deviceType);
std::string point_file_line(const std::string& path);
std::string alarm_signal_line(const std::string& key, const std::string& id);
std::string ai_header_line(unsigned dataId);
std::string ai_signal_line(const std::string& key, const std::string& first, const std::string& second);

}  // namespace kvrm
