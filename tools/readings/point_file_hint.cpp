#include "point_file_hint.h"

#include "config/modes.h"
#include "config/point_file.h"
#include "config_check.h"

namespace readings {

std::optional<std::string> point_file_hint(const Json::Value& config, std::uint32_t dataId, const std::string& cwd) {
  if (effective_mode(config) != std::optional<int>(kvrm::kPointFileMode)) return std::nullopt;
  const auto candidates = kvrm::point_file_candidates(dataId, kDeviceType);
  const std::string chosen = kvrm::choose_point_file(candidates);
  if (kvrm::is_yaml_path(chosen))
    return chosen + " is found but never read: the driver reads only .ini point files, so no signal is checked";
  if (!chosen.empty()) return std::nullopt;
  return "no point file, so no signal is checked: looked in " + cwd + " for ini/" + std::to_string(dataId) +
         ".ini and ini/" + kDeviceType + ".ini (also .yaml, also under ini/zediro/); samples/ini/" + kDeviceType +
         ".ini is an example: run from samples/, or copy it to ./ini/";
}

}  // namespace readings
