#include "config_check.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <boost/property_tree/ini_parser.hpp>

#include "config/settings_text.h"
#include "config/limits.h"
#include "config/modes.h"
#include "publication/signal_catalogue.h"

namespace readings {

namespace {

// Round completion replaces the characters at positions 3 and 8 of an
// [AI] id to derive its fallback id.
constexpr std::size_t kShortestAiId = 9;

std::u32string code_points(const std::string& utf8) {
  std::u32string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
    char32_t c = n == 1 ? b : b & (0x7F >> n);
    for (std::size_t k = 1; k < n && i + k < utf8.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.push_back(c);
    i += n;
  }
  return out;
}

std::size_t edit_distance(const std::u32string& a, const std::u32string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

bool is_member(const std::string& name) {
  return std::any_of(kvrm::kSignalCatalogue.begin(), kvrm::kSignalCatalogue.end(),
                     [&](const kvrm::SignalRow& r) { return name == r.name; });
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// What a signal name that the driver looks up in the snapshot will find.
std::optional<std::string> signal_name_finding(const std::string& name) {
  if (name == kvrm::kUpdateTimeSignal) return quoted(name) + " is the update time text, not a number";
  if (is_member(name)) return std::nullopt;
  std::string why = quoted(name) + " is not a member of the snapshot";
  const std::string nearest = nearest_member(name);
  if (!nearest.empty()) why += " (did you mean " + quoted(nearest) + "?)";
  return why;
}

bool is_container(const Json::Value& v) { return v.isArray() || v.isObject(); }

bool all_blank(const char* p) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
  return *p == '\0';
}

// A setting's text as the driver parses it: the whole text a number?
bool whole_double(const std::string& text, double* out) {
  char* end = nullptr;
  errno = 0;
  *out = std::strtod(text.c_str(), &end);
  return end != text.c_str() && all_blank(end);
}

bool whole_integer(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && all_blank(end) && errno == 0 && v >= INT32_MIN && v <= INT32_MAX;
}

std::string short_text(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
  return text;
}

const char* direction_word(bool upper) { return upper ? "above" : "below"; }

using Limit = kvrm::LimitRow<kvrm::ThresholdTables>;

void check_limit(const Json::Value& member, const std::string& where, const Limit& limit, Findings& out) {
  const char* keys[3] = {limit.valueKey, limit.recoverKey, limit.levelKey};
  std::vector<const char*> missing;
  for (const char* k : keys)
    if (!kvrm::is_present(member, k)) missing.push_back(k);
  if (missing.size() == 3) return;
  bool loads = missing.empty();
  for (const char* k : missing) out.push_back(where + ": " + quoted(k) + " is missing, so this limit is not loaded");
  bool numbers = true;
  double values[2] = {0, 0};
  for (int i = 0; i < 3; ++i) {
    const char* k = keys[i];
    if (!kvrm::is_present(member, k)) {
      numbers = false;
      continue;
    }
    const Json::Value& v = member[k];
    if (is_container(v)) {
      out.push_back(where + ": " + quoted(k) + " is an array or object: the driver refuses the configuration");
      numbers = loads = false;
      continue;
    }
    const std::string text = v.asString();
    if (text.empty()) {
      out.push_back(where + ": " + quoted(k) + " is empty, so this limit is not loaded");
      numbers = loads = false;
      continue;
    }
    if (i < 2) {
      if (!whole_double(text, &values[i])) {
        out.push_back(where + ": " + quoted(k) + " " + quoted(text) + " is not a number (the driver reads " +
                      short_text(kvrm::parse_float(text)) + ")");
        numbers = false;
      } else if (!std::isfinite(static_cast<double>(kvrm::parse_float(text)))) {
        out.push_back(where + ": " + quoted(k) + " " + quoted(text) + " is not a finite number");
        numbers = false;
      }
    } else if (!whole_integer(text)) {
      out.push_back(where + ": " + quoted(k) + " " + quoted(text) + " is not a whole number (the driver reads " +
                    std::to_string(kvrm::parse_int(text)) + ")");
    }
  }
  if (!numbers) return;
  // The driver compares in single precision.
  const float threshold = static_cast<float>(values[0]);
  const float recover = static_cast<float>(values[1]);
  const bool wrongSide = limit.upper ? recover > threshold : recover < threshold;
  if (wrongSide)
    out.push_back(where + ": " + quoted(limit.recoverKey) + " " + member[limit.recoverKey].asString() + " is " +
                  direction_word(limit.upper) + " " + quoted(limit.valueKey) + " " +
                  member[limit.valueKey].asString() + ": no hysteresis, a raised alarm clears in the next round unless the value is past the recover value too");
}

void check_member(const std::string& name, const Json::Value& member, int mode, Findings& out) {
  const std::string where = "\"thresholdSetting\".\"" + name + "\"";
  if (!member.isObject()) {
    out.push_back(where + " is not an object: skipped");
    return;
  }
  const auto text_key = [&](const char* key, const char* missingWhy) {
    if (!kvrm::is_present(member, key)) {
      out.push_back(where + ": " + quoted(key) + " is missing" + missingWhy);
      return std::string();
    }
    if (is_container(member[key])) {
      out.push_back(where + ": " + quoted(key) + " is an array or object: the driver refuses the configuration");
      return std::string();
    }
    const std::string text = member[key].asString();
    if (text.empty()) out.push_back(where + ": " + quoted(key) + " is empty" + missingWhy);
    return text;
  };
  text_key("ID", ", so no limit of this member is loaded");
  const std::string signal = text_key("SignalName", ", so no limit of this member is loaded");
  if (!signal.empty())
    if (auto why = signal_name_finding(signal)) out.push_back(where + ": \"SignalName\" " + *why);
  if (mode == kvrm::kListingMode) {
    text_key("NMAlarmID", "");
    text_key("SignalNumber", "");
  }
  for (const Limit& limit : kvrm::kLimits<kvrm::ThresholdTables>) check_limit(member, where, limit, out);
}

}  // namespace

std::string nearest_member(const std::string& name) {
  const std::u32string wanted = code_points(name);
  std::string best;
  std::size_t bestDistance = SIZE_MAX, bestLengthGap = SIZE_MAX;
  for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue) {
    const std::u32string candidate = code_points(row.name);
    const std::size_t d = edit_distance(wanted, candidate);
    // On a tie, a name of the same length: a character written the other
    // way (一 for 1) is likelier than one left out.
    const std::size_t gap = candidate.size() > wanted.size() ? candidate.size() - wanted.size()
                                                             : wanted.size() - candidate.size();
    if (d < bestDistance || (d == bestDistance && gap < bestLengthGap)) {
      bestDistance = d;
      bestLengthGap = gap;
      best = row.name;
    }
  }
  // Far from every member: a suggestion would only mislead.
  const std::size_t limit = std::max<std::size_t>(2, wanted.size() / 2);
  return bestDistance <= limit ? best : std::string();
}

std::optional<int> effective_mode(const Json::Value& config) {
  try {
    return kvrm::configured_mode(config).value_or(kvrm::kPointFileMode);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Findings check_settings(const Json::Value& config) {
  Findings out;
  const Json::Value& app = config["appSetting"];
  if (!app.isNull() && !app.isObject())
    out.push_back("\"appSetting\" is not an object: \"b_mode\" is not read and the mode stays 1");
  const std::optional<int> mode = effective_mode(config);
  if (!mode) {
    out.push_back("\"b_mode\" is an array or object: the driver refuses the configuration");
  } else if (*mode != kvrm::kPointFileMode && *mode != kvrm::kListingMode && *mode != kvrm::kThresholdMode) {
    out.push_back("\"b_mode\" " + quoted(app["b_mode"].asString()) + " selects mode " + std::to_string(*mode) +
                  ": the modes are 1 (point file), 3 (listing) and 5 (thresholds); in any other mode nothing is "
                  "loaded and no alarm is checked");
  } else if (app.isObject() && kvrm::is_present(app, "b_mode") && app["b_mode"].isString() &&
             !whole_integer(app["b_mode"].asString())) {
    out.push_back("\"b_mode\" " + quoted(app["b_mode"].asString()) + " is not a whole number: the driver reads " +
                  std::to_string(*mode));
  }
  const Json::Value& setting = config["thresholdSetting"];
  if (setting.isNull()) return out;
  if (!setting.isObject()) {
    out.push_back("\"thresholdSetting\" is not an object: no limit is loaded");
    return out;
  }
  for (const std::string& name : setting.getMemberNames()) check_member(name, setting[name], mode.value_or(0), out);
  return out;
}

PointFileState probe_point_file(unsigned dataId, const std::string& deviceType) {
  PointFileState s;
  s.candidates = kvrm::point_file_candidates(dataId, deviceType);
  s.path = kvrm::choose_point_file(s.candidates);
  if (s.path.empty()) return s;
  if (kvrm::is_yaml_path(s.path)) {
    s.kind = PointFileState::Kind::yaml;
    return s;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(s.path, ec)) {
    s.kind = PointFileState::Kind::unreadable;
    s.error = "it is a directory";
    return s;
  }
  {
    std::ifstream probe(s.path);
    if (!probe) {
      s.kind = PointFileState::Kind::unreadable;
      s.error = std::strerror(errno);
      return s;
    }
  }
  try {
    const boost::property_tree::ptree tree = kvrm::read_point_file(s.path);
    s.kind = PointFileState::Kind::read;
    s.hasAi = tree.get_child_optional("AI").has_value();
    s.hasAlarm = tree.get_child_optional("ALARM").has_value();
    if (s.hasAi) s.ai = kvrm::section_lines(tree, "AI");
  } catch (const boost::property_tree::ini_parser_error& e) {
    s.kind = PointFileState::Kind::malformed;
    s.error = e.message() + " (line " + std::to_string(e.line()) + ")";
  }
  return s;
}

Findings check_point_file(const PointFileState& s) {
  Findings out;
  switch (s.kind) {
    case PointFileState::Kind::none: {
      std::string tried;
      for (const std::string& c : s.candidates) tried += (tried.empty() ? "" : ", ") + c;
      out.push_back("no point file: looked for " + tried + "; point-file mode loads no signal");
      return out;
    }
    case PointFileState::Kind::yaml:
      out.push_back(s.path + " is found but never read: the driver reads only .ini point files, so no signal is "
                    "loaded (rename it to .ini)");
      return out;
    case PointFileState::Kind::unreadable:
      out.push_back("cannot read the point file " + s.path + ": " + s.error);
      return out;
    case PointFileState::Kind::malformed:
      out.push_back(s.path + " is not a point file the driver can read: " + s.error);
      return out;
    case PointFileState::Kind::read:
      break;
  }
  if (!s.hasAi) out.push_back(s.path + " has no [AI] section: the driver refuses the configuration");
  if (!s.hasAlarm) out.push_back(s.path + " has no [ALARM] section: the driver refuses the configuration");
  for (const auto& [key, value] : s.ai) {
    if (key == kvrm::kUpdateTimeSignal)
      out.push_back(s.path + ": [AI] " + quoted(key) + " is the update time text: the driver fails on it in every "
                    "round");
    else if (auto why = signal_name_finding(key))
      out.push_back(s.path + ": [AI] " + *why);
    const std::string id = kvrm::split_first_comma(value).first;
    if (id.size() < kShortestAiId)
      out.push_back(s.path + ": [AI] " + quoted(key) + " has the id " + quoted(id) + ", shorter than " +
                    std::to_string(kShortestAiId) + " characters: its fallback id cannot be derived");
  }
  return out;
}

bool point_file_matters(const std::optional<int>& mode) {
  return !mode || (*mode != kvrm::kListingMode && *mode != kvrm::kThresholdMode);
}

}  // namespace readings
