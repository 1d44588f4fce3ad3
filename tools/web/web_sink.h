#pragma once
// The web view's sink: keeps a copy of every meter's newest round and
// state, and publishes a fresh immutable copy of the site after each
// change. The round's thread only copies; the server renders.
#include <functional>
#include <mutex>

#include "round_sink.h"
#include "site_state.h"

namespace web {

class WebSink : public meter_host::RoundSink {
public:
  // Fills in the line's counters, on the round's thread, before each copy.
  using Health = std::function<void(SiteState&)>;
  explicit WebSink(Health health = {}) : health_(std::move(health)) {}

  const char* sink_name() const override { return "web"; }
  void started(const std::vector<meter_host::MeterInfo>& meters) override;
  void meters_changed(const std::vector<meter_host::MeterInfo>& meters) override;
  void round_completed(const meter_host::CompletedRound& r) override;
  void availability_changed(const meter_host::Availability& a) override;
  void cycle_ended(const meter_host::CycleEnd&) override { publish(); }

  // The newest copy; any thread.
  SiteSnapshot current() const;
  // Called after each new copy (from the round's thread): must not block.
  void on_change(std::function<void()> wake);

private:
  MeterState* meter(std::size_t index);
  void publish();

  Health health_;
  mutable std::mutex mutex_;
  SiteState state_;
  SiteSnapshot published_ = std::make_shared<SiteState>();
  std::function<void()> wake_;
};

}  // namespace web
