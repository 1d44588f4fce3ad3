#pragma once
// A site file: the line settings and the meters of a permanent set-up, as
// JSON: {"line": {"port": ..., "baud": ..., ...}, "meters": [{"slave": 1,
// "dataId": 1, "config": "meter1.json"}, ...], "offlineRetry": 30}.
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "host_options.h"
#include "session.h"

namespace meter_host {

struct Site {
  Json::Value line;  // null when absent
  std::vector<MeterSpec> meters;
  std::optional<double> offlineRetry;
  // The whole file: each part of the daemon reads its own member.
  Json::Value json;
};

// Why a site's "port" cannot name a serial line, or empty: a placeholder in
// angle brackets (the packaged site ships one) or a path that is not absolute.
std::string port_refusal(const std::string& port);

bool read_site(const std::string& path, Site* site, std::string* error);
// The same from an object already read.
bool site_from_json(const Json::Value& json, Site* site, std::string* error);

// The meters of the line from the command line or else the site file,
// each with its configuration (`config` unless it names its own).
bool meter_setups(const HostOptions& o, const Site& site, const Json::Value& config, std::vector<MeterSetup>* out,
                  std::string* error);

}  // namespace meter_host
