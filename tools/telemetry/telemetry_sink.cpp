#include "telemetry_sink.h"

#include <ctime>

#include "acquisition/data_block.h"
#include "payloads.h"

namespace telemetry {

namespace {

std::int64_t wall_clock() { return static_cast<std::int64_t>(std::time(nullptr)); }

// What a clean stop waits at most for the broker to take what is left.
constexpr std::chrono::seconds kDrainAtStop{5};

}  // namespace

TelemetrySink::TelemetrySink(std::shared_ptr<hist::HistoryStore> store, std::shared_ptr<hist::HistorySink> history,
                             const TelemetryOptions& options, LogLine log)
    : store_(std::move(store)), history_(std::move(history)), options_(options), every_(options.everySeconds) {
  hist::OutboxLimits limits;
  limits.maxBytes = static_cast<std::int64_t>(options.outboxMaxMb * 1024 * 1024);
  limits.maxDays = options.outboxMaxDays;
  limits.gapMessage = &gap_message;
  store_->set_outbox_limits(std::move(limits));
  link_ = std::make_unique<MqttLink>(
      store_, options_, [history = history_](const std::vector<std::int64_t>& rows) { history->sent(rows); },
      std::move(log));
}

TelemetrySink::~TelemetrySink() { link_->stop(); }

void TelemetrySink::describe(const std::vector<meter_host::MeterInfo>& meters) {
  for (const meter_host::MeterInfo& m : meters) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!described_.insert(m.dataId).second) continue;
    }
    history_->queue(meta_message(m.dataId, wall_clock()));
  }
}

void TelemetrySink::started(const std::vector<meter_host::MeterInfo>& meters) { describe(meters); }

void TelemetrySink::meters_changed(const std::vector<meter_host::MeterInfo>& meters) { describe(meters); }

void TelemetrySink::round_completed(const meter_host::CompletedRound& r) {
  if (r.block.size() != kvrm::kBlockSize) return;
  const auto now = Clock::now();
  bool firstRound = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    firstRound = announced_.insert(r.meter.dataId).second;
  }
  // A meter online from the start has no change to tell: its first round
  // sets the retained state.
  if (firstRound) {
    meter_host::Availability online;
    online.meter = r.meter;
    online.online = true;
    online.since = r.time;
    history_->queue(availability_retained(online));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto last = lastState_.find(r.meter.dataId);
    if (last != lastState_.end() && now - last->second < every_) return;
    lastState_[r.meter.dataId] = now;
  }
  history_->queue(state_message(r.meter.dataId, r.round, r.time, r.block.data()));
}

void TelemetrySink::alarm_changed(const meter_host::AlarmChange& c) { history_->queue(alarm_message(c)); }

void TelemetrySink::availability_changed(const meter_host::Availability& a) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    announced_.insert(a.meter.dataId);
  }
  history_->queue(availability_event(a));
  history_->queue(availability_retained(a));
}

void TelemetrySink::stopped(const meter_host::RunEnd&) {
  // The last rounds' messages are committed and, with the broker in
  // reach, sent before the link ends; the history's last commit, after
  // this, deletes what the broker took.
  history_->flush();
  link_->drain(kDrainAtStop);
  link_->stop();
}

std::string TelemetrySink::oldest_text(const hist::OutboxFigures& f) {
  if (!f.oldest) return "";
  const std::int64_t age = std::max<std::int64_t>(0, wall_clock() - *f.oldest);
  return " (oldest " + std::to_string(age) + " s)";
}

std::string TelemetrySink::status_text() const {
  const hist::OutboxFigures f = store_->outbox_figures();
  return std::string(link_->connected() ? "mqtt connected" : "mqtt down") + ", outbox " +
         std::to_string(f.messages) + oldest_text(f) + ", " + std::to_string(link_->messages_sent()) + " sent, " +
         std::to_string(f.dropped) + " dropped";
}

std::string TelemetrySink::stats_line() const {
  const hist::OutboxFigures f = store_->outbox_figures();
  return "mqtt: " + link_->state_text() + "; outbox " + std::to_string(f.messages) +
         (f.messages == 1 ? " message" : " messages") + oldest_text(f) +
         ", " + std::to_string(f.bytes) + " bytes; " + std::to_string(link_->messages_sent()) + " sent (" +
         std::to_string(link_->bytes_sent()) + " bytes), " + std::to_string(f.dropped) + " dropped";
}

}  // namespace telemetry
