#include "line_settings.h"

#include <algorithm>

#include "command_line.h"
#include "host_options.h"
#include "json_file.h"

namespace meter_host {

bool read_config(const std::string& path, Json::Value* config, std::string* error) {
  if (path.empty()) {
    *config = Json::Value(Json::objectValue);
    return true;
  }
  switch (json_file::read(path, config, error)) {
    case json_file::Status::unreadable:
      *error = "cannot read the configuration " + path + ": " + *error;
      return false;
    case json_file::Status::not_json:
      *error = path + " is not JSON: " + *error;
      return false;
    case json_file::Status::ok:
      break;
  }
  if (!config->isObject()) {
    *error = path + " must hold one JSON object";
    return false;
  }
  return true;
}

namespace {

// A setting given as a JSON number or as text.
bool setting_number(const Json::Value& host, const std::string& where, const char* key, long long min,
                    long long max, unsigned* out, std::string* error) {
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
    *error = where + ".\"" + key + "\" must be a whole number from " + std::to_string(min) + " to " +
             std::to_string(max);
    return false;
  }
  *out = static_cast<unsigned>(*n);
  return true;
}

// One object of line settings ("hostSetting", or a site file's "line").
bool apply_settings(const Json::Value& host, const std::string& where, LineSettings& s, std::string* error) {
  if (host.isNull()) return true;
  if (!host.isObject()) {
    *error = where + " must be an object";
    return false;
  }
  if (host.isMember("port") && !host["port"].isNull()) {
    if (!host["port"].isString()) {
      *error = where + ".\"port\" must be a device path";
      return false;
    }
    s.port = host["port"].asString();
  }
  if (!setting_number(host, where, "baud", 50, 4000000, &s.baud, error) ||
      !setting_number(host, where, "slave", 1, 247, &s.slave, error) ||
      !setting_number(host, where, "timeoutMs", 1, 600000, &s.timeoutMs, error))
    return false;
  const auto& bauds = cli::standard_bauds();
  if (host.isMember("baud") && std::find(bauds.begin(), bauds.end(), s.baud) == bauds.end()) {
    *error = where + ".\"baud\" must be a standard rate from 1200 to 921600";
    return false;
  }
  if (host.isMember("parity") && !host["parity"].isNull()) {
    const std::string p = host["parity"].isString() ? host["parity"].asString() : std::string();
    if (p != "N" && p != "E" && p != "O") {
      *error = where + ".\"parity\" must be \"N\", \"E\" or \"O\"";
      return false;
    }
    s.parity = p[0];
  }
  if (host.isMember("rs485") && !host["rs485"].isNull()) {
    if (!host["rs485"].isBool()) {
      *error = where + ".\"rs485\" must be true or false";
      return false;
    }
    s.rs485 = host["rs485"].asBool();
  }
  if (host.isMember("rts") && !host["rts"].isNull()) {
    const std::string r = host["rts"].isString() ? host["rts"].asString() : std::string();
    if (r != "up" && r != "down") {
      *error = where + ".\"rts\" must be \"up\" or \"down\"";
      return false;
    }
    s.rts = r[0];
  }
  return true;
}

}  // namespace

bool resolve_line_settings(const HostOptions& options, const Json::Value& config, unsigned deviceBaud,
                           LineSettings* out, std::string* error, const Json::Value& site) {
  LineSettings s;
  s.baud = deviceBaud;
  const Json::Value none;
  const Json::Value& host = config.isObject() && config.isMember("hostSetting") ? config["hostSetting"] : none;
  if (!apply_settings(host, "\"hostSetting\"", s, error) || !apply_settings(site, "the site's \"line\"", s, error))
    return false;
  if (options.port) s.port = *options.port;
  if (options.baud) s.baud = *options.baud;
  if (options.parity) s.parity = *options.parity;
  if (options.slave) s.slave = *options.slave;
  if (options.timeoutMs) s.timeoutMs = *options.timeoutMs;
  if (options.rs485) s.rs485 = true;
  if (options.rts) s.rts = (*options.rts)[0];
  *out = s;
  return true;
}

LineOptions add_line_options(CLI::App& app, HostOptions& o, const std::string& group) {
  auto* port = app.add_option("--port", o.port, "serial device, best a /dev/serial/by-id/ path")
                   ->type_name("DEVICE")
                   ->group(group);
  cli::add_whole(app, "--baud", [&o](long long v) { o.baud = static_cast<unsigned>(v); }, 50, 4000000,
                 "line speed, a standard rate from 1200 to 921600\n(default: the driver's, 9600)")
      ->check(cli::one_of(cli::standard_bauds()))->type_name("BAUD")
      ->group(group);
  app.add_option_function<std::string>(
         "--parity", [&o](const std::string& p) { o.parity = p[0]; }, "parity (default N), 8 data bits, 1 stop bit")
      ->check(cli::one_of(std::vector<std::string>{"N", "E", "O"}))
      ->type_name("N|E|O")
      ->group(group);
  auto* slave = cli::add_whole(app, "--slave", [&o](long long v) { o.slave = static_cast<unsigned>(v); }, 1, 247,
                               "the single meter's slave address (default 1)")
                    ->group(group);
  cli::add_whole(app, "--timeout-ms", [&o](long long v) { o.timeoutMs = static_cast<unsigned>(v); }, 1, 600000,
                 "reply time-out per request (default 1000)")
      ->group(group);
  app.add_flag("--rs485", o.rs485, "switch the port's RS-485 mode on (UARTs that drive RS-485)")->group(group);
  app.add_option("--rts", o.rts, "RTS direction control: RTS up or down while sending")
      ->check(cli::one_of(std::vector<std::string>{"up", "down"}))
      ->type_name("up|down")
      ->group(group);

  return LineOptions{port, slave};
}

}  // namespace meter_host
