#include "log_sink.h"

namespace meter_host {

namespace {

std::string round_text(unsigned round) { return "round " + std::to_string(round); }

}  // namespace

void LogSink::round_completed(const CompletedRound& r) {
  log_.line(label(r.meter) + round_text(r.round) + " completed in " + std::to_string(r.took.count()) + " ms");
}

void LogSink::round_abandoned(const AbandonedRound& r) {
  if (r.stopped)
    log_.line(label(r.meter) + round_text(r.round) + " stopped before it completed: not stored");
  else if (offline_.count(r.meter.index))
    log_.detail(label(r.meter) + round_text(r.round) + " abandoned: " + r.why);
  else
    log_.line(label(r.meter) + round_text(r.round) + " abandoned: " + r.why);
}

void LogSink::alarm_changed(const AlarmChange& c) {
  const AlarmEvent& e = c.event;
  log_.line(label(c.meter) + "alarm " + (e.raised ? "raised: " : "cleared: ") + e.alarmId + " " + e.signal + " = " +
            e.valueText);
}

void LogSink::availability_changed(const Availability& a) {
  if (a.online) {
    offline_.erase(a.meter.index);
    log_.line(a.meter.name + " back online");
  } else {
    offline_.insert(a.meter.index);
    log_.warning(a.meter.name + " offline: its failed rounds are not logged until it answers again");
  }
  if (quiet_) quiet_(a.meter.index, !a.online);
}

void LogSink::line_changed(const LineChange& c) {
  if (c.lost)
    log_.warning(label(c.meter) + round_text(c.round) + " not counted (" + c.why +
              "): it starts again once the line is back");
}

}  // namespace meter_host
