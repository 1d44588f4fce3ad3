#pragma once
// The answers of the web view, rendered from a copy of the site: pure
// functions of that copy, which the tests call directly.
#include <cstdint>
#include <optional>
#include <string>

#include <json/value.h>

#include "site_state.h"

namespace web {

// /api/site: every meter, its state, the line, the version.
Json::Value site_json(const SiteState& site, const std::string& version);
// /api/meters/<data id>: the newest completed round's values (by member
// name) with units, the alarms in force, the meter's state.
Json::Value meter_json(const MeterState& meter);
// The page's model, sent with every event: each meter grouped as the table
// view groups it, values at the meter's resolution.
Json::Value page_json(const SiteState& site, const std::string& version);
// /metrics in the Prometheus text format.
std::string metrics_text(const SiteState& site);

// "2026-12-08T10:06:59+08:00": local time with its offset.
std::string iso_local_time(std::time_t t);
// Compact JSON text of a value, UTF-8 as it is.
std::string json_text(const Json::Value& v);

}  // namespace web
