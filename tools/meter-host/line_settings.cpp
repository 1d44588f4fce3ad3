#include "line_settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <json/reader.h>

#include "cli_number.h"

namespace meter_host {

bool read_config(const std::string& path, Json::Value* config, std::string* error) {
  if (path.empty()) {
    *config = Json::Value(Json::objectValue);
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the configuration " + path + ": " + std::strerror(errno);
    return false;
  }
  Json::CharReaderBuilder builder;
  std::string errors;
  if (!Json::parseFromStream(builder, in, config, &errors)) {
    *error = path + " is not JSON: " + errors;
    return false;
  }
  if (!config->isObject()) {
    *error = path + " must hold one JSON object";
    return false;
  }
  return true;
}

namespace {

// A setting given as a JSON number or as text.
bool setting_number(const Json::Value& host, const char* key, long long min, long long max, unsigned* out,
                    std::string* error) {
  if (!host.isMember(key) || host[key].isNull()) return true;
  const Json::Value& v = host[key];
  std::optional<long long> n;
  if (v.isIntegral()) {
    n = v.asLargestInt();
    if (*n < min || *n > max) n.reset();
  } else if (v.isString()) {
    n = cli::parse_integer(v.asString(), min, max);
  }
  if (!n) {
    *error = std::string("\"hostSetting\".\"") + key + "\" must be a whole number from " + std::to_string(min) +
             " to " + std::to_string(max);
    return false;
  }
  *out = static_cast<unsigned>(*n);
  return true;
}

}  // namespace

bool resolve_line_settings(const HostOptions& options, const Json::Value& config, unsigned deviceBaud,
                           LineSettings* out, std::string* error) {
  LineSettings s;
  s.baud = deviceBaud;
  const Json::Value none;
  const Json::Value& host = config.isObject() && config.isMember("hostSetting") ? config["hostSetting"] : none;
  if (!host.isNull() && !host.isObject()) {
    *error = "\"hostSetting\" must be an object";
    return false;
  }
  if (host.isObject()) {
    if (host.isMember("port") && !host["port"].isNull()) {
      if (!host["port"].isString()) {
        *error = "\"hostSetting\".\"port\" must be a device path";
        return false;
      }
      s.port = host["port"].asString();
    }
    if (!setting_number(host, "baud", 50, 4000000, &s.baud, error) ||
        !setting_number(host, "slave", 1, 247, &s.slave, error) ||
        !setting_number(host, "timeoutMs", 1, 600000, &s.timeoutMs, error))
      return false;
    if (host.isMember("parity") && !host["parity"].isNull()) {
      const std::string p = host["parity"].isString() ? host["parity"].asString() : std::string();
      if (p != "N" && p != "E" && p != "O") {
        *error = "\"hostSetting\".\"parity\" must be \"N\", \"E\" or \"O\"";
        return false;
      }
      s.parity = p[0];
    }
  }
  if (options.port) s.port = *options.port;
  if (options.baud) s.baud = *options.baud;
  if (options.parity) s.parity = *options.parity;
  if (options.slave) s.slave = *options.slave;
  if (options.timeoutMs) s.timeoutMs = *options.timeoutMs;
  *out = s;
  return true;
}

}  // namespace meter_host
