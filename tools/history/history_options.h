#pragma once
// What the history keeps and how often it commits: from the site file's
// "history" member and from meter-host's options, the options winning.
#include <optional>
#include <string>

#include <json/value.h>

#include "cli_fwd.h"

namespace hist {

struct HistoryOptions {
  std::string path;  // empty: no history
  double commitSeconds = 10;
  double keepRawDays = 3;
  double keepMinuteDays = 35;
  double keepHourDays = 3650;
  double maxMb = 2048;
};

// The site member {"path", "commitSeconds", "keepRawDays",
// "keepMinuteDays", "keepHourDays", "maxMb"}: every member may be left out.
bool history_from_json(const Json::Value& member, HistoryOptions* options, std::string* error);

// What the command line gave; unset ones come from the site file, then
// from the defaults.
struct HistoryFlags {
  std::optional<std::string> path;
  std::optional<double> commitSeconds;
  std::optional<double> keepRawDays;
  std::optional<double> keepMinuteDays;
  std::optional<double> keepHourDays;
  std::optional<double> maxMb;
};

// --history, --history-commit, --keep-raw, --keep-minutes, --keep-hours,
// --history-max-mb, in the option group `group`.
void add_history_flags(CLI::App& app, HistoryFlags& flags, const std::string& group);

HistoryOptions resolve_history_options(const HistoryFlags& flags, const HistoryOptions& site);

}  // namespace hist
