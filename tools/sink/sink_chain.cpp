#include "sink_chain.h"

#include <exception>

namespace meter_host {

void SinkChain::add(std::shared_ptr<RoundSink> sink) {
  if (!sink) return;
  auto entry = std::make_unique<Entry>();
  entry->sink = std::move(sink);
  sinks_.push_back(std::move(entry));
}

const std::string* CompletedRound::snapshot(std::string* error) const {
  if (!read_ && readSnapshot) snapshot_ = readSnapshot(&snapshotError_);
  read_ = true;
  if (!snapshot_ && error) *error = snapshotError_.empty() ? "no snapshot" : snapshotError_;
  return snapshot_ ? &*snapshot_ : nullptr;
}

template <typename Call>
void SinkChain::each(Call&& call) {
  for (auto& e : sinks_) {
    try {
      call(*e->sink);
    } catch (const std::exception& ex) {
      if (!e->failed.exchange(true) && log_) log_(std::string(e->sink->sink_name()) + ": " + ex.what());
    }
  }
}

void SinkChain::started(const std::vector<MeterInfo>& m) {
  each([&](RoundSink& s) { s.started(m); });
}
void SinkChain::meters_changed(const std::vector<MeterInfo>& m) {
  each([&](RoundSink& s) { s.meters_changed(m); });
}
void SinkChain::round_completed(const CompletedRound& r) {
  each([&](RoundSink& s) { s.round_completed(r); });
}
void SinkChain::round_abandoned(const AbandonedRound& r) {
  each([&](RoundSink& s) { s.round_abandoned(r); });
}
void SinkChain::alarm_changed(const AlarmChange& c) {
  each([&](RoundSink& s) { s.alarm_changed(c); });
}
void SinkChain::availability_changed(const Availability& a) {
  each([&](RoundSink& s) { s.availability_changed(a); });
}
void SinkChain::line_changed(const LineChange& c) {
  each([&](RoundSink& s) { s.line_changed(c); });
}
void SinkChain::cycle_ended(const CycleEnd& c) {
  each([&](RoundSink& s) { s.cycle_ended(c); });
}
void SinkChain::pausing(std::chrono::steady_clock::time_point until) {
  each([&](RoundSink& s) { s.pausing(until); });
}
void SinkChain::stopped(const RunEnd& e) {
  each([&](RoundSink& s) { s.stopped(e); });
}

}  // namespace meter_host
