#include "history_options.h"

#include "command_line.h"

namespace hist {

namespace {

// Every number of the member, with its bounds: one table for the site
// file and the command line.
struct NumberSetting {
  const char* member;
  const char* flag;
  double HistoryOptions::*value;
  std::optional<double> HistoryFlags::*given;
  double min;
  double max;
  const char* type;
  const char* help;
};

constexpr double kTenYears = 3660;

const NumberSetting kNumbers[] = {
    {"commitSeconds", "--history-commit", &HistoryOptions::commitSeconds, &HistoryFlags::commitSeconds, 0, 3600, "SECONDS",
     "store the rounds in one commit this often (default 10);\na stop commits what is left"},
    {"keepRawDays", "--keep-raw", &HistoryOptions::keepRawDays, &HistoryFlags::keepRawDays, 0, kTenYears * 10, "DAYS",
     "keep the rounds' blocks this long (default 3)"},
    {"keepMinuteDays", "--keep-minutes", &HistoryOptions::keepMinuteDays, &HistoryFlags::keepMinuteDays, 0,
     kTenYears * 10, "DAYS", "keep the per-minute min/mean/max this long (default 35)"},
    {"keepHourDays", "--keep-hours", &HistoryOptions::keepHourDays, &HistoryFlags::keepHourDays, 0, kTenYears * 10, "DAYS",
     "keep the per-hour min/mean/max this long (default 3650)"},
    {"maxMb", "--history-max-mb", &HistoryOptions::maxMb, &HistoryFlags::maxMb, 1, 1024 * 1024, "MB",
     "the history file's cap: the oldest blocks go first, then the\noldest minutes (default 2048)"},
};

}  // namespace

bool history_from_json(const Json::Value& member, HistoryOptions* options, std::string* error) {
  if (!member.isObject()) {
    *error = "the site's \"history\" must be an object";
    return false;
  }
  HistoryOptions o = *options;
  if (member.isMember("path")) {
    if (!member["path"].isString()) {
      *error = "the site's \"history\".\"path\" must be a file name";
      return false;
    }
    o.path = member["path"].asString();
  }
  for (const NumberSetting& n : kNumbers) {
    if (!member.isMember(n.member)) continue;
    const Json::Value& v = member[n.member];
    if (!v.isNumeric() || !(v.asDouble() >= n.min) || v.asDouble() > n.max) {
      *error = std::string("the site's \"history\".\"") + n.member + "\" must be " + cli::number_range(n.min, n.max);
      return false;
    }
    o.*n.value = v.asDouble();
  }
  *options = o;
  return true;
}

void add_history_flags(CLI::App& app, HistoryFlags& flags, const std::string& group) {
  app.add_option("--history", flags.path,
                 "SQLite database of the rounds, their per-minute and per-hour\n"
                 "tiers and the alarms; the newest round of each meter is\nloaded at start-up")
      ->type_name("FILE")
      ->group(group);
  for (const NumberSetting& n : kNumbers)
    cli::add_number(app, n.flag, [&flags, &n](double v) { flags.*n.given = v; }, n.min, n.max, n.help)
        ->type_name(n.type)
        ->group(group);
}

HistoryOptions resolve_history_options(const HistoryFlags& flags, const HistoryOptions& site) {
  HistoryOptions o = site;
  if (flags.path) o.path = *flags.path;
  for (const NumberSetting& n : kNumbers)
    if (flags.*n.given) o.*n.value = *(flags.*n.given);
  return o;
}

}  // namespace hist
