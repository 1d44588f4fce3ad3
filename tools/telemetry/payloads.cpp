#include "payloads.h"

#include <cmath>

#include <json/value.h>
#include <json/writer.h>

#include "member_keys.h"
#include "publication/signal_value.h"
#include "signal_display.h"

namespace telemetry {

namespace {

// Compact, UTF-8 as it is, numbers to four places at most (no member has
// a finer resolution) without trailing zeros.
std::string compact(const Json::Value& v) {
  Json::StreamWriterBuilder b;
  b["indentation"] = "";
  b["emitUTF8"] = true;
  b["precision"] = 4;
  b["precisionType"] = "decimal";
  return Json::writeString(b, v);
}

Json::Value value_at_resolution(double v, int decimals) {
  if (!std::isfinite(v)) return Json::Value(Json::nullValue);
  const double scale = std::pow(10.0, decimals);
  const double rounded = std::round(v * scale) / scale;
  // A whole number without its ".0": most energies of a quiet tariff are 0.
  if (std::fabs(rounded) < 1e15 && rounded == std::trunc(rounded)) return Json::Value(static_cast<Json::Int64>(rounded));
  return Json::Value(rounded);
}

std::string topic(std::uint32_t dataId, const char* leaf) { return std::to_string(dataId) + "/" + leaf; }

hist::OutboxMessage message(std::uint32_t dataId, const char* kind, std::int64_t time, const char* leaf,
                            std::string body) {
  hist::OutboxMessage m;
  m.dataId = dataId;
  m.kind = kind;
  m.time = time;
  m.topic = topic(dataId, leaf);
  m.body = std::move(body);
  return m;
}

}  // namespace

std::string iso_time(std::time_t time) {
  std::tm tm{};
  localtime_r(&time, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  std::string out = text;
  long offset = tm.tm_gmtoff;
  if (offset == 0) return out + "Z";
  const char sign = offset < 0 ? '-' : '+';
  offset = std::labs(offset) / 60;
  std::snprintf(text, sizeof text, "%c%02ld:%02ld", sign, offset / 60, offset % 60);
  return out + text;
}

hist::OutboxMessage state_message(std::uint32_t dataId, unsigned round, std::time_t time, const unsigned char* block) {
  Json::Value body(Json::objectValue);
  body["time"] = iso_time(time);
  body["round"] = round;
  Json::Value& values = body["values"] = Json::Value(Json::objectValue);
  const auto& keys = readings::member_keys();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const kvrm::SignalRow& row = kvrm::kSignalCatalogue[i];
    values[keys[i].key] = value_at_resolution(kvrm::signal_value(block, row), readings::decimals_of(row));
  }
  return message(dataId, "state", time, "state", compact(body));
}

hist::OutboxMessage alarm_message(const meter_host::AlarmChange& c) {
  Json::Value body(Json::objectValue);
  body["time"] = iso_time(c.time);
  body["alarmId"] = c.event.alarmId;
  body["signal"] = c.event.signal;
  body["level"] = c.event.level;
  body["state"] = c.event.raised ? "raised" : "cleared";
  body["value"] = c.event.valueText;
  body["text"] = c.event.alarmText;
  return message(c.meter.dataId, "alarm", c.time, "alarm", compact(body));
}

hist::OutboxMessage availability_event(const meter_host::Availability& a) {
  Json::Value body(Json::objectValue);
  body["time"] = iso_time(a.since);
  body["state"] = a.online ? "online" : "offline";
  return message(a.meter.dataId, "availability", a.since, "availability", compact(body));
}

hist::OutboxMessage availability_retained(const meter_host::Availability& a) {
  hist::OutboxMessage m = message(a.meter.dataId, "availability", a.since, "availability", a.online ? "online" : "offline");
  m.counted = false;
  m.retain = true;
  return m;
}

hist::OutboxMessage gap_message(const hist::DroppedRun& run, std::int64_t now) {
  Json::Value body(Json::objectValue);
  body["from"] = static_cast<Json::Int64>(run.from);
  body["to"] = static_cast<Json::Int64>(run.to);
  body["reason"] = run.reason;
  return message(run.dataId, "gap", now, "gap", compact(body));
}

hist::OutboxMessage meta_message(std::uint32_t dataId, std::int64_t now) {
  Json::Value body(Json::objectValue);
  for (const readings::MemberKey& k : readings::member_keys()) {
    Json::Value& m = body[k.key];
    m["name"] = k.name;
    m["label"] = k.label;
    m["unit"] = readings::unit_of(k.name).value_or("");
  }
  hist::OutboxMessage m = message(dataId, "meta", now, "meta", compact(body));
  m.counted = false;
  m.retain = true;
  return m;
}

}  // namespace telemetry
