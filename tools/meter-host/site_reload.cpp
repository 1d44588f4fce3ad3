#include "site_reload.h"

#include "line_settings.h"
#include "notify_sink.h"
#include "site.h"

namespace meter_host {

namespace {

// The site's members that a running meter-host reads once: a change is
// told, and applied by a restart.
constexpr const char* kRestartMembers[] = {"history", "http", "mqtt"};

}  // namespace

bool SiteReload::read(std::vector<MeterSetup>* meters, Json::Value* siteJson, std::string* error) const {
  Site site;
  Json::Value config;
  LineSettings line;
  if ((!o_.site.empty() && !read_site(o_.site, &site, error)) || !read_config(o_.config, &config, error) ||
      !resolve_line_settings(o_, config, 0, &line, error, site.line) ||
      !meter_setups(o_, site, config, meters, error))
    return false;
  const LineSettings& running = session_.line();
  // The simulated meters' line is the one meter-sim made.
  if (line.port.empty()) line.port = running.port;
  if (line.port != running.port || line.parity != running.parity || (line.baud && line.baud != running.baud)) {
    *error = "the line's port, speed or parity changed: restart to use them";
    return false;
  }
  if (meters->empty()) meters->push_back(MeterSetup{line.slave, o_.dataId, config});
  *siteJson = site.json;
  return true;
}

void SiteReload::refused(const std::string& why) {
  log_.error("reload refused: " + why);
  if (notifier_) notifier_->reloaded("reload refused: " + why);
}

bool SiteReload::operator()() {
  if (notifier_) notifier_->reloading();
  log_.line("reloading " + (o_.site.empty() ? std::string("the configuration") : o_.site));
  std::vector<MeterSetup> meters;
  Json::Value site;
  std::string error;
  if (!read(&meters, &site, &error)) {
    refused(error);
    return false;
  }
  const auto changes = session_.reload(meters, history_, &sinks_, &error);
  if (!changes) {
    refused(error);
    return false;
  }
  for (const char* member : kRestartMembers)
    if (site[member] != started_[member])
      log_.warning(std::string("reload: the site's \"") + member + "\" changed: it takes a restart");
  for (const std::string& change : *changes) log_.line("reload: " + change);
  if (changes->empty()) log_.line("reload: nothing changed");
  if (notifier_) notifier_->reloaded();
  return !changes->empty();
}

}  // namespace meter_host
