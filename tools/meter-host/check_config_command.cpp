#include "check_config_command.h"

#include <fstream>

#include "config_check.h"
#include "line_settings.h"
#include "point_file_hint.h"
#include "site.h"
#include "telemetry_options.h"
#include "web_options.h"

namespace meter_host {

namespace {

// The findings of one configuration; false when the file does not open.
bool config_findings(const std::string& path, std::uint32_t dataId, readings::Findings* findings,
                     std::optional<int>* modeOut, std::string* error) {
  Json::Value config;
  if (!read_config(path, &config, error)) {
    // A file that opens but is no JSON object is a finding; one that does
    // not open leaves nothing to check.
    if (!std::ifstream(path)) return false;
    findings->push_back(*error);
    return true;
  }
  for (std::string& f : readings::check_settings(config)) findings->push_back(path + ": " + f);
  const std::optional<int> mode = readings::effective_mode(config);
  if (readings::point_file_matters(mode)) {
    const auto pointFile = readings::probe_point_file(dataId, readings::kDeviceType);
    for (std::string& f : readings::check_point_file(pointFile)) findings->push_back(std::move(f));
  }
  *modeOut = mode;
  return true;
}

}  // namespace

int check_config_command(const std::string& path, std::uint32_t dataId, LineSink& out, Log& log) {
  std::string error;
  readings::Findings findings;
  std::optional<int> mode;
  if (!config_findings(path, dataId, &findings, &mode, &error)) {
    log.line(error);
    return 2;
  }
  for (const std::string& f : findings) out.line(f);
  if (findings.empty()) {
    out.line(path + ": no findings (mode " + std::to_string(mode.value_or(1)) + ", data id " + std::to_string(dataId) +
             ")");
    return 0;
  }
  return 1;
}

int check_site_command(const HostOptions& o, LineSink& out, Log& log) {
  Site site;
  std::string error;
  if (!std::ifstream(o.site)) {
    log.line("cannot open the site " + o.site);
    return 2;
  }
  readings::Findings findings;
  if (!read_site(o.site, &site, &error)) {
    out.line(error);
    return 1;
  }
  Json::Value config;
  LineSettings line;
  if (!read_config(o.config, &config, &error) || !resolve_line_settings(o, config, 0, &line, &error, site.line))
    findings.push_back(o.site + ": " + error);
  if (const std::string why = duplicate_meter(site.meters); !why.empty()) findings.push_back(o.site + ": " + why);
  for (const MeterSpec& m : site.meters) {
    const std::string path = m.config.empty() ? o.config : m.config;
    if (path.empty()) continue;
    std::optional<int> mode;
    if (!config_findings(path, m.dataId.value_or(m.slave), &findings, &mode, &error)) findings.push_back(error);
  }
  web::ServerOptions web;
  bool webOn = false;
  if (!web::resolve_http({}, site.json["http"], &web, &webOn, &error)) findings.push_back(o.site + ": " + error);
  telemetry::TelemetryOptions mqtt;
  if (!telemetry::resolve_telemetry({}, site.json["mqtt"], telemetry::host_name(), &mqtt, &error))
    findings.push_back(o.site + ": " + error);
  else if (!mqtt.url.empty() && !o.history.path && !site.json["history"]["path"].isString())
    findings.push_back(o.site + ": " + telemetry::kNeedsHistory);
  for (const std::string& f : findings) out.line(f);
  if (findings.empty()) {
    const std::size_t n = site.meters.size();
    out.line(o.site + ": no findings (" + std::to_string(n) + (n == 1 ? " meter)" : " meters)"));
    return 0;
  }
  return 1;
}

}  // namespace meter_host
