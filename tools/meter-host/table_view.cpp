#include "table_view.h"

#include <memory>

#include <json/reader.h>

#include "reading_table.h"

namespace meter_host {

namespace {

constexpr const char* kHomeAndClear = "\x1b[H\x1b[J";

}  // namespace

void TableView::show(std::uint32_t dataId, unsigned round, long long durationMs, const std::string& snapshotText,
                     const std::vector<AlarmEvent>& alarms) {
  readings::RoundReading r;
  r.dataId = dataId;
  r.round = round;
  r.durationMs = durationMs;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(snapshotText.data(), snapshotText.data() + snapshotText.size(), &r.snapshot, &errors))
    r.snapshot = Json::Value();
  for (const AlarmEvent& a : alarms)
    r.alarms.push_back(readings::AlarmInForce{a.alarmId, a.signal, a.level, a.valueText, a.alarmText});
  const std::string table = readings::render_reading(r);
  out_.line(terminal_ ? kHomeAndClear + table : table + "\n");
}

}  // namespace meter_host
