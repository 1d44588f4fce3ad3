#include "history_sink.h"

#include "command_line.h"
#include "host_options.h"

namespace meter_host {

HistorySink::HistorySink(History& history, Log& log) : history_(history), log_(log) {
  thread_ = std::thread([this] { run(); });
}

HistorySink::~HistorySink() { finish(); }

void HistorySink::round_completed(const CompletedRound& r) {
  if (r.block.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.emplace_back(Round{r.meter.dataId, r.time, r.block});
  cv_.notify_one();
}

void HistorySink::alarm_changed(const AlarmChange& c) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.emplace_back(c);
  cv_.notify_one();
}

void HistorySink::stopped(const RunEnd&) { finish(); }

void HistorySink::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    cv_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
}

void HistorySink::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cv_.wait(lock, [this] { return done_ || !queue_.empty(); });
    if (queue_.empty()) return;
    const Item item = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    store(item);
    lock.lock();
  }
}

void HistorySink::store(const Item& item) {
  std::string error;
  bool ok = true;
  if (const auto* r = std::get_if<Round>(&item)) {
    ok = history_.store(r->dataId, r->block.data(), r->block.size(), &error, r->time);
    if (ok) log_.detail("history record of " + std::to_string(r->block.size()) + " bytes");
    if (!ok) ++failures_;
  } else {
    const auto& c = std::get<AlarmChange>(item);
    ok = history_.record_alarm(c.event, &error, c.time);
  }
  if (!ok) log_.line(error);
}

void add_history_options(CLI::App& app, HostOptions& o, const std::string& group) {
  app.add_option("--history", o.history,
                 "SQLite database of history records and alarms; the newest\nrecord of each meter is loaded at start-up")
      ->type_name("FILE")
      ->group(group);
}

}  // namespace meter_host
