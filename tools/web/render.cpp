#include "render.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include <json/writer.h>

#include "publication/signal_catalogue.h"
#include "publication/signal_value.h"
#include "reading_table.h"
#include "signal_display.h"

namespace web {

namespace {

// One sample of a metric family: the member it shows and its one label
// (phase or quadrant), if any.
struct MetricRow {
  const char* member;
  const char* labelValue;  // nullptr: no label
};

enum class MetricType { gauge, counter };

// A family of the meter's quantities in Prometheus' base units: `scale`
// turns the meter's unit into it (kW to W, kWh to J).
struct MetricFamily {
  const char* name;
  const char* help;
  MetricType type;
  const char* label;  // "phase", "quadrant", or nullptr
  double scale;
  std::vector<MetricRow> rows;
};

constexpr double kWatts = 1000.0;          // kW, kvar, kVA
constexpr double kJoulesPerKwh = 3.6e6;    // kWh
constexpr double kVarHours = 1000.0;       // kvarh, kVAh to var-hours, VA-hours

const std::vector<MetricFamily>& families() {
  static const std::vector<MetricFamily> table{
      {"kvrm4410t_phase_voltage_volts", "Phase-to-neutral voltage.", MetricType::gauge, "phase", 1.0,
       {{"A相电压", "a"}, {"B相电压", "b"}, {"C相电压", "c"}}},
      {"kvrm4410t_phase_voltage_average_volts", "Mean of the three phase voltages.", MetricType::gauge, nullptr, 1.0,
       {{"三相平均相电压", nullptr}}},
      {"kvrm4410t_line_voltage_volts", "Line-to-line voltage.", MetricType::gauge, "phase", 1.0,
       {{"A相线电压", "a"}, {"B相线电压", "b"}, {"C相线电压", "c"}}},
      {"kvrm4410t_line_voltage_average_volts", "Mean of the three line voltages.", MetricType::gauge, nullptr, 1.0,
       {{"三相平均线电压", nullptr}}},
      {"kvrm4410t_current_amperes", "Phase current.", MetricType::gauge, "phase", 1.0,
       {{"A相电流", "a"}, {"B相电流", "b"}, {"C相电流", "c"}}},
      {"kvrm4410t_current_average_amperes", "Mean of the three phase currents.", MetricType::gauge, nullptr, 1.0,
       {{"三相平均电流", nullptr}}},
      {"kvrm4410t_active_power_watts", "Active power of a phase.", MetricType::gauge, "phase", kWatts,
       {{"A相有功总功率", "a"}, {"B相有功总功率", "b"}, {"C相有功总功率", "c"}}},
      {"kvrm4410t_three_phase_active_power_watts", "Active power of the three phases.", MetricType::gauge, nullptr,
       kWatts, {{"有功总功率", nullptr}}},
      {"kvrm4410t_reactive_power_vars", "Reactive power of a phase.", MetricType::gauge, "phase", kWatts,
       {{"A相无功总功率", "a"}, {"B相无功总功率", "b"}, {"C相无功总功率", "c"}}},
      {"kvrm4410t_three_phase_reactive_power_vars", "Reactive power of the three phases.", MetricType::gauge,
       nullptr, kWatts, {{"无功总功率", nullptr}}},
      {"kvrm4410t_apparent_power_voltamperes", "Apparent power of a phase.", MetricType::gauge, "phase", kWatts,
       {{"A相视在功率", "a"}, {"B相视在功率", "b"}, {"C相视在功率", "c"}}},
      {"kvrm4410t_three_phase_apparent_power_voltamperes", "Apparent power of the three phases.",
       MetricType::gauge, nullptr, kWatts, {{"总视在功率", nullptr}}},
      {"kvrm4410t_power_factor_ratio", "Power factor of a phase.", MetricType::gauge, "phase", 1.0,
       {{"A相功率因数", "a"}, {"B相功率因数", "b"}, {"C相功率因数", "c"}}},
      {"kvrm4410t_three_phase_power_factor_ratio", "Power factor of the three phases.", MetricType::gauge, nullptr,
       1.0, {{"总功率因数", nullptr}}},
      {"kvrm4410t_phase_angle_degrees", "Angle between a phase's voltage and current.", MetricType::gauge, "phase",
       1.0, {{"A相相角", "a"}, {"B相相角", "b"}, {"C相相角", "c"}}},
      {"kvrm4410t_grid_frequency_hertz", "Grid frequency.", MetricType::gauge, nullptr, 1.0, {{"电网频率", nullptr}}},
      {"kvrm4410t_active_energy_import_joules_total", "Forward (imported) active energy.", MetricType::counter,
       nullptr, kJoulesPerKwh, {{"正向有功总电能", nullptr}}},
      {"kvrm4410t_active_energy_export_joules_total", "Reverse (exported) active energy.", MetricType::counter,
       nullptr, kJoulesPerKwh, {{"反向有功总电能", nullptr}}},
      {"kvrm4410t_active_energy_combined_joules", "Combined active energy, as the meter combines it.",
       MetricType::gauge, nullptr, kJoulesPerKwh, {{"组合有功总电能", nullptr}}},
      {"kvrm4410t_reactive_energy_varhours_total", "Reactive energy by quadrant.", MetricType::counter, "quadrant",
       kVarHours,
       {{"一象限无功总电能", "1"}, {"二象限无功总电能", "2"}, {"三象限无功总电能", "3"}, {"四象限无功总电能", "4"}}},
      {"kvrm4410t_apparent_energy_import_voltamperehours_total", "Forward apparent energy.", MetricType::counter,
       nullptr, kVarHours, {{"正向视在总电能", nullptr}}},
      {"kvrm4410t_apparent_energy_export_voltamperehours_total", "Reverse apparent energy.", MetricType::counter,
       nullptr, kVarHours, {{"反向视在总电能", nullptr}}},
  };
  return table;
}

std::string number_text(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string meter_labels(const MeterState& m) {
  return "data_id=\"" + std::to_string(m.info.dataId) + "\",slave=\"" + std::to_string(m.info.slave) + "\"";
}

// A member's value in the block; NaN for an unknown member.
double member_value(const MeterState& m, const char* member) {
  const kvrm::SignalRow* row = readings::catalogue_row(member);
  if (!row || m.block.size() < kvrm::kBlockSize) return std::nan("");
  return kvrm::signal_value(m.block.data(), *row);
}

Json::Value json_number(double v) { return std::isfinite(v) ? Json::Value(v) : Json::Value(Json::nullValue); }

Json::Value alarms_json(const MeterState& m) {
  Json::Value a(Json::arrayValue);
  for (const auto& e : m.alarms) {
    Json::Value x;
    x["alarmId"] = e.alarmId;
    x["signal"] = e.signal;
    x["level"] = e.level;
    x["value"] = e.valueText;
    x["text"] = e.alarmText;
    a.append(x);
  }
  return a;
}

Json::Value state_json(const MeterState& m) {
  Json::Value s;
  s["dataId"] = m.info.dataId;
  s["slave"] = m.info.slave;
  s["name"] = m.info.name;
  s["state"] = m.online ? "online" : "offline";
  if (!m.online && m.since) s["offlineSince"] = iso_local_time(m.since);
  if (m.round) {
    s["round"] = m.round;
    s["time"] = iso_local_time(m.time);
    s["tookMs"] = static_cast<Json::Int64>(m.tookMs);
  }
  const MeterHealth& h = m.health;
  Json::Value line;
  line["roundsCompleted"] = static_cast<Json::UInt64>(h.roundsCompleted);
  line["roundsAbandoned"] = static_cast<Json::UInt64>(h.roundsAbandoned);
  line["requests"] = static_cast<Json::UInt64>(h.requests);
  line["timeouts"] = static_cast<Json::UInt64>(h.timeouts);
  line["crcErrors"] = static_cast<Json::UInt64>(h.crcErrors);
  line["exceptions"] = static_cast<Json::UInt64>(h.exceptions);
  line["wrongReplies"] = static_cast<Json::UInt64>(h.wrongReplies);
  s["line"] = line;
  s["alarms"] = alarms_json(m);
  return s;
}

}  // namespace

const MeterState* SiteState::find(std::uint32_t dataId) const {
  for (const MeterState& m : meters)
    if (m.info.dataId == dataId) return &m;
  return nullptr;
}

std::string iso_local_time(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &tm);
  std::string s(text);
  // +0800 -> +08:00
  if (s.size() >= 5) s.insert(s.size() - 2, ":");
  return s;
}

std::string json_text(const Json::Value& v) {
  Json::StreamWriterBuilder b;
  b["indentation"] = "";
  b["emitUTF8"] = true;
  return Json::writeString(b, v);
}

Json::Value site_json(const SiteState& site, const std::string& version) {
  Json::Value r;
  r["version"] = version;
  r["line"] = site.line;
  r["meters"] = Json::Value(Json::arrayValue);
  for (const MeterState& m : site.meters) r["meters"].append(state_json(m));
  return r;
}

Json::Value meter_json(const MeterState& m) {
  Json::Value r = state_json(m);
  Json::Value values(Json::objectValue), units(Json::objectValue);
  if (m.round && m.block.size() >= kvrm::kBlockSize) {
    for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue) {
      if (row.decoding == kvrm::Decoding::Time) continue;
      values[row.name] = json_number(kvrm::signal_value(m.block.data(), row));
      if (auto unit = readings::unit_of(row.name)) units[row.name] = *unit;
    }
  }
  r["values"] = values;
  r["units"] = units;
  return r;
}

