#include "site.h"

#include "line_settings.h"

namespace meter_host {

namespace {

bool whole(const Json::Value& v, long long min, long long max, long long* out) {
  if (!v.isIntegral()) return false;
  const long long n = v.asLargestInt();
  if (n < min || n > max) return false;
  *out = n;
  return true;
}

}  // namespace

std::string port_refusal(const std::string& port) {
  if (port.find_first_of("<>") != std::string::npos)
    return "the site's line \"port\" is a placeholder, not a port: set it to the adapter's path "
           "(/dev/serial/by-id/...)";
  if (port.empty() || port[0] != '/')
    return "the site's line \"port\" must be a device path such as /dev/serial/by-id/...: \"" + port + "\"";
  return {};
}

bool site_from_json(const Json::Value& json, Site* site, std::string* error) {
  Site s;
  s.json = json;
  if (json.isMember("line")) s.line = json["line"];
  const Json::Value port = s.line.isObject() ? s.line.get("port", Json::Value()) : Json::Value();
  if (port.isString()) {
    if (std::string why = port_refusal(port.asString()); !why.empty()) {
      *error = why;
      return false;
    }
  }
  if (json.isMember("offlineRetry")) {
    const Json::Value& v = json["offlineRetry"];
    if (!v.isNumeric() || !(v.asDouble() >= 0.0) || v.asDouble() > 86400.0) {
      *error = "the site's \"offlineRetry\" must be seconds from 0 to 86400";
      return false;
    }
    s.offlineRetry = v.asDouble();
  }
  const Json::Value& meters = json["meters"];
  if (!meters.isArray() || meters.empty()) {
    *error = "the site's \"meters\" must be a list of at least one meter";
    return false;
  }
  for (Json::ArrayIndex i = 0; i < meters.size(); ++i) {
    const Json::Value& m = meters[i];
    const std::string where = "the site's meter " + std::to_string(i + 1);
    long long n = 0;
    MeterSpec wanted;
    if (!m.isObject() || !whole(m["slave"], 1, 247, &n)) {
      *error = where + " needs a \"slave\" address from 1 to 247";
      return false;
    }
    wanted.slave = static_cast<unsigned>(n);
    if (m.isMember("dataId")) {
      if (!whole(m["dataId"], 0, 4294967295LL, &n)) {
        *error = where + ": \"dataId\" must be a whole number from 0 to 4294967295";
        return false;
      }
      wanted.dataId = static_cast<std::uint32_t>(n);
    }
    if (m.isMember("config")) {
      if (!m["config"].isString()) {
        *error = where + ": \"config\" must be a file name";
        return false;
      }
      wanted.config = m["config"].asString();
    }
    s.meters.push_back(wanted);
  }
  if (const std::string why = duplicate_meter(s.meters); !why.empty()) {
    *error = "the site's meters: " + why;
    return false;
  }
  *site = s;
  return true;
}

bool read_site(const std::string& path, Site* site, std::string* error) {
  Json::Value json;
  if (!read_config(path, &json, error)) return false;
  if (!site_from_json(json, site, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool meter_setups(const HostOptions& o, const Site& site, const Json::Value& config, std::vector<MeterSetup>* out,
                  std::string* error) {
  const auto& wanted = o.meters.empty() ? site.meters : o.meters;
  for (const MeterSpec& want : wanted) {
    MeterSetup m;
    m.slave = want.slave;
    m.dataId = want.dataId.value_or(want.slave);
    m.config = config;
    if (!want.config.empty() && !read_config(want.config, &m.config, error)) return false;
    out->push_back(m);
  }
  return true;
}

}  // namespace meter_host
