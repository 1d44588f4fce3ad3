#include "web_sink.h"

namespace web {

void WebSink::started(const std::vector<meter_host::MeterInfo>& meters) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.meters.clear();
    for (const auto& info : meters) {
      MeterState m;
      m.info = info;
      state_.meters.push_back(m);
    }
  }
  publish();
}

MeterState* WebSink::meter(std::size_t index) {
  for (MeterState& m : state_.meters)
    if (m.info.index == index) return &m;
  return nullptr;
}

void WebSink::meters_changed(const std::vector<meter_host::MeterInfo>& meters) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<MeterState> now;
    for (const auto& info : meters) {
      const MeterState* kept = meter(info.index);
      MeterState m = kept ? *kept : MeterState();
      m.info = info;
      now.push_back(std::move(m));
    }
    state_.meters = std::move(now);
  }
  publish();
}

void WebSink::round_completed(const meter_host::CompletedRound& r) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    MeterState* m = meter(r.meter.index);
    if (!m) return;
    m->round = r.round;
    m->time = r.time;
    m->tookMs = r.took.count();
    m->block = r.block;
    m->alarms = r.alarmsInForce;
  }
  publish();
}

void WebSink::availability_changed(const meter_host::Availability& a) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    MeterState* m = meter(a.meter.index);
    if (!m) return;
    m->online = a.online;
    m->since = a.online ? 0 : a.since;
  }
  publish();
}

void WebSink::publish() {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (health_) health_(state_);
    ++state_.version;
    published_ = std::make_shared<const SiteState>(state_);
    wake = wake_;
  }
  if (wake) wake();
}

SiteSnapshot WebSink::current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return published_;
}

void WebSink::on_change(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  wake_ = std::move(wake);
}

}  // namespace web
