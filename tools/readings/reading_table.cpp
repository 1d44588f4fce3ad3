#include "reading_table.h"

#include <cmath>
#include <cstdio>

#include "block_time.h"
#include "publication/signal_catalogue.h"
#include "signal_display.h"
#include "text_width.h"

namespace readings {

namespace {

constexpr std::size_t kLabelWidth = 25;
constexpr std::size_t kNameWidth = 20;
constexpr std::size_t kValueWidth = 14;

std::string time_of(const Json::Value& snapshot) {
  const Json::Value& t = snapshot.isObject() ? snapshot[kvrm::kUpdateTimeSignal] : Json::Value::nullSingleton();
  if (!t.isString()) return "no time yet";
  const auto parsed = parse_time_text(t.asString());
  return parsed ? iso_text(*parsed, ' ') : t.asString();
}

std::string value_text(const Json::Value& snapshot, const kvrm::SignalRow& row) {
  const Json::Value& v = snapshot.isObject() ? snapshot[row.name] : Json::Value::nullSingleton();
  if (!v.isNumeric()) return "-";
  return fixed_text(v.asDouble(), decimals_of(row));
}

std::string row_line(const DisplayRow& r, const kvrm::SignalRow& row, const Json::Value& snapshot) {
  const auto unit = unit_of(r.name).value_or("");
  std::string line = "  " + pad_right(r.label, kLabelWidth) + pad_right(r.name, kNameWidth) +
                     pad_left(value_text(snapshot, row), kValueWidth);
  if (!unit.empty()) line += " " + unit;
  return line + "\n";
}

std::string alarm_line(const AlarmInForce& a) {
  std::string line = "  " + a.alarmId + " " + a.signal + " = " + a.valueText + ", level " + std::to_string(a.level);
  if (!a.alarmText.empty()) line += ": " + a.alarmText;
  return line + "\n";
}

}  // namespace

std::string fixed_text(double value, int decimals) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string render_reading(const RoundReading& r) {
  std::string out = "meter " + std::to_string(r.dataId) + " · round " + std::to_string(r.round) + " · " +
                    time_of(r.snapshot) + " · " + std::to_string(r.durationMs) + " ms\n";
  for (const DisplayGroup& g : display_groups()) {
    out += g.title;
    out += "\n";
    for (std::size_t i = 0; i < g.count; ++i)
      if (const kvrm::SignalRow* row = catalogue_row(g.rows[i].name)) out += row_line(g.rows[i], *row, r.snapshot);
  }
  if (r.alarms.empty()) {
    out += "Alarms in force: none\n";
  } else {
    out += "Alarms in force: " + std::to_string(r.alarms.size()) + "\n";
    for (const AlarmInForce& a : r.alarms) out += alarm_line(a);
  }
  return out;
}

}  // namespace readings
