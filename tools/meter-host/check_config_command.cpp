#include "check_config_command.h"

#include <fstream>

#include "config_check.h"
#include "line_settings.h"
#include "point_file_hint.h"

namespace meter_host {

int check_config_command(const std::string& path, std::uint32_t dataId, LineSink& out, Log& log) {
  Json::Value config;
  std::string error;
  if (!read_config(path, &config, &error)) {
    // A file that opens but is no JSON object is a finding; one that does
    // not open leaves nothing to check.
    if (!std::ifstream(path)) {
      log.line(error);
      return 2;
    }
    out.line(error);
    return 1;
  }
  readings::Findings findings;
  for (std::string& f : readings::check_settings(config)) findings.push_back(path + ": " + f);
  const std::optional<int> mode = readings::effective_mode(config);
  if (readings::point_file_matters(mode)) {
    const auto pointFile = readings::probe_point_file(dataId, readings::kDeviceType);
    for (std::string& f : readings::check_point_file(pointFile)) findings.push_back(std::move(f));
  }
  for (const std::string& f : findings) out.line(f);
  if (findings.empty()) {
    out.line(path + ": no findings (mode " + std::to_string(mode.value_or(1)) + ", data id " + std::to_string(dataId) +
             ")");
    return 0;
  }
  return 1;
}

}  // namespace meter_host