Json::Value page_json(const SiteState& site, const std::string& version) {
  Json::Value r = site_json(site, version);
  for (Json::ArrayIndex i = 0; i < r["meters"].size(); ++i) {
    const MeterState& m = site.meters[i];
    Json::Value groups(Json::arrayValue);
    for (const readings::DisplayGroup& g : readings::display_groups()) {
      Json::Value group;
      group["title"] = g.title;
      group["rows"] = Json::Value(Json::arrayValue);
      for (std::size_t k = 0; k < g.count; ++k) {
        const kvrm::SignalRow* row = readings::catalogue_row(g.rows[k].name);
        Json::Value x;
        x["label"] = g.rows[k].label;
        x["member"] = g.rows[k].name;
        x["unit"] = readings::unit_of(g.rows[k].name).value_or("");
        x["value"] = m.round && row ? readings::fixed_text(member_value(m, g.rows[k].name), readings::decimals_of(*row))
                                    : std::string("–");
        group["rows"].append(x);
      }
      groups.append(group);
    }
    r["meters"][i]["groups"] = groups;
  }
  return r;
}

std::string metrics_text(const SiteState& site) {
  std::ostringstream out;
  auto family = [&](const char* name, const char* help, MetricType type) {
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' '
        << (type == MetricType::counter ? "counter" : "gauge") << '\n';
  };
  family("kvrm4410t_meter_up", "1 while the meter answers its rounds, 0 while it is offline.", MetricType::gauge);
  for (const MeterState& m : site.meters) out << "kvrm4410t_meter_up{" << meter_labels(m) << "} " << (m.online ? 1 : 0) << '\n';
  family("kvrm4410t_meter_last_round_timestamp_seconds", "Time of the newest completed round (Unix time).",
         MetricType::gauge);
  for (const MeterState& m : site.meters)
    if (m.round) out << "kvrm4410t_meter_last_round_timestamp_seconds{" << meter_labels(m) << "} " << m.time << '\n';
  family("kvrm4410t_rounds_total", "Rounds ended, by result.", MetricType::counter);
  for (const MeterState& m : site.meters) {
    out << "kvrm4410t_rounds_total{" << meter_labels(m) << ",result=\"completed\"} " << m.health.roundsCompleted << '\n';
    out << "kvrm4410t_rounds_total{" << meter_labels(m) << ",result=\"abandoned\"} " << m.health.roundsAbandoned << '\n';
  }
  const std::pair<const char*, std::uint64_t MeterHealth::*> counters[] = {
      {"kvrm4410t_requests_total", &MeterHealth::requests},
      {"kvrm4410t_request_timeouts_total", &MeterHealth::timeouts},
      {"kvrm4410t_crc_errors_total", &MeterHealth::crcErrors},
      {"kvrm4410t_exception_replies_total", &MeterHealth::exceptions},
      {"kvrm4410t_wrong_replies_total", &MeterHealth::wrongReplies},
  };
  for (const auto& [name, field] : counters) {
    family(name, "Modbus requests to the meter and how they failed.", MetricType::counter);
    for (const MeterState& m : site.meters) out << name << '{' << meter_labels(m) << "} " << m.health.*field << '\n';
  }
  family("kvrm4410t_alarms_in_force", "Alarms raised and not cleared.", MetricType::gauge);
  for (const MeterState& m : site.meters)
    out << "kvrm4410t_alarms_in_force{" << meter_labels(m) << "} " << m.alarms.size() << '\n';
  for (const MetricFamily& f : families()) {
    family(f.name, f.help, f.type);
    // An offline meter keeps its last values; their age is
    // kvrm4410t_meter_last_round_timestamp_seconds. No sample timestamps:
    // Prometheus refuses samples older than its head block.
    for (const MeterState& m : site.meters) {
      if (!m.round) continue;
      for (const MetricRow& row : f.rows) {
        out << f.name << '{' << meter_labels(m);
        if (row.labelValue) out << ',' << f.label << "=\"" << row.labelValue << '"';
        out << "} " << number_text(member_value(m, row.member) * f.scale) << '\n';
      }
    }
  }
  return out.str();
}

}  // namespace web
