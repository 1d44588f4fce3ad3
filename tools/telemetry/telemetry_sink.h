#pragma once
// Telemetry as a sink of the session: each meter's newest round every
// `everySeconds`, every alarm raised or cleared, every meter going offline
// or back, and each meter's meta at the start, made into messages on the
// caller's thread (small, and only every so often) and handed to the
// history, whose next commit stores them in the outbox with the round.
// The link sends the outbox from its own thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "history_sink.h"
#include "history_store.h"
#include "mqtt_link.h"
#include "round_sink.h"
#include "telemetry_options.h"

namespace telemetry {

class TelemetrySink : public meter_host::RoundSink {
public:
  using LogLine = MqttLink::LogLine;
  using Clock = std::chrono::steady_clock;

  // `store` is open and `history` stores into it; the link starts here.
  TelemetrySink(std::shared_ptr<hist::HistoryStore> store, std::shared_ptr<hist::HistorySink> history,
                const TelemetryOptions& options, LogLine log);
  ~TelemetrySink() override;

  const char* sink_name() const override { return "telemetry"; }
  void started(const std::vector<meter_host::MeterInfo>& meters) override;
  void meters_changed(const std::vector<meter_host::MeterInfo>& meters) override;
  void round_completed(const meter_host::CompletedRound& r) override;
  void alarm_changed(const meter_host::AlarmChange& c) override;
  void availability_changed(const meter_host::Availability& a) override;
  // After the history's last commit: the link says goodbye and ends.
  void stopped(const meter_host::RunEnd& end) override;

  // "mqtt connected, outbox 3 (oldest 12 s), 120 sent, 0 dropped": for
  // the service's status line.
  std::string status_text() const;
  // The statistics' line: the broker, the outbox's depth and oldest
  // message, messages sent and dropped.
  std::string stats_line() const;
  const MqttLink& link() const { return *link_; }

private:
  void describe(const std::vector<meter_host::MeterInfo>& meters);
  static std::string oldest_text(const hist::OutboxFigures& f);

  std::shared_ptr<hist::HistoryStore> store_;
  std::shared_ptr<hist::HistorySink> history_;
  TelemetryOptions options_;
  std::chrono::duration<double> every_;

  std::mutex mutex_;
  std::map<std::uint32_t, Clock::time_point> lastState_;
  std::set<std::uint32_t> described_;
  std::set<std::uint32_t> announced_;  // the retained availability set
  std::unique_ptr<MqttLink> link_;
};

}  // namespace telemetry
